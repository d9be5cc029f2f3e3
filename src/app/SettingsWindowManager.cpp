#include "app/SettingsWindowManager.h"

#include <QCoreApplication>
#include <QUrl>

#include "app/AudioSettings.h"
#include "app/CleanupManager.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "reference/ReferenceTrackManager.h"

namespace korvanta {

namespace {

const QUrl kContent(QStringLiteral("qrc:/Korvanta/panels/SettingsView.qml"));

}  // namespace

SettingsWindowManager* SettingsWindowManager::shared() {
    static auto* instance = new SettingsWindowManager(sharedPreferences());
    return instance;
}

SettingsWindowManager::SettingsWindowManager(Preferences& store, QObject* parent)
    : QObject(parent), store_(store) {
    NotificationCenter::shared()->addObserver(
        notifications::kApplicationWillTerminate, [this] { closeSettings(); }, this);
}

SettingsWindowManager::~SettingsWindowManager() = default;

void SettingsWindowManager::setIsVisible(bool value) {
    if (value == isVisible_) return;
    isVisible_ = value;
    emit isVisibleChanged();
}

PanelFrame SettingsWindowManager::restoredFrame(const std::optional<PanelFrame>& stored,
                                                const PanelFrame& screen, const PanelFrame& current) {
    if (stored && !stored->isZero()) {
        PanelFrame f = *stored;
        f.width = std::max(f.width, double(kMinimumWidth));
        f.height = std::max(f.height, double(kMinimumHeight));
        return f;
    }
    PanelFrame f = current;
    f.x = screen.x + (screen.width - current.width) / 2.0;
    f.y = screen.y + (screen.height - current.height) / 2.0;
    return f;
}

void SettingsWindowManager::showSettings(AudioSettingsManager* settingsManager, bool isFromResultsView,
                                         bool hasImportedFiles, BatchProcessor* batchProcessor,
                                         std::function<void()> onRemasterAction) {
    if (settingsPanel_ && settingsPanel_->isVisible()) {
        settingsPanel_->bringToFront();
        return;
    }
    settingsManager_ = settingsManager;
    batchProcessor_ = batchProcessor;
    isFromResultsView_ = isFromResultsView;
    hasImportedFiles_ = hasImportedFiles;
    onRemasterAction_ = std::move(onRemasterAction);
    emit contextChanged();

    settingsPanel_ = PanelFactory::shared().createPanel(
        PanelOptions{QStringLiteral("Settings"), QStringLiteral("SettingsPanel"), QSize(400, 400),
                     QSize(kMinimumWidth, kMinimumHeight)});
    FloatingPanel* panel = settingsPanel_.get();
    if (viewModel_) viewModel_->deleteLater();
    viewModel_ = new SettingsViewModel(settingsManager, batchProcessor, store_, this);
    panel->setContent(kContent, {{QStringLiteral("manager"), QVariant::fromValue<QObject*>(this)},
                                 {QStringLiteral("model"), QVariant::fromValue<QObject*>(viewModel_.data())}});

    std::optional<PanelFrame> stored;
    if (auto bytes = store_.bytesValue(keys::kSettingsWindowPosition)) {
        stored = panelFrameFromString(std::string(bytes->begin(), bytes->end()));
    }
    panel->setFrame(restoredFrame(stored, PanelFactory::shared().mainScreenVisibleFrame(), panel->frame()));

    connect(panel, &FloatingPanel::moved, this, &SettingsWindowManager::saveFrame);
    connect(panel, &FloatingPanel::resized, this, &SettingsWindowManager::saveFrame);
    connect(panel, &FloatingPanel::userWillClose, this, [this] {
        saveFrame();
        panelClosed();
    });
    panel->bringToFront();
    setIsVisible(true);
}

void SettingsWindowManager::saveFrame() {
    if (!settingsPanel_) return;
    const std::string text = panelFrameToString(settingsPanel_->frame());
    store_.setBytes(keys::kSettingsWindowPosition, Bytes(text.begin(), text.end()));
}

void SettingsWindowManager::panelClosed() {
    // The panel object is released later: this may run inside one of its own signals.
    if (settingsPanel_) settingsPanel_.release()->deleteLater();
    if (viewModel_) viewModel_->deleteLater();
    setIsVisible(false);
    NotificationCenter::shared()->post(notifications::kSettingsWindowClosed);
}

void SettingsWindowManager::closeSettings() {
    if (!settingsPanel_) return;
    saveFrame();
    settingsPanel_->close();
    panelClosed();
}

void SettingsWindowManager::remaster() {
    auto action = onRemasterAction_;
    closeSettings();
    if (action) action();
}

void SettingsWindowManager::cleanAllData() {
    CleanupManager::cleanupTempFilesInBackground(false);
    resetPreferences(store_);
    ReferenceTrackManager::shared()->clearReference();
    closeSettings();
    NotificationCenter::shared()->post(notifications::kResetApplicationToDefaults);
    emit dataCleaned();
}

QByteArray SettingsWindowManager::storedArtwork() const {
    auto bytes = store_.bytesValue(keys::kGlobalArtworkData);
    if (!bytes) return {};
    return QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size()));
}

}  // namespace korvanta

#include "analysis/VectorscopeManager.h"

#include <algorithm>

#include "platform/DelayScheduler.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"

namespace korvanta {

namespace {

const QUrl kContent(QStringLiteral("qrc:/Korvanta/vectorscope/VectorscopeView.qml"));

}  // namespace

VectorscopeManager* VectorscopeManager::shared() {
    static auto* instance = new VectorscopeManager(sharedPreferences());
    return instance;
}

VectorscopeManager::VectorscopeManager(Preferences& store, QObject* parent) : QObject(parent), store_(store) {
    isVisible_ = store_.boolValue(keys::kShowVectorscope).value_or(false);
    isPinned_ = isVisible_;
    auto* center = NotificationCenter::shared();
    center->addObserver(notifications::kApplicationWillTerminate, [this] { closeVectorscope(); }, this);
    center->addObserver(notifications::kThemeDidChange, [this] {
        if (panel_) setContent();
    }, this);
}

VectorscopeManager::~VectorscopeManager() = default;

void VectorscopeManager::setIsVisible(bool value) {
    if (isVisible_ == value) return;
    isVisible_ = value;
    emit isVisibleChanged();
}

void VectorscopeManager::setIsPinned(bool value) {
    if (isPinned_ == value) return;
    isPinned_ = value;
    emit isPinnedChanged();
}

bool VectorscopeManager::panelIsVisible() const { return panel_ && panel_->isVisible(); }

void VectorscopeManager::storeShown(bool value) { store_.setBool(keys::kShowVectorscope, value); }

void VectorscopeManager::dropAnalyzer() {
    if (!currentAnalyzer_) return;
    currentAnalyzer_->stop();
    currentAnalyzer_->deleteLater();
    currentAnalyzer_ = nullptr;
    emit currentAnalyzerChanged();
}

void VectorscopeManager::openVectorscope() {
    setIsPinned(true);
    const auto* tap = dynamic_cast<const PlaybackTap*>(currentPlayer.data());
    if (currentPlayer && currentURL.isValid() && tap && tap->isPlayingNow()) {
        dropAnalyzer();
        if (panelIsVisible()) {
            updateVectorscope(currentPlayer, currentURL, currentIsOriginal, currentTitle);
        } else {
            showVectorscope(currentPlayer, currentURL, currentIsOriginal, currentTitle);
        }
        setIsVisible(true);
        storeShown(true);
        return;
    }
    if (!panelIsVisible()) showEmptyVectorscope();
    setIsVisible(true);
    storeShown(true);
    runAfter(0.1, this, [] { NotificationCenter::shared()->post(notifications::kRequestCurrentPlayback); });
}

void VectorscopeManager::ensurePanel() {
    if (panel_) {
        panel_->setTitle(QString::fromLatin1(kTitle));
        return;
    }
    panel_ = PanelFactory::shared().createPanel(PanelOptions{QString::fromLatin1(kTitle), QStringLiteral("VectorscopePanel"),
                                                             QSize(kWidth, kHeight), QSize(kWidth, kHeight)});
    FloatingPanel* panel = panel_.get();
    connect(panel, &FloatingPanel::moved, this, &VectorscopeManager::saveFrame);
    connect(panel, &FloatingPanel::resized, this, &VectorscopeManager::saveFrame);
    connect(panel, &FloatingPanel::userWillClose, this, &VectorscopeManager::userClosed);
}

void VectorscopeManager::setContent() {
    if (!panel_) return;
    const bool hasSource = currentAnalyzer_ != nullptr;
    panel_->setContent(kContent, {
        {QStringLiteral("manager"), QVariant::fromValue<QObject*>(this)},
        {QStringLiteral("feed"), QVariant::fromValue<QObject*>(currentAnalyzer_.data())},
        {QStringLiteral("hasSource"), hasSource},
        {QStringLiteral("isOriginal"), contentIsOriginal_},
        {QStringLiteral("title"), hasSource ? contentTitle_ : QString()},
        {QStringLiteral("dotColor"), contentIsOriginal_ ? originalColor() : renderingColor()},
    });
}

void VectorscopeManager::showVectorscope(QObject* player, const QUrl& url, bool isOriginal, const QString& title) {
    dropAnalyzer();
    currentAnalyzer_ = new VectorscopeFeed(url, player, this, autoRefresh_);
    emit currentAnalyzerChanged();
    ensurePanel();
    contentIsOriginal_ = isOriginal;
    contentTitle_ = title;
    setContent();
    restoreFrame();
    panel_->bringToFront();
}

void VectorscopeManager::updateVectorscope(QObject* player, const QUrl& url, bool isOriginal, const QString& title) {
    if (!panel_) {
        showVectorscope(player, url, isOriginal, title);
        return;
    }
    panel_->setTitle(QString::fromLatin1(kTitle));
    dropAnalyzer();
    currentAnalyzer_ = new VectorscopeFeed(url, player, this, autoRefresh_);
    emit currentAnalyzerChanged();
    contentIsOriginal_ = isOriginal;
    contentTitle_ = title;
    setContent();
}

void VectorscopeManager::showEmptyVectorscope() {
    dropAnalyzer();
    ensurePanel();
    contentIsOriginal_ = true;
    contentTitle_.clear();
    setContent();
    restoreFrame();
    panel_->bringToFront();
}

void VectorscopeManager::restoreFrame() {
    std::optional<PanelFrame> stored;
    if (auto text = store_.stringValue(keys::kVectorscopeWindow)) stored = panelFrameFromString(*text);
    PanelFrame frame = panel_->frame();
    if (stored && !stored->isZero()) {
        frame = *stored;
        frame.width = std::max(frame.width, double(kWidth));
        frame.height = std::max(frame.height, double(kHeight));
    } else {
        const PanelFrame screen = PanelFactory::shared().mainScreenVisibleFrame();
        frame.x = screen.x + (screen.width - frame.width) / 2.0;
        frame.y = screen.y + (screen.height - frame.height) / 2.0;
    }
    panel_->setFrame(frame);
}

void VectorscopeManager::saveFrame() {
    if (!panel_) return;
    store_.setString(keys::kVectorscopeWindow, panelFrameToString(panel_->frame()));
}

void VectorscopeManager::releasePanel() {
    // The panel object goes later: this may run inside one of its own signals.
    if (panel_) panel_.release()->deleteLater();
}

void VectorscopeManager::hideVectorscope() {
    saveFrame();
    if (currentAnalyzer_) currentAnalyzer_->clearSamples();
    dropAnalyzer();
    if (isPinned_) {
        if (panel_) panel_->orderOut();
        setIsVisible(false);
        return;
    }
    if (panel_) {
        panel_->close();
        releasePanel();
    }
    setIsVisible(false);
    storeShown(false);
}

void VectorscopeManager::closeVectorscope() {
    saveFrame();
    dropAnalyzer();
    if (panel_) {
        panel_->orderOut();
        panel_->close();
        releasePanel();
    }
    setIsPinned(false);
    setIsVisible(false);
    storeShown(false);
}

void VectorscopeManager::userClosed() {
    saveFrame();
    storeShown(false);
    setIsPinned(false);
    setIsVisible(false);
    dropAnalyzer();
    releasePanel();
    NotificationCenter::shared()->post(notifications::kVectorscopeStateChanged);
}

}  // namespace korvanta

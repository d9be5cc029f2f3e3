#include "app/SettingsViewModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QUrl>
#include <QVariantMap>

#include <cmath>
#include <cstdio>

#include "app/AudioSettings.h"
#include "export/CoverArt.h"
#include "export/ExportFormat.h"
#include "mastering/BatchProcessor.h"
#include "mastering/MasteringSettings.h"
#include "platform/PreferenceKeys.h"
#include "platform/WorkerPool.h"

namespace korvanta {

namespace {

QString formatted(const char* format, float value) {
    char text[32];
    std::snprintf(text, sizeof text, format, double(value));
    return QString::fromLatin1(text);
}

QByteArray toByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace

std::optional<int> presetIndexFor(float targetLUFS, float limitThreshold) {
    for (size_t i = 0; i < kMasteringPresets.size(); ++i) {
        const auto& s = kMasteringPresets[i].settings;
        if (std::fabs(s.targetLUFS - targetLUFS) < 0.1f && std::fabs(s.limitThreshold - limitThreshold) < 0.1f)
            return static_cast<int>(i);
    }
    return std::nullopt;
}

SettingsViewModel::SettingsViewModel(AudioSettingsManager* settingsManager, BatchProcessor* batchProcessor,
                                     Preferences& store, QObject* parent)
    : QObject(parent), settingsManager_(settingsManager), batchProcessor_(batchProcessor), store_(store) {
    exportFormat_ = QString::fromLatin1(rawValue(savedExportFormat(store_)).data());
    globalArtworkEnabled_ = store_.boolValue(keys::kGlobalArtworkEnabled).value_or(false);
    reloadArtwork();
    reselectPreset();
    if (settingsManager_) {
        // While the panel is open, any change of the loudness settings is selected and saved.
        const auto changed = [this] {
            reselectPreset();
            saveSettings();
        };
        connect(settingsManager_, &AudioSettingsManager::targetLoudnessChanged, this, changed);
        connect(settingsManager_, &AudioSettingsManager::limitThresholdChanged, this, changed);
        connect(settingsManager_, &AudioSettingsManager::highQualityModeChanged, this,
                &SettingsViewModel::highQualityModeChanged);
    }
}

QVariantList SettingsViewModel::presets() const {
    QVariantList list;
    for (const auto& preset : kMasteringPresets) {
        list.append(QVariantMap{
            {QStringLiteral("title"), QString::fromLatin1(preset.name.data(), qsizetype(preset.name.size()))},
            {QStringLiteral("lufs"), QStringLiteral("LUFS: ") + formatted("%.1f", preset.settings.targetLUFS)},
            {QStringLiteral("limiter"), QStringLiteral("Limiter: ") + formatted("%.2f", preset.settings.limitThreshold)},
        });
    }
    return list;
}

void SettingsViewModel::reselectPreset() {
    if (!settingsManager_) return;
    const auto index = presetIndexFor(settingsManager_->targetLoudness(), settingsManager_->limitThreshold());
    if (index == selectedPresetIndex_) return;
    selectedPresetIndex_ = index;
    emit selectedPresetIndexChanged();
}

void SettingsViewModel::selectPreset(int index) {
    if (index < 0 || index >= int(kMasteringPresets.size()) || !settingsManager_) return;
    if (selectedPresetIndex_ != index) {
        selectedPresetIndex_ = index;
        emit selectedPresetIndexChanged();
    }
    const auto& s = kMasteringPresets[size_t(index)].settings;
    settingsManager_->setTargetLoudness(s.targetLUFS);
    settingsManager_->setLimitThreshold(s.limitThreshold);
    saveSettings();
}

void SettingsViewModel::saveSettings() {
    if (!settingsManager_) return;
    QString preset;
    if (selectedPresetIndex_) {
        const auto name = kMasteringPresets[size_t(*selectedPresetIndex_)].name;
        preset = QString::fromLatin1(name.data(), qsizetype(name.size()));
    }
    settingsManager_->saveSettings(exportFormat_, preset);
}

void SettingsViewModel::chooseExportFormat(const QString& format) {
    const ExportFormat f = exportFormatFromRawValue(format.toStdString());
    const QString raw = QString::fromLatin1(rawValue(f).data());
    saveExportFormat(store_, f);
    store_.setBool(keys::kHighQualityMode,
                   f == ExportFormat::m4a ? false : (settingsManager_ && settingsManager_->highQualityMode()));
    if (raw != exportFormat_) {
        exportFormat_ = raw;
        emit exportFormatChanged();
    }
}

bool SettingsViewModel::highQualityMode() const { return settingsManager_ && settingsManager_->highQualityMode(); }

QString SettingsViewModel::highQualityText() const {
    return highQualityMode() ? QStringLiteral("24-bit (better sound, slower processing)")
                             : QStringLiteral("16-bit (smaller files, faster processing)");
}

void SettingsViewModel::setHighQualityMode(bool value) {
    if (!settingsManager_) return;
    settingsManager_->setHighQualityMode(value);
    if (exportFormat_ != QLatin1String("M4A")) store_.setBool(keys::kHighQualityMode, value);
}

void SettingsViewModel::setGlobalArtworkEnabled(bool value) {
    store_.setBool(keys::kGlobalArtworkEnabled, value);
    globalArtworkEnabled_ = value;
    reloadArtwork();
    emit globalArtworkChanged();
}

void SettingsViewModel::reloadArtwork() {
    auto bytes = store_.bytesValue(keys::kGlobalArtworkData);
    artwork_ = bytes ? toByteArray(*bytes) : QByteArray();
    ++artworkRevision_;
    publishSessionArtwork();
}

void SettingsViewModel::publishSessionArtwork() {
    if (batchProcessor_) batchProcessor_->setSessionGlobalArtwork(globalArtworkEnabled_ ? artwork_ : QByteArray());
}

void SettingsViewModel::chooseArtworkFile(const QUrl& file) {
    const QString path = file.isLocalFile() ? file.toLocalFile() : file.toString();
    isLoadingArtwork_ = true;
    emit isLoadingArtworkChanged();
    QPointer<SettingsViewModel> self(this);
    runOnWorker([self, path] {
        std::optional<Bytes> accepted;
        QFile input(path);
        // Cover images are small; anything beyond 64 MB is not one.
        if (input.open(QIODevice::ReadOnly) && input.size() <= 64 * 1024 * 1024) {
            const QByteArray data = input.readAll();
            Bytes bytes(data.begin(), data.end());
            if (!bytes.empty() && makeCoverJpeg(bytes).ok()) accepted = std::move(bytes);
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, accepted = std::move(accepted)] {
                if (!self) return;
                self->isLoadingArtwork_ = false;
                emit self->isLoadingArtworkChanged();
                if (!accepted) {
                    emit self->artworkRejected();
                    return;
                }
                self->store_.setBytes(keys::kGlobalArtworkData, *accepted);
                self->reloadArtwork();
                emit self->globalArtworkChanged();
            },
            Qt::QueuedConnection);
    });
}

void SettingsViewModel::removeArtwork() {
    store_.remove(keys::kGlobalArtworkData);
    reloadArtwork();
    emit globalArtworkChanged();
}

}  // namespace korvanta

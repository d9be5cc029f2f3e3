// What the settings panel shows and edits: the preset cards, the export format, the cover art and
// the high-quality switch, with the rules for storing each.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QVariantList>

#include <optional>

#include "app/AudioSettingsManager.h"
#include "platform/Preferences.h"

namespace korvanta {

class BatchProcessor;

// The preset card that the loudness settings select: the first of Events, Radio, Club, Festival
// whose target and threshold both lie strictly within 0.1 of them.
std::optional<int> presetIndexFor(float targetLUFS, float limitThreshold);

// Lives as long as the panel's content. Main thread only.
class SettingsViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(AudioSettingsManager* settingsManager READ settingsManager CONSTANT)
    // Each preset card: {"title", "lufs" ("LUFS: -12.0"), "limiter" ("Limiter: -0.30")}.
    Q_PROPERTY(QVariantList presets READ presets CONSTANT)
    Q_PROPERTY(int selectedPresetIndex READ selectedPresetIndex NOTIFY selectedPresetIndexChanged)
    Q_PROPERTY(QString exportFormat READ exportFormat NOTIFY exportFormatChanged)  // "WAV" or "M4A"
    Q_PROPERTY(bool highQualityMode READ highQualityMode NOTIFY highQualityModeChanged)
    Q_PROPERTY(QString highQualityText READ highQualityText NOTIFY highQualityModeChanged)
    Q_PROPERTY(bool globalArtworkEnabled READ globalArtworkEnabled NOTIFY globalArtworkChanged)
    Q_PROPERTY(bool hasArtwork READ hasArtwork NOTIFY globalArtworkChanged)
    // Changes with every new image, so the image area reloads ("image://artwork/<revision>").
    Q_PROPERTY(int artworkRevision READ artworkRevision NOTIFY globalArtworkChanged)
    Q_PROPERTY(bool isLoadingArtwork READ isLoadingArtwork NOTIFY isLoadingArtworkChanged)

public:
    // Reads the stored export format and cover art and selects the card of the current
    // loudness settings.
    SettingsViewModel(AudioSettingsManager* settingsManager, BatchProcessor* batchProcessor,
                      Preferences& store, QObject* parent = nullptr);

    AudioSettingsManager* settingsManager() const { return settingsManager_; }
    QVariantList presets() const;
    int selectedPresetIndex() const { return selectedPresetIndex_.value_or(-1); }
    QString exportFormat() const { return exportFormat_; }
    bool highQualityMode() const;
    QString highQualityText() const;
    bool globalArtworkEnabled() const { return globalArtworkEnabled_; }
    bool hasArtwork() const { return !artwork_.isEmpty(); }
    int artworkRevision() const { return artworkRevision_; }
    bool isLoadingArtwork() const { return isLoadingArtwork_; }
    const QByteArray& artwork() const { return artwork_; }

    // A card was tapped: its values become the loudness settings, which are saved.
    Q_INVOKABLE void selectPreset(int index);
    Q_INVOKABLE void chooseExportFormat(const QString& format);
    // Stored unless the export format is M4A.
    Q_INVOKABLE void setHighQualityMode(bool value);
    Q_INVOKABLE void setGlobalArtworkEnabled(bool value);
    // The chosen image file is read and checked on a worker; bytes that decode as an image are
    // stored unchanged, anything else changes nothing (artworkRejected()).
    Q_INVOKABLE void chooseArtworkFile(const QUrl& file);
    Q_INVOKABLE void removeArtwork();
    // "DONE": saves the loudness settings and the selected card's name.
    Q_INVOKABLE void saveSettings();

signals:
    void selectedPresetIndexChanged();
    void exportFormatChanged();
    void highQualityModeChanged();
    void globalArtworkChanged();
    void isLoadingArtworkChanged();
    void artworkRejected();

private:
    void reselectPreset();
    void reloadArtwork();
    void publishSessionArtwork();

    QPointer<AudioSettingsManager> settingsManager_;
    QPointer<BatchProcessor> batchProcessor_;
    Preferences& store_;
    std::optional<int> selectedPresetIndex_;
    QString exportFormat_ = QStringLiteral("WAV");
    bool globalArtworkEnabled_ = false;
    QByteArray artwork_;
    int artworkRevision_ = 0;
    bool isLoadingArtwork_ = false;
};

}  // namespace korvanta

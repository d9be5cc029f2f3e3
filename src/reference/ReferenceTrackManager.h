// The loaded reference track and the spectra of the songs being compared with it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantList>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/FloatingPanel.h"
#include "platform/Preferences.h"
#include "reference/SpectralProfile.h"

namespace korvanta {

// One shared instance, created on first use on the main thread and never destroyed. Published
// fields change on the main thread only; analyses run on worker threads.
class ReferenceTrackManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasReference READ hasReference NOTIFY currentProfileChanged)
    Q_PROPERTY(QString referenceFileName READ referenceFileName NOTIFY currentProfileChanged)
    Q_PROPERTY(QVariantMap currentProfile READ currentProfileVariant NOTIFY currentProfileChanged)
    Q_PROPERTY(QVariantMap currentTrackProfile READ currentTrackProfileVariant NOTIFY currentTrackProfileChanged)
    Q_PROPERTY(QVariantMap masteredTrackProfile READ masteredTrackProfileVariant NOTIFY masteredTrackProfileChanged)
    Q_PROPERTY(bool isVisible READ isVisible WRITE setIsVisible NOTIFY isVisibleChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(QVariantList referenceSpectrum READ referenceSpectrumVariant NOTIFY referenceSpectrumChanged)
    Q_PROPERTY(QVariantList originalSpectrum READ originalSpectrumVariant NOTIFY originalSpectrumChanged)
    Q_PROPERTY(QVariantList masteredSpectrum READ masteredSpectrumVariant NOTIFY masteredSpectrumChanged)
    Q_PROPERTY(QVariant referenceLUFS READ referenceLUFSVariant NOTIFY referenceLUFSChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)

public:
    static ReferenceTrackManager* shared();

    // A manager over `store` (tests); reads the stored profile back at once.
    explicit ReferenceTrackManager(Preferences& store, QObject* parent = nullptr);

    const std::optional<SpectralProfile>& currentProfile() const { return currentProfile_; }
    const std::optional<SpectralProfile>& currentTrackProfile() const { return currentTrackProfile_; }
    const std::optional<SpectralProfile>& masteredTrackProfile() const { return masteredTrackProfile_; }
    const std::vector<float>& referenceSpectrumValues() const { return referenceSpectrum_; }
    const std::vector<float>& originalSpectrumValues() const { return originalSpectrum_; }
    const std::vector<float>& masteredSpectrumValues() const { return masteredSpectrum_; }
    std::optional<float> referenceLUFS() const { return referenceLUFS_; }
    bool hasReference() const { return currentProfile_.has_value(); }
    QString referenceFileName() const;
    bool isVisible() const { return isVisible_; }
    bool isEnabled() const { return isEnabled_; }
    bool isLoading() const { return loadsRunning_ > 0; }
    void setIsVisible(bool value);
    void setIsEnabled(bool value);

    // Analyses the file and makes it the reference: loudness, profile and 12-band spectrum are
    // published, the profile is stored, referenceTrackLoaded() is emitted, and one second later
    // the panel closes (isVisible and isEnabled false). loadFinished() reports the outcome; a
    // failure changes nothing but possibly referenceLUFS.
    Q_INVOKABLE void loadReferenceTrack(const QString& path);
    // The panel's drop zone takes audio files only: the first dropped URL that is a local audio
    // file, or an empty string when there is none.
    Q_INVOKABLE QString droppedAudioFile(const QList<QUrl>& urls) const;
    void loadReferenceTrack(const std::filesystem::path& path);

    // Analyses a song that starts to play and publishes its profile and spectrum as the original
    // (or the rendering); a failure clears both track profiles and keeps the spectra.
    Q_INVOKABLE void analyzeCurrentTrack(const QString& path, bool isOriginal);

    // Forgets the reference and removes the stored profile; the reference spectrum keeps its
    // values (consumers check currentProfile first).
    Q_INVOKABLE void clearReference();
    Q_INVOKABLE void clearTrackProfiles();

    // The panel "Reference Track": opens it (or brings it to the front); `batchProcessor`, when
    // given, is kept for the final batches that match each song.
    static constexpr int kPanelWidth = 350;
    static constexpr int kPanelHeight = 180;
    static constexpr const char* kPanelTitle = "Reference Track";
    Q_INVOKABLE void showReferencePanel(QObject* batchProcessor = nullptr);
    // Saves the frame and closes the panel; the reference is switched off (isVisible and isEnabled
    // false).
    Q_INVOKABLE void hideReferencePanel();
    QObject* batchProcessor() const { return batchProcessor_; }
    FloatingPanel* panel() const { return panel_.get(); }
    // Where the panel goes: the stored frame when it is not empty, else centred on `screen` at
    // the panel's current size.
    static PanelFrame restoredPanelFrame(const std::optional<PanelFrame>& stored, const PanelFrame& screen,
                                         const PanelFrame& current);

    // Spectra written by the matching operations of the equaliser.
    void setOriginalSpectrum(std::vector<float> values);
    void setMasteredSpectrum(std::vector<float> values);

signals:
    void currentProfileChanged();
    void currentTrackProfileChanged();
    void masteredTrackProfileChanged();
    void isVisibleChanged();
    void isEnabledChanged();
    void referenceSpectrumChanged();
    void originalSpectrumChanged();
    void masteredSpectrumChanged();
    void referenceLUFSChanged();
    void isLoadingChanged();
    void referenceTrackLoaded();
    void loadFinished(bool succeeded, const QString& errorDescription);

private:
    void loadProfile();
    void savePanelFrame();
    void releasePanel();
    void setReferenceLUFS(float lufs);
    QVariantMap currentProfileVariant() const;
    QVariantMap currentTrackProfileVariant() const;
    QVariantMap masteredTrackProfileVariant() const;
    QVariantList referenceSpectrumVariant() const;
    QVariantList originalSpectrumVariant() const;
    QVariantList masteredSpectrumVariant() const;
    QVariant referenceLUFSVariant() const;

    Preferences& store_;
    std::optional<SpectralProfile> currentProfile_;
    std::optional<SpectralProfile> currentTrackProfile_;
    std::optional<SpectralProfile> masteredTrackProfile_;
    bool isVisible_ = false;
    bool isEnabled_ = false;
    std::vector<float> referenceSpectrum_ = std::vector<float>(12, 0.0f);
    std::vector<float> originalSpectrum_ = std::vector<float>(12, 0.0f);
    std::vector<float> masteredSpectrum_ = std::vector<float>(12, 0.0f);
    std::optional<float> referenceLUFS_;
    int loadsRunning_ = 0;
    QPointer<QObject> batchProcessor_;
    std::unique_ptr<FloatingPanel> panel_;
};

}  // namespace korvanta

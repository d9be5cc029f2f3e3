// The equaliser while the results screen shows: the record the panel edits, the panel "Custom
// Equalizer" with its stored frame, the live link to the preview player, REMASTER, and the
// matched reference gains of the panel's "REF APPLY".
#pragma once

#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <vector>

#include "eq/EQSettings.h"
#include "mastering/BatchProcessor.h"
#include "platform/FloatingPanel.h"
#include "platform/Preferences.h"
#include "playback/AudioPlayerManager.h"
#include "reference/ReferenceTrackManager.h"

namespace korvanta {

// True when the record changes what is heard: a band beyond ±0.1 dB, a master gain beyond ±0.1 dB,
// widening on with |width − 1| > 0.01, or mid enhancement on with |amount − 1| > 0.01. The
// record's isEnabled is not consulted.
bool hasAudibleEQ(const EQSettings& settings);

// The record as QML sees it ("bands": list of {frequency, gain, q}, and the seven other fields by
// their names) and back; fields missing from the map keep their value in `base`.
QVariantMap eqSettingsToVariant(const EQSettings& settings);
EQSettings eqSettingsFromVariant(const QVariantMap& map, const EQSettings& base);

// One shared instance for the process (created on first use, never destroyed). Main thread only.
// The batch processor and the player are held weakly.
class EQManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY isVisibleChanged)
    Q_PROPERTY(QVariantMap eqSettings READ eqSettingsVariant NOTIFY eqSettingsChanged)
    Q_PROPERTY(bool isAutoReferenceMode READ isAutoReferenceMode WRITE setIsAutoReferenceMode NOTIFY
                   isAutoReferenceModeChanged)
    Q_PROPERTY(AudioPlayerManager* audioPlayer READ audioPlayer NOTIFY audioPlayerChanged)

public:
    static constexpr int kMinimumWidth = 500;
    static constexpr int kMinimumHeight = 400;
    static constexpr const char* kTitle = "Custom Equalizer";
    static constexpr const char* keyEQPositionX = "eqPositionX";
    static constexpr const char* keyEQPositionY = "eqPositionY";
    static constexpr const char* keyEQWidth = "eqWidth";
    static constexpr const char* keyEQHeight = "eqHeight";

    static EQManager* shared();
    // A manager over `store`; `player` is the player it falls back to when no other is linked
    // (null: the application's shared player, made when first needed).
    EQManager(Preferences& store, AudioPlayerManager* player, QObject* parent = nullptr,
              ReferenceTrackManager* reference = nullptr);
    ~EQManager() override;

    bool isVisible() const { return isVisible_; }
    const EQSettings& eqSettings() const { return eqSettings_; }
    // Publishes `settings` as the record (no store, no player).
    void setEqSettings(const EQSettings& settings);
    bool isAutoReferenceMode() const { return isAutoReferenceMode_; }
    void setIsAutoReferenceMode(bool value);
    const std::vector<float>& savedReferenceEQ() const { return savedReferenceEQ_; }
    BatchProcessor* batchProcessor() const { return batchProcessor_; }
    // The linked player, else the shared one.
    AudioPlayerManager* audioPlayer();
    // The results screen links the player of a master of a normal batch.
    void setAudioPlayer(AudioPlayerManager* player);
    FloatingPanel* panel() const { return panel_.get(); }
    // The store the records and the frame live in.
    Preferences& store() const { return store_; }
    // The reference manager matching works with.
    ReferenceTrackManager* reference() const;

    // The equaliser button turned on: links both, enables and stores the record, lets a playing
    // player hear it, and opens the panel (or brings it to the front).
    void showPanel(BatchProcessor* batchProcessor, AudioPlayerManager* player);
    // Saves the frame and closes the panel; both stored records stay as they are.
    Q_INVOKABLE void hidePanel();

    // What the panel writes: publishes the record, hands it to the player and stores it under
    // "EQSettings".
    Q_INVOKABLE void writeSettings(const QVariantMap& settings);
    void applyPanelSettings(const EQSettings& settings);

    // REMASTER. Does nothing during a batch, without a rendered song, or when nothing is audible.
    // Otherwise stores the record (enabled) under both keys, rebases every rendered song onto its
    // latest rendering and, 0.1 s later, unless a batch has started meanwhile, posts
    // "RemasterWithEQ".
    Q_INVOKABLE void remasterWithEQ();

    // "REF APPLY": applies the gains that bring the last previewed rendering's spectrum to the
    // reference's, or removes them when they are applied. Nothing without a reference or with an
    // empty rendering spectrum. The gains are computed once per run and reused.
    Q_INVOKABLE void toggleReferenceEQ();

    // Where a panel goes from its stored frame on a screen whose usable area is `screen`: stored
    // x kept when 0 < x < maxX − 100 (else maxX − 620), y when 0 < y < maxY (else 20 below the top),
    // sizes over 100 kept (else 600 × 500).
    static PanelFrame restoredFrame(double storedX, double storedY, double storedWidth, double storedHeight,
                                    const PanelFrame& screen);

signals:
    void isVisibleChanged();
    void eqSettingsChanged();
    void isAutoReferenceModeChanged();
    void audioPlayerChanged();

private:
    QVariantMap eqSettingsVariant() const { return eqSettingsToVariant(eqSettings_); }
    AudioPlayerManager* sharedPlayer();
    void setIsVisible(bool value);
    void handleEQSettingsChanged();
    void createPanel();
    void savePanelFrame();
    void restorePanelFrame();
    void applicationWillTerminate();
    void userClosedPanel();
    void releasePanel();
    void removeReferenceGains();
    void applyReferenceGains();

    Preferences& store_;
    QPointer<AudioPlayerManager> defaultPlayer_;
    QPointer<AudioPlayerManager> audioPlayer_;
    QPointer<BatchProcessor> batchProcessor_;
    QPointer<ReferenceTrackManager> reference_;
    std::unique_ptr<FloatingPanel> panel_;
    EQSettings eqSettings_;
    std::vector<float> savedReferenceEQ_;
    bool isVisible_ = false;
    bool isAutoReferenceMode_ = false;
};

}  // namespace korvanta

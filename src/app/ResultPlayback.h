// Listening on the results screen: which card and column play, the progress bar's seek, the
// equaliser link of a master, level-matched comparison, the vectorscope's source, and Space.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

#include "analysis/VectorscopeManager.h"
#include "eq/EQSettings.h"
#include "export/ResultViewModel.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "playback/AudioPlayerManager.h"

namespace korvanta {

// The gain that brings the left column of a card (the original, or the master in final mode) to
// the loudness of the right one: right LUFS − left LUFS, lowered so that the left column's peak
// stays at least 0.1 dB below full scale. None without both columns' figures.
std::optional<float> levelMatchGainDB(const AudioFile& song, bool finalMode);
// "+4.2 dB", "-1.0 dB".
QString gainText(float gainDB);

// Main thread only. Rows are those of the results model (its visibleFiles).
class ResultPlayback : public QObject {
    Q_OBJECT
    // −1 when no card plays.
    Q_PROPERTY(int playingFileIndex READ playingFileIndex NOTIFY playingChanged)
    Q_PROPERTY(bool playingOriginal READ playingOriginal NOTIFY playingChanged)
    Q_PROPERTY(AudioPlayerManager* player READ player CONSTANT)
    Q_PROPERTY(bool audioAvailable READ audioAvailable NOTIFY audioAvailableChanged)
    // Level-matched comparison, stored under "matchLevelEnabled"; the screen's toggle writes it.
    Q_PROPERTY(bool matchLevel READ matchLevel WRITE setMatchLevel NOTIFY matchLevelChanged)

public:
    static constexpr double kSeekMargin = 0.05;  // of the bar's width, at either end

    ResultPlayback(ResultViewModel* results, Preferences& store, QObject* parent = nullptr);

    // The player (the application's shared one unless another was set before first use).
    AudioPlayerManager* player();
    void setPlayer(AudioPlayerManager* player);
    void setVectorscope(VectorscopeManager* manager) { vectorscope_ = manager; }
    VectorscopeManager* vectorscope() const;
    // The equaliser the master of a normal batch is heard through (default: the settings stored
    // as active) and what the screen asks of the reference analysis on every play (default: the
    // shared reference manager).
    void setEqualiserSettings(std::function<EQSettings()> settings) { eqSettings_ = std::move(settings); }
    void setAnalyzeTrack(std::function<void(const QUrl&, bool isOriginal)> analyze) { analyzeTrack_ = std::move(analyze); }
    // Called with the player whenever a master of a normal batch starts (the equaliser follows it).
    void setLinkPlayer(std::function<void(AudioPlayerManager*)> link) { linkPlayer_ = std::move(link); }

    int playingFileIndex() const { return playingFileIndex_ ? *playingFileIndex_ : -1; }
    bool playingOriginal() const { return playingOriginal_; }
    bool audioAvailable();
    bool matchLevel() const { return matchLevel_; }
    void setMatchLevel(bool value);

    // The file a column plays and whether it counts as a rendering.
    static std::filesystem::path urlFor(const AudioFile& song, bool isOriginal, bool finalMode);

    // A card's play button: `isOriginal` for the left column.
    Q_INVOKABLE void togglePlay(int index, bool isOriginal);
    // Space: pauses the card playing, or plays the one played last (resuming where it paused).
    Q_INVOKABLE void togglePlayLast();
    // A tap at `x` on the progress bar of card `index`, `width` wide; only the playing card seeks.
    Q_INVOKABLE void seekTap(int index, double x, double width);
    // The gain text a card's left column shows while level matching is on ("" when none).
    Q_INVOKABLE QString matchGainText(int index) const;
    // Stops the player and forgets the playing card.
    Q_INVOKABLE void stopPlayback();

    // The screen came on / went away.
    Q_INVOKABLE void screenAppeared();
    Q_INVOKABLE void screenDisappeared();

signals:
    void playingChanged();
    void audioAvailableChanged();
    void matchLevelChanged();

private:
    void attachPlayer(AudioPlayerManager* player);
    void setPlaying(std::optional<int> index, bool original);
    void playerStateChanged();
    void requestCurrentPlayback();
    void applyMatchGain();
    void pointVectorscope(bool pinned, const QUrl& url, bool isOriginal, const QString& title);
    bool finalMode() const;
    const AudioFile* song(int index) const;
    EQSettings equaliserSettings() const;

    QPointer<ResultViewModel> results_;
    Preferences& store_;
    QPointer<AudioPlayerManager> player_;
    QPointer<VectorscopeManager> vectorscope_;
    std::function<EQSettings()> eqSettings_;
    std::function<void(const QUrl&, bool)> analyzeTrack_;
    std::function<void(AudioPlayerManager*)> linkPlayer_;
    std::optional<int> playingFileIndex_;
    bool playingOriginal_ = false;
    std::optional<int> lastPlayedIndex_;
    bool lastPlayedOriginal_ = false;
    bool matchLevel_ = false;
    bool finalModeAtAppear_ = false;
    NotificationCenter::Token requestToken_ = 0;
    QMetaObject::Connection stateObserver_;
};

}  // namespace korvanta

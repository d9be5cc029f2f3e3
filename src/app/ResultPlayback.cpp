#include "app/ResultPlayback.h"

#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "platform/PreferenceKeys.h"
#include "reference/ReferenceTrackManager.h"

namespace korvanta {

namespace {

constexpr float kMatchHeadroomDB = 0.1f;

QUrl toUrl(const std::filesystem::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

}  // namespace

std::optional<float> levelMatchGainDB(const AudioFile& song, bool finalMode) {
    const auto& left = finalMode ? song.masterStats : song.originalStats;
    const auto& right = finalMode ? song.finalStats : song.masterStats;
    if (!left || !right) return std::nullopt;
    const float gain = right->lufs - left->lufs;
    return std::min(gain, -left->peak - kMatchHeadroomDB);
}

QString gainText(float gainDB) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dB", double(gainDB));
    return QString::fromLatin1(text);
}

ResultPlayback::ResultPlayback(ResultViewModel* results, Preferences& store, QObject* parent)
    : QObject(parent), results_(results), store_(store) {
    matchLevel_ = store_.boolValue(keys::kMatchLevelEnabled).value_or(false);
    if (results_) {
        // The export stops what plays: when the folder chooser opens and when the export starts.
        connect(results_, &ResultViewModel::showFolderChooserChanged, this, [this] {
            if (results_->showFolderChooser()) stopPlayback();
        });
        connect(results_, &ResultViewModel::exportStateChanged, this, [this] {
            if (results_->isExportAnimating() && playingFileIndex_) stopPlayback();
        });
        connect(results_, &QAbstractItemModel::modelReset, this, [this] { setPlaying(std::nullopt, false); });
    }
}

AudioPlayerManager* ResultPlayback::player() {
    // Taken up quietly: this runs inside property reads.
    if (!player_) attachPlayer(AudioPlayerManager::shared());
    return player_;
}

void ResultPlayback::setPlayer(AudioPlayerManager* player) {
    attachPlayer(player);
    emit audioAvailableChanged();
}

void ResultPlayback::attachPlayer(AudioPlayerManager* player) {
    if (player_) disconnect(player_, nullptr, this, nullptr);
    player_ = player;
    if (!player_) return;
    connect(player_, &AudioPlayerManager::playbackStateChanged, this, &ResultPlayback::playerStateChanged);
    connect(player_, &AudioPlayerManager::isEngineReadyChanged, this, &ResultPlayback::audioAvailableChanged);
}

VectorscopeManager* ResultPlayback::vectorscope() const {
    return vectorscope_ ? vectorscope_.data() : VectorscopeManager::shared();
}

bool ResultPlayback::audioAvailable() { return player()->isEngineReady(); }

bool ResultPlayback::finalMode() const { return results_ && results_->isFinalMode(); }

const AudioFile* ResultPlayback::song(int index) const {
    if (!results_ || index < 0 || size_t(index) >= results_->visibleFiles().size()) return nullptr;
    return &results_->visibleFiles()[size_t(index)];
}

EQSettings ResultPlayback::equaliserSettings() const {
    return eqSettings_ ? eqSettings_() : loadEQSettings(keys::kActiveEQSettings, store_);
}

std::filesystem::path ResultPlayback::urlFor(const AudioFile& song, bool isOriginal, bool finalMode) {
    if (!finalMode) return isOriginal ? song.url : song.masterURL.value_or(song.url);
    return isOriginal ? song.masterURL.value_or(song.url) : song.finalURL.value_or(song.url);
}

void ResultPlayback::setPlaying(std::optional<int> index, bool original) {
    if (playingFileIndex_ == index && playingOriginal_ == original) return;
    playingFileIndex_ = index;
    playingOriginal_ = original;
    emit playingChanged();
}

void ResultPlayback::setMatchLevel(bool value) {
    if (matchLevel_ == value) return;
    matchLevel_ = value;
    store_.setBool(keys::kMatchLevelEnabled, value);
    emit matchLevelChanged();
    applyMatchGain();
}

void ResultPlayback::applyMatchGain() {
    if (!playingFileIndex_ || !player_) return;
    const AudioFile* s = song(*playingFileIndex_);
    std::optional<float> gain;
    if (s && matchLevel_ && playingOriginal_) gain = levelMatchGainDB(*s, finalMode());
    player_->setOutputGainDB(gain.value_or(0.0f));
}

QString ResultPlayback::matchGainText(int index) const {
    const AudioFile* s = song(index);
    if (!matchLevel_ || !s) return {};
    const auto gain = levelMatchGainDB(*s, finalMode());
    return gain ? gainText(*gain) : QString();
}

void ResultPlayback::togglePlay(int index, bool isOriginal) {
    const AudioFile* s = song(index);
    if (!s) return;
    AudioPlayerManager* p = player();
    if (playingFileIndex_ == index && playingOriginal_ == isOriginal) {
        p->pause();
        setPlaying(std::nullopt, playingOriginal_);
        return;
    }
    const AudioFile songCopy = *s;
    const bool final = finalMode();
    p->stop();
    const QUrl url = toUrl(urlFor(songCopy, isOriginal, final));
    p->isPlayingOriginal = isOriginal && !final;
    p->isPlayingProcessedFile = final || !isOriginal;
    p->loadAudio(url);

    const auto analyze = [this, url, isOriginal] {
        if (analyzeTrack_) {
            analyzeTrack_(url, isOriginal);
        } else {
            ReferenceTrackManager::shared()->analyzeCurrentTrack(url.toLocalFile(), isOriginal);
        }
    };
    QTimer::singleShot(0, this, analyze);

    const bool linked = !final && !isOriginal;
    const EQSettings managerSettings = equaliserSettings();
    p->updateEQSettings(final || isOriginal || !managerSettings.isEnabled ? EQSettings{} : managerSettings);

    const auto& stats = final ? (isOriginal ? songCopy.masterStats : songCopy.finalStats)
                              : (isOriginal ? songCopy.originalStats : songCopy.masterStats);
    if (stats) {
        p->setCurrentFileLUFS(stats->lufs);
        p->setCurrentFilePeak(stats->peak);
        p->updateGainAdjustment();
    }

    p->play();
    setPlaying(index, isOriginal);
    lastPlayedIndex_ = index;
    lastPlayedOriginal_ = isOriginal;
    applyMatchGain();
    QTimer::singleShot(0, this, analyze);

    VectorscopeManager* scope = vectorscope();
    scope->currentPlayer = p;
    scope->currentURL = url;
    scope->currentIsOriginal = isOriginal && !final;
    scope->currentTitle = QString::fromStdString(songCopy.filename);

    if (linked) {
        if (linkPlayer_) linkPlayer_(p);
        p->updateEQSettings(managerSettings);
    }
    if (scope->panelIsVisible()) pointVectorscope(false, url, isOriginal && !final, scope->currentTitle);
}

void ResultPlayback::pointVectorscope(bool pinned, const QUrl& url, bool isOriginal, const QString& title) {
    VectorscopeManager* scope = vectorscope();
    scope->setIsPinned(pinned);
    scope->dropAnalyzer();
    if (scope->panelIsVisible()) {
        scope->updateVectorscope(player(), url, isOriginal, title);
    } else {
        scope->showVectorscope(player(), url, isOriginal, title);
    }
    scope->setIsVisible(true);
    store_.setBool(keys::kShowVectorscope, true);
}

void ResultPlayback::togglePlayLast() {
    if (!lastPlayedIndex_ || !song(*lastPlayedIndex_)) return;
    AudioPlayerManager* p = player();
    if (!playingFileIndex_ && p->playbackState() == PlaybackState::paused) {
        p->play();
        setPlaying(lastPlayedIndex_, lastPlayedOriginal_);
        return;
    }
    togglePlay(*lastPlayedIndex_, lastPlayedOriginal_);
}

void ResultPlayback::seekTap(int index, double x, double width) {
    if (!playingFileIndex_ || *playingFileIndex_ != index || width <= 0) return;
    const double margin = kSeekMargin * width;
    const double fraction = std::clamp((x - margin) / (width - 2 * margin), 0.0, 1.0);
    player()->seek(float(fraction));
}

void ResultPlayback::stopPlayback() {
    if (player_) player_->stop();
    setPlaying(std::nullopt, false);
}

void ResultPlayback::playerStateChanged() {
    if (player_ && player_->playbackState() == PlaybackState::stopped) setPlaying(std::nullopt, false);
}

void ResultPlayback::requestCurrentPlayback() {
    if (!playingFileIndex_) return;
    const AudioFile* s = song(*playingFileIndex_);
    if (!s) return;
    const QUrl url = toUrl(urlFor(*s, playingOriginal_, finalModeAtAppear_));
    pointVectorscope(true, url, finalModeAtAppear_ ? false : playingOriginal_, QString::fromStdString(s->filename));
}

void ResultPlayback::screenAppeared() {
    finalModeAtAppear_ = finalMode();
    if (requestToken_ == 0) {
        requestToken_ = NotificationCenter::shared()->addObserver(
            QString::fromLatin1(notifications::kRequestCurrentPlayback), [this] { requestCurrentPlayback(); }, this);
    }
}

void ResultPlayback::screenDisappeared() {
    stopPlayback();
    if (requestToken_) NotificationCenter::shared()->removeObserver(requestToken_);
    requestToken_ = 0;
    if (!store_.boolValue(keys::kShowVectorscope).value_or(false)) vectorscope()->hideVectorscope();
}

}  // namespace korvanta

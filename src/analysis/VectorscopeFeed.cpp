#include "analysis/VectorscopeFeed.h"

#include <QCoreApplication>

#include "platform/SerialExecutor.h"

namespace korvanta {

VectorscopeFeed::VectorscopeFeed(const QUrl& url, QObject* player, QObject* parent, bool autoRefresh,
                                 AudioEngine* engine)
    : QObject(parent), url_(url), player_(player), tap_(dynamic_cast<PlaybackTap*>(player)),
      worker_(SerialExecutor::create("vectorscope")) {
    auto analyzer = std::make_shared<std::shared_ptr<StereoVectorscopeAnalyzer>>();
    const std::filesystem::path path = url.toLocalFile().toStdString();
    setIsAnalyzing(true);
    // The file opens on the worker; the snapshot follows it there.
    std::weak_ptr<bool> alive = alive_;
    worker_->async([this, alive, path, engine, settings = tap_ ? StereoVectorscopeAnalyzer::activeSettings(tap_->liveEQSettings())
                                                               : std::optional<EQSettings>{}] {
        auto opened = std::make_shared<StereoVectorscopeAnalyzer>(path, engine);
        auto points = opened->snapshot(settings);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [this, alive, opened, points] {
            if (!alive.lock()) return;
            analyzer_ = opened;
            if (!stopped_ && points) publish(*points);
            setIsAnalyzing(false);
        }, Qt::QueuedConnection);
    });
    if (autoRefresh) {
        timer_ = new QTimer(this);
        timer_->setInterval(kRefreshIntervalMs);
        connect(timer_, &QTimer::timeout, this, &VectorscopeFeed::tick);
        timer_->start();
    }
}

VectorscopeFeed::~VectorscopeFeed() { *alive_ = false; }

void VectorscopeFeed::setIsAnalyzing(bool value) {
    if (isAnalyzing_ == value) return;
    isAnalyzing_ = value;
    emit isAnalyzingChanged();
}

void VectorscopeFeed::publish(VectorscopePoints points) {
    if (points.left == points_.left && points.right == points_.right) return;
    points_ = std::move(points);
    emit samplesChanged();
}

void VectorscopeFeed::tick() {
    if (stopped_ || !player_ || !tap_) return;
    if (!tap_->isPlayingNow()) {
        publish({});
        return;
    }
    if (refreshInFlight_ || !analyzer_) return;
    refreshInFlight_ = true;
    const float progress = tap_->playbackProgress();
    const auto settings = StereoVectorscopeAnalyzer::activeSettings(tap_->liveEQSettings());
    std::weak_ptr<bool> alive = alive_;
    auto analyzer = analyzer_;
    worker_->async([this, alive, analyzer, progress, settings] {
        auto points = analyzer->blockAt(progress, settings);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [this, alive, points] {
            if (!alive.lock()) return;
            refreshInFlight_ = false;
            // A read error drops the tick; so does a player that stopped meanwhile.
            if (stopped_ || !points || !player_ || !tap_->isPlayingNow()) return;
            publish(*points);
        }, Qt::QueuedConnection);
    });
}

void VectorscopeFeed::stop() {
    stopped_ = true;
    if (timer_) {
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }
}

void VectorscopeFeed::clearSamples() {
    stop();
    publish({});
    setIsAnalyzing(false);
}

}  // namespace korvanta

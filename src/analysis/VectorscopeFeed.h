// The points a vectorscope panel draws for one file: a snapshot at first, then about nine times a
// second the block at the followed player's position, while it plays.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <vector>

#include "analysis/PlaybackTap.h"
#include "analysis/StereoVectorscopeAnalyzer.h"

namespace korvanta {

class SerialExecutor;

// Main thread only; the file is opened and read on a worker of its own, and the points reach the
// main thread in order. A stopped feed publishes nothing more.
class VectorscopeFeed : public QObject {
    Q_OBJECT
    Q_PROPERTY(int pointCount READ pointCount NOTIFY samplesChanged)
    Q_PROPERTY(bool isAnalyzing READ isAnalyzing NOTIFY isAnalyzingChanged)
    Q_PROPERTY(QUrl url READ url CONSTANT)

public:
    static constexpr int kRefreshIntervalMs = 111;  // 1/9 s

    // `player` (weakly held) must implement PlaybackTap; without it the feed only shows its
    // snapshot. With `autoRefresh` false nothing ticks by itself (tests call tick()).
    VectorscopeFeed(const QUrl& url, QObject* player, QObject* parent = nullptr, bool autoRefresh = true,
                    AudioEngine* engine = nullptr);
    ~VectorscopeFeed() override;

    const std::vector<float>& leftSamples() const { return points_.left; }
    const std::vector<float>& rightSamples() const { return points_.right; }
    int pointCount() const { return int(std::min(points_.left.size(), points_.right.size())); }
    bool isAnalyzing() const { return isAnalyzing_; }
    QUrl url() const { return url_; }

    // One refresh: empties the points when the player is not playing, else reads the block at
    // its progress. A refresh still being read makes this one a no-op.
    void tick();
    // Ends the refreshes; nothing is published after this.
    Q_INVOKABLE void stop();
    // stop(), no points, not analysing.
    void clearSamples();
    bool isStopped() const { return stopped_; }

signals:
    void samplesChanged();
    void isAnalyzingChanged();

private:
    void publish(VectorscopePoints points);
    void setIsAnalyzing(bool value);
    // Runs `job` with the analyser on the worker, then `done` on the main thread unless the feed
    // is gone or stopped.
    void onWorker(std::function<void(StereoVectorscopeAnalyzer&)> job);

    QUrl url_;
    QPointer<QObject> player_;
    PlaybackTap* tap_ = nullptr;  // player_ seen as a tap; valid while player_ is set
    std::shared_ptr<StereoVectorscopeAnalyzer> analyzer_;  // used on the worker only
    std::shared_ptr<SerialExecutor> worker_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    QTimer* timer_ = nullptr;
    VectorscopePoints points_;
    bool isAnalyzing_ = false;
    bool stopped_ = false;
    bool refreshInFlight_ = false;
};

}  // namespace korvanta

#include "platform/DelayScheduler.h"

#include <QTimer>

#include <cmath>
#include <mutex>

namespace korvanta {

namespace {

class TimerScheduler final : public DelayScheduler {
public:
    void after(double seconds, QObject* context, std::function<void()> job) override {
        const int ms = seconds <= 0.0 ? 0 : static_cast<int>(std::lround(seconds * 1000.0));
        QTimer::singleShot(ms, context, std::move(job));
    }
};

std::mutex schedulerMutex;
std::shared_ptr<DelayScheduler>& installed() {
    static std::shared_ptr<DelayScheduler> scheduler = std::make_shared<TimerScheduler>();
    return scheduler;
}

}  // namespace

DelayScheduler& DelayScheduler::shared() {
    std::lock_guard lock(schedulerMutex);
    return *installed();
}

void DelayScheduler::install(std::shared_ptr<DelayScheduler> scheduler) {
    std::lock_guard lock(schedulerMutex);
    if (scheduler) installed() = std::move(scheduler);
}

}  // namespace korvanta

#include "platform/WorkerPool.h"

#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

namespace korvanta {

namespace {

// Linux gives each thread a nice value of its own; the main thread keeps the process's.
constexpr int kWorkerNiceIncrement = 4;

void lowerThisThreadOnce() {
    thread_local bool lowered = false;
    if (lowered) return;
    lowered = true;
    const pid_t thread = static_cast<pid_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), current + kWorkerNiceIncrement);
}

}  // namespace

QThreadPool& workerPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;  // lives for the process, like Qt's own pool
        p->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
        p->setObjectName(QStringLiteral("korvanta workers"));
        return p;
    }();
    return *pool;
}

void runOnWorker(std::function<void()> job) {
    workerPool().start([job = std::move(job)] {
        lowerThisThreadOnce();
        job();
    });
}

}  // namespace korvanta

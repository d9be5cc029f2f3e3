#include "platform/WorkerPool.h"

#include <QThread>

namespace korvanta {

QThreadPool& workerPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;  // lives for the process, like Qt's own pool
        p->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
        p->setObjectName(QStringLiteral("korvanta workers"));
        return p;
    }();
    return *pool;
}

}  // namespace korvanta

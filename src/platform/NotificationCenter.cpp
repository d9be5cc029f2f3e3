#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

namespace korvanta {

NotificationCenter* NotificationCenter::shared() {
    static NotificationCenter* instance = [] {
        auto* center = new NotificationCenter;
        if (auto* app = QCoreApplication::instance()) center->moveToThread(app->thread());
        return center;
    }();
    return instance;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, Block block,
                                                          QObject* context) {
    const Token token = nextToken_++;
    registrations_.insert(token, Registration{name, std::move(block), context, context != nullptr});
    order_.append(token);
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    if (registrations_.remove(token) > 0) order_.removeOne(token);
}

void NotificationCenter::post(const QString& name) {
    if (QThread::currentThread() == thread()) {
        deliver(name);
        return;
    }
    QMetaObject::invokeMethod(this, [this, name] { deliver(name); }, Qt::QueuedConnection);
}

void NotificationCenter::deliver(const QString& name) {
    // A snapshot: blocks may add or remove registrations while they run.
    QList<Token> due;
    for (Token token : order_) {
        if (registrations_.value(token).name == name) due.append(token);
    }
    for (Token token : due) {
        auto it = registrations_.find(token);
        if (it == registrations_.end()) continue;  // removed by an earlier block
        if (it->hasContext && !it->context) {
            removeObserver(token);
            continue;
        }
        Block block = it->block;  // the block may remove its own registration
        block();
    }
    emit posted(name);
}

int NotificationCenter::observerCount(const QString& name) const {
    int count = 0;
    for (const auto& registration : registrations_) {
        if (registration.name == name && (!registration.hasContext || registration.context)) ++count;
    }
    return count;
}

}  // namespace korvanta

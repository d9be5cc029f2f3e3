#include "ui/theme/ToastManager.h"

#include <cmath>

#include "platform/DelayScheduler.h"

namespace korvanta {

ToastManager* ToastManager::shared() {
    static ToastManager* instance = new ToastManager(nullptr);
    return instance;
}

ToastManager* ToastManager::create(QQmlEngine*, QJSEngine* engine) {
    ToastManager* manager = shared();
    engine->setObjectOwnership(manager, QJSEngine::CppOwnership);
    return manager;
}

ToastManager::ToastManager(QObject* parent) : QAbstractListModel(parent) {}

void ToastManager::show(const ToastMessage& toast) {
    const int row = count();
    beginInsertRows({}, row, row);
    messages_.append(toast);
    endInsertRows();
    emit countChanged();
    const double seconds = std::isfinite(toast.duration) && toast.duration > 0.0 ? toast.duration : 0.0;
    runAfter(seconds, this, [this, id = toast.id] { dismiss(id); });
}

void ToastManager::show(const QString& message, int type, double seconds) {
    ToastMessage toast;
    toast.message = message;
    toast.duration = seconds;
    toast.type = type >= int(ToastType::Success) && type <= int(ToastType::Info) ? ToastType(type) : ToastType::Info;
    show(toast);
}

void ToastManager::dismiss(const QUuid& id) {
    bool removed = false;
    for (int row = count() - 1; row >= 0; --row) {
        if (messages_[row].id != id) continue;
        beginRemoveRows({}, row, row);
        messages_.removeAt(row);
        endRemoveRows();
        removed = true;
    }
    if (removed) emit countChanged();
}

QString ToastManager::kindName(ToastType type) {
    switch (type) {
    case ToastType::Success: return QStringLiteral("success");
    case ToastType::Warning: return QStringLiteral("warning");
    case ToastType::Error: return QStringLiteral("error");
    case ToastType::Info: break;
    }
    return QStringLiteral("info");
}

QString ToastManager::iconName(ToastType type) {
    switch (type) {
    case ToastType::Success: return QStringLiteral("checkmark.circle.fill");
    case ToastType::Warning: return QStringLiteral("exclamationmark.triangle.fill");
    case ToastType::Error: return QStringLiteral("xmark.circle.fill");
    case ToastType::Info: break;
    }
    return QStringLiteral("info.circle.fill");
}

int ToastManager::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

QVariant ToastManager::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) return {};
    const ToastMessage& toast = messages_[index.row()];
    switch (role) {
    case IdRole: return toast.id.toString(QUuid::WithoutBraces);
    case Qt::DisplayRole:
    case MessageRole: return toast.message;
    case KindRole: return kindName(toast.type);
    case IconNameRole: return iconName(toast.type);
    case DurationRole: return toast.duration;
    default: return {};
    }
}

QHash<int, QByteArray> ToastManager::roleNames() const {
    return {{IdRole, "toastId"},
            {MessageRole, "message"},
            {KindRole, "kind"},
            {IconNameRole, "iconName"},
            {DurationRole, "duration"}};
}

}  // namespace korvanta

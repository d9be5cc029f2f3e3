// Short transient messages stacked over the window, each removed after its own duration.
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QQmlEngine>
#include <QString>
#include <QUuid>

namespace korvanta {

// The list model of the messages on screen, oldest first (row 0). One shared instance for the
// process; tests make their own. Main thread only. Dismissals are scheduled through
// DelayScheduler, so tests step time by hand.
class ToastManager : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // The kinds as the screens pass them to show().
    Q_PROPERTY(int success READ successType CONSTANT)
    Q_PROPERTY(int warning READ warningType CONSTANT)
    Q_PROPERTY(int error READ errorType CONSTANT)
    Q_PROPERTY(int info READ infoType CONSTANT)

public:
    enum class ToastType { Success, Warning, Error, Info };
    Q_ENUM(ToastType)

    struct ToastMessage {
        QUuid id = QUuid::createUuid();
        QString message;
        double duration = 3.0;  // seconds on screen
        ToastType type = ToastType::Success;
    };

    // Roles of the rows: "toastId" (text), "message", "kind" ("success", "warning", "error" or
    // "info", also the name of the theme colour that tints it), "iconName" (a symbol name of
    // the icon table), "duration" (seconds).
    enum Role { IdRole = Qt::UserRole + 1, MessageRole, KindRole, IconNameRole, DurationRole };

    static ToastManager* shared();
    static ToastManager* create(QQmlEngine*, QJSEngine* engine);
    // No default argument: QML would make its own instance instead of taking shared().
    explicit ToastManager(QObject* parent);

    // Appends the message and schedules its dismissal `duration` seconds later (a negative or
    // non-finite duration counts as 0). The same message may be shown more than once.
    void show(const ToastMessage& toast);
    // QML's form: `type` 0 success, 1 warning, 2 error, 3 info (anything else: info).
    Q_INVOKABLE void show(const QString& message, int type = 0, double seconds = 3.0);
    // Removes every row with this id; an id no longer shown changes nothing.
    void dismiss(const QUuid& id);
    Q_INVOKABLE void dismiss(const QString& id) { dismiss(QUuid::fromString(id)); }

    const QList<ToastMessage>& messages() const { return messages_; }
    int count() const { return int(messages_.size()); }

    static QString kindName(ToastType type);
    static QString iconName(ToastType type);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void countChanged();

private:
    static int successType() { return int(ToastType::Success); }
    static int warningType() { return int(ToastType::Warning); }
    static int errorType() { return int(ToastType::Error); }
    static int infoType() { return int(ToastType::Info); }

    QList<ToastMessage> messages_;
};

}  // namespace korvanta

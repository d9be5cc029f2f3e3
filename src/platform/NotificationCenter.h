// Named notifications without payload between the panels and the main window.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace korvanta {

// Every name posted or observed in the application.
namespace notifications {
inline constexpr const char* kThemeDidChange = "ThemeDidChange";
inline constexpr const char* kVectorscopeStateChanged = "VectorscopeStateChanged";
inline constexpr const char* kSettingsWindowClosed = "SettingsWindowClosed";
inline constexpr const char* kResetApplicationToDefaults = "ResetApplicationToDefaults";
inline constexpr const char* kStartProcessingWithEQ = "StartProcessingWithEQ";
inline constexpr const char* kRemasterWithEQ = "RemasterWithEQ";
inline constexpr const char* kRemasterWithReference = "RemasterWithReference";
inline constexpr const char* kReferenceTrackLoaded = "ReferenceTrackLoaded";
inline constexpr const char* kEQSettingsChanged = "EQSettingsChanged";
inline constexpr const char* kTriggerRemasterPulse = "TriggerRemasterPulse";
inline constexpr const char* kRequestCurrentPlayback = "RequestCurrentPlayback";
// Posted once when the application is about to quit (the event loop is still running).
inline constexpr const char* kApplicationWillTerminate = "ApplicationWillTerminate";
}  // namespace notifications

// One hub for the whole process, created on first use and never destroyed.
//
// Observers run on the main thread. A post from the main thread runs the observers registered for
// that name before post() returns, in the order they were added; a post from any other thread is
// handed to the main thread and runs them there. An observer added or removed while a name is
// being delivered takes effect from the next post.
class NotificationCenter : public QObject {
    Q_OBJECT

public:
    using Token = quint64;
    using Block = std::function<void()>;

    static NotificationCenter* shared();

    // Main thread. Returns the registration's token (never 0). When `context` is given the
    // registration ends by itself when that object is destroyed.
    Token addObserver(const QString& name, Block block, QObject* context = nullptr);
    // Main thread. Unknown or already removed tokens are ignored.
    void removeObserver(Token token);

    // Any thread.
    Q_INVOKABLE void post(const QString& name);

    // Number of live registrations for `name` (tests and diagnostics).
    int observerCount(const QString& name) const;

signals:
    // Emitted on the main thread after the observers of `name` have run; QML listens here.
    void posted(const QString& name);

private:
    struct Registration {
        QString name;
        Block block;
        QPointer<QObject> context;
        bool hasContext = false;
    };
    void deliver(const QString& name);

    Token nextToken_ = 1;
    QHash<Token, Registration> registrations_;
    QList<Token> order_;  // tokens in the order they were added
};

}  // namespace korvanta

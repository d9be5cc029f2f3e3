// A floating tool window (settings, equaliser, reference track, vectorscope) as its manager sees
// it. The application shows panels as Qt Quick tool windows; tests use a fake.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>

#include "platform/PanelFrame.h"

namespace korvanta {

// Main thread only.
class FloatingPanel : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~FloatingPanel() override = default;

    virtual PanelFrame frame() const = 0;
    // Moves and resizes the panel (its size never below the minimum size it was made with).
    virtual void setFrame(const PanelFrame& frame) = 0;
    virtual void setTitle(const QString& title) = 0;
    // Replaces the panel's content: the QML component at `source` with `properties` set.
    virtual void setContent(const QUrl& source, const QVariantMap& properties) = 0;
    // Shows the panel in front of the others and gives it the keyboard focus.
    virtual void bringToFront() = 0;
    // Takes the panel off the screen; it can be shown again.
    virtual void orderOut() = 0;
    // Closes the panel for good. Never emits userWillClose().
    virtual void close() = 0;
    virtual bool isVisible() const = 0;

signals:
    void moved();
    void resized();
    // The user closes the panel (its close button, Escape, the window manager); the panel is
    // gone once the handlers have run.
    void userWillClose();
};

// What a panel is made with.
struct PanelOptions {
    QString title;
    QString identifier;
    QSize contentSize;
    QSize minimumSize;
};

// Makes panels. Installed once by the application (Qt Quick windows) or by a test (fakes).
class PanelFactory {
public:
    virtual ~PanelFactory() = default;
    virtual std::unique_ptr<FloatingPanel> createPanel(const PanelOptions& options) = 0;
    // The usable area of the main screen (a zero frame when there is no screen).
    virtual PanelFrame mainScreenVisibleFrame() const = 0;

    // The factory installed at that moment; never null (until one is installed, a factory whose
    // panels are invisible stand-ins, so that managers work without a window system).
    static PanelFactory& shared();
    static void install(std::shared_ptr<PanelFactory> factory);
};

}  // namespace korvanta

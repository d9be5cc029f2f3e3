// Floating panels as Qt Quick tool windows.
#pragma once

#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>

#include "platform/FloatingPanel.h"

namespace korvanta {

// Makes each panel from PanelWindow.qml in `engine`; its content is loaded into the window.
class QuickPanelFactory final : public PanelFactory {
public:
    explicit QuickPanelFactory(QQmlEngine* engine) : engine_(engine) {}
    std::unique_ptr<FloatingPanel> createPanel(const PanelOptions& options) override;
    PanelFrame mainScreenVisibleFrame() const override;

private:
    QPointer<QQmlEngine> engine_;
};

class QuickPanel final : public FloatingPanel {
    Q_OBJECT
public:
    QuickPanel(QQuickWindow* window, const PanelOptions& options);
    ~QuickPanel() override;

    PanelFrame frame() const override;
    void setFrame(const PanelFrame& frame) override;
    void setTitle(const QString& title) override;
    void setContent(const QUrl& source, const QVariantMap& properties) override;
    void bringToFront() override;
    void orderOut() override;
    void close() override;
    bool isVisible() const override;

private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    QPointer<QQuickWindow> window_;
    bool closing_ = false;  // close() in progress: the window's close is not the user's
};

}  // namespace korvanta

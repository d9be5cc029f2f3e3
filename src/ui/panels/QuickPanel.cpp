#include "ui/panels/QuickPanel.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QScreen>

namespace korvanta {

namespace {
const QUrl kPanelWindow(QStringLiteral("qrc:/Korvanta/panels/PanelWindow.qml"));
}

std::unique_ptr<FloatingPanel> QuickPanelFactory::createPanel(const PanelOptions& options) {
    QQuickWindow* window = nullptr;
    if (engine_) {
        QQmlComponent component(engine_, kPanelWindow);
        QObject* object = component.createWithInitialProperties(
            {{QStringLiteral("title"), options.title},
             {QStringLiteral("identifier"), options.identifier},
             {QStringLiteral("width"), options.contentSize.width()},
             {QStringLiteral("height"), options.contentSize.height()},
             {QStringLiteral("minimumWidth"), options.minimumSize.width()},
             {QStringLiteral("minimumHeight"), options.minimumSize.height()}});
        window = qobject_cast<QQuickWindow*>(object);
        if (!window) {
            qWarning("Failed to make a panel: %s", qPrintable(component.errorString()));
            delete object;
        }
    }
    if (!window) window = new QQuickWindow;  // an empty panel rather than none
    return std::make_unique<QuickPanel>(window, options);
}

PanelFrame QuickPanelFactory::mainScreenVisibleFrame() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const QRect r = screen->availableGeometry();
    return {double(r.x()), double(r.y()), double(r.width()), double(r.height())};
}

QuickPanel::QuickPanel(QQuickWindow* window, const PanelOptions& options) : window_(window) {
    window_->setFlag(Qt::Tool, true);
    window_->setTitle(options.title);
    window_->setMinimumSize(options.minimumSize);
    window_->installEventFilter(this);
    connect(window_, &QWindow::xChanged, this, &FloatingPanel::moved);
    connect(window_, &QWindow::yChanged, this, &FloatingPanel::moved);
    connect(window_, &QWindow::widthChanged, this, &FloatingPanel::resized);
    connect(window_, &QWindow::heightChanged, this, &FloatingPanel::resized);
}

QuickPanel::~QuickPanel() {
    if (window_) {
        closing_ = true;
        window_->removeEventFilter(this);
        window_->deleteLater();
    }
}

bool QuickPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close && !closing_) {
        // The user closes the panel (close button, Escape or the window manager).
        emit userWillClose();
    }
    return FloatingPanel::eventFilter(watched, event);
}

PanelFrame QuickPanel::frame() const {
    if (!window_) return {};
    const QRect r = window_->geometry();
    return {double(r.x()), double(r.y()), double(r.width()), double(r.height())};
}

void QuickPanel::setFrame(const PanelFrame& f) {
    if (!window_) return;
    const QSize minimum = window_->minimumSize();
    window_->setGeometry(int(f.x), int(f.y), std::max(int(f.width), minimum.width()),
                         std::max(int(f.height), minimum.height()));
}

void QuickPanel::setTitle(const QString& title) {
    if (window_) window_->setTitle(title);
}

void QuickPanel::setContent(const QUrl& source, const QVariantMap& properties) {
    if (!window_) return;
    QMetaObject::invokeMethod(window_, "setContent", Q_ARG(QVariant, source), Q_ARG(QVariant, properties));
}

void QuickPanel::bringToFront() {
    if (!window_) return;
    window_->show();
    window_->raise();
    window_->requestActivate();
}

void QuickPanel::orderOut() {
    if (window_) window_->hide();
}

void QuickPanel::close() {
    if (!window_) return;
    closing_ = true;
    window_->close();
    window_->hide();
    closing_ = false;
}

bool QuickPanel::isVisible() const { return window_ && window_->isVisible(); }

}  // namespace korvanta

// Panels without a window system: a factory whose panels record what their manager did to them
// and let a test play the user (moving, resizing, closing).
#pragma once

#include <QPointer>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/FloatingPanel.h"

namespace korvanta::test {

class FakePanel final : public FloatingPanel {
public:
    explicit FakePanel(PanelOptions options) : options(std::move(options)) {
        frame_ = {0, 0, double(this->options.contentSize.width()),
                  double(this->options.contentSize.height())};
        title = this->options.title;
    }

    PanelFrame frame() const override { return frame_; }
    void setFrame(const PanelFrame& f) override {
        frame_ = f;
        frame_.width = std::max(frame_.width, double(options.minimumSize.width()));
        frame_.height = std::max(frame_.height, double(options.minimumSize.height()));
    }
    void setTitle(const QString& t) override { title = t; }
    void setContent(const QUrl& source, const QVariantMap& properties) override {
        contentSource = source;
        contentProperties = properties;
        ++contentChanges;
    }
    void bringToFront() override {
        visible_ = true;
        ++timesBroughtToFront;
    }
    void orderOut() override { visible_ = false; }
    void close() override {
        visible_ = false;
        closed = true;
    }
    bool isVisible() const override { return visible_; }

    // The user drags or resizes the panel.
    void userMoves(const PanelFrame& f) {
        setFrame(f);
        emit moved();
        emit resized();
    }
    // The user closes the panel; afterwards it is closed, like a real window.
    void userCloses() {
        emit userWillClose();
        visible_ = false;
        closed = true;
    }

    PanelOptions options;
    QString title;
    QUrl contentSource;
    QVariantMap contentProperties;
    int contentChanges = 0;
    int timesBroughtToFront = 0;
    bool closed = false;

private:
    PanelFrame frame_;
    bool visible_ = false;
};

class FakePanelFactory final : public PanelFactory {
public:
    std::unique_ptr<FloatingPanel> createPanel(const PanelOptions& options) override {
        auto panel = std::make_unique<FakePanel>(options);
        made.push_back(panel.get());
        return panel;
    }
    PanelFrame mainScreenVisibleFrame() const override { return screen; }

    // The newest panel with that title that still exists, or null.
    FakePanel* latest(const QString& title) const {
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            if (*it && (*it)->options.title == title) return it->data();
        }
        return nullptr;
    }

    PanelFrame screen{0, 0, 1440, 900};
    std::vector<QPointer<FakePanel>> made;
};

// Installs a fresh fake factory for the test's lifetime (the previous one is not restored:
// every test that uses panels installs its own).
inline std::shared_ptr<FakePanelFactory> installFakePanels() {
    auto factory = std::make_shared<FakePanelFactory>();
    PanelFactory::install(factory);
    return factory;
}

}  // namespace korvanta::test

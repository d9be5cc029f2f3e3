#include "platform/FloatingPanel.h"

#include <algorithm>
#include <mutex>

namespace korvanta {

namespace {

// Keeps what it is told and shows nothing.
class HeadlessPanel final : public FloatingPanel {
public:
    explicit HeadlessPanel(const PanelOptions& options)
        : minimum_(options.minimumSize), frame_{0, 0, double(options.contentSize.width()),
                                                double(options.contentSize.height())} {}
    PanelFrame frame() const override { return frame_; }
    void setFrame(const PanelFrame& frame) override {
        frame_ = frame;
        frame_.width = std::max(frame_.width, double(minimum_.width()));
        frame_.height = std::max(frame_.height, double(minimum_.height()));
    }
    void setTitle(const QString&) override {}
    void setContent(const QUrl&, const QVariantMap&) override {}
    void bringToFront() override { visible_ = true; }
    void orderOut() override { visible_ = false; }
    void close() override { visible_ = false; }
    bool isVisible() const override { return visible_; }

private:
    QSize minimum_;
    PanelFrame frame_;
    bool visible_ = false;
};

class HeadlessPanelFactory final : public PanelFactory {
public:
    std::unique_ptr<FloatingPanel> createPanel(const PanelOptions& options) override {
        return std::make_unique<HeadlessPanel>(options);
    }
    PanelFrame mainScreenVisibleFrame() const override { return {}; }
};

std::mutex factoryMutex;
std::shared_ptr<PanelFactory>& installedFactory() {
    static std::shared_ptr<PanelFactory> factory = std::make_shared<HeadlessPanelFactory>();
    return factory;
}

}  // namespace

PanelFactory& PanelFactory::shared() {
    std::lock_guard lock(factoryMutex);
    return *installedFactory();
}

void PanelFactory::install(std::shared_ptr<PanelFactory> factory) {
    std::lock_guard lock(factoryMutex);
    if (factory) installedFactory() = std::move(factory);
}

}  // namespace korvanta

#include "ui/EngineSetup.h"

#include <QQuickImageProvider>

#include "app/SettingsWindowManager.h"
#include "ui/AppFonts.h"
#include "ui/panels/QuickPanel.h"

namespace korvanta {

namespace {

// "image://artwork/<revision>": the stored cover image.
class ArtworkImageProvider final : public QQuickImageProvider {
public:
    ArtworkImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}
    QImage requestImage(const QString&, QSize* size, const QSize& requestedSize) override {
        QImage image = QImage::fromData(SettingsWindowManager::shared()->storedArtwork());
        if (!image.isNull() && requestedSize.isValid())
            image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (size) *size = image.size();
        return image;
    }
};

}  // namespace

void setUpEngine(QQmlApplicationEngine& engine) {
    appFonts();  // before any text is laid out
    engine.addImportPath(QStringLiteral("qrc:/"));  // where the module "Korvanta" lives
    engine.addImageProvider(QStringLiteral("artwork"), new ArtworkImageProvider);
    PanelFactory::install(std::make_shared<QuickPanelFactory>(&engine));
}

}  // namespace korvanta

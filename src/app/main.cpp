// korvanta: the desktop application.
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"
#include "app/SettingsStore.h"
#include "platform/FfmpegLogging.h"
#include "ui/EngineSetup.h"

Q_IMPORT_QML_PLUGIN(KorvantaPlugin)

int main(int argc, char** argv) {
    using namespace korvanta;
    const LaunchOptions options = parseLaunchOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "korvanta: %s (see korvanta --help)\n", options.error.c_str());
        return 2;
    }
    if (options.showHelp) {
        std::fputs(launchHelpText(), stdout);
        return 0;
    }
    if (options.showVersion) {
        std::printf("korvanta %s\n", KORVANTA_VERSION);
        return 0;
    }
    if (!hasDisplay()) {
        std::fputs("korvanta: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are unset); "
                   "korvanta-cli does the same work headless\n",
                   stderr);
        return 1;
    }

    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Korvanta"));
    QGuiApplication::setApplicationName(QStringLiteral("Korvanta"));
    QGuiApplication::setApplicationVersion(QStringLiteral(KORVANTA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("korvanta"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/Korvanta/images/korvanta.svg")));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    silenceFfmpegLog();
    installSharedPreferences(std::make_shared<SettingsStore>());

    AppDelegate delegate;
    QQmlApplicationEngine engine;
    setUpEngine(engine);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    delegate.applicationDidFinishLaunching();

    QStringList paths;
    for (const auto& p : options.paths) paths << QString::fromStdString(p);
    engine.setInitialProperties({{QStringLiteral("initialPaths"), paths}});
    engine.load(QUrl(QStringLiteral("qrc:/Korvanta/Main.qml")));
    if (engine.rootObjects().isEmpty()) return 1;
    return app.exec();
}

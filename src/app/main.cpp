// korvanta: the desktop application.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(KorvantaPlugin)

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/Korvanta/Main.qml")));
    if (engine.rootObjects().isEmpty()) return 1;
    return app.exec();
}

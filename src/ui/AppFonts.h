// The window's fonts: Inter for text, Material Icons for the icons, Noto Color Emoji for emoji,
// loaded from the files the distribution installs, with a fallback for each one that is missing.
#pragma once

#include <QObject>
#include <QQmlEngine>
#include <QString>
#include <QStringList>

namespace korvanta {

struct FontFiles {
    QStringList text;   // tried in order; every one that loads is added (weights of one family)
    QStringList icons;
    QStringList emoji;

    // The Debian locations of fonts-inter, fonts-material-design-icons-iconfont and
    // fonts-noto-color-emoji.
    static FontFiles debian();
};

struct FontFamilies {
    QString text;   // never empty: the system's general font when Inter is missing
    QString icons;  // empty when no icon font is available (icons then draw nothing)
    QString emoji;  // empty when no colour emoji font is available
};

// Adds the fonts that exist among `files` to the application's font database and answers the
// families to use. A family already known to the system counts as loaded. Makes the text
// family the application's default font, with emoji falling back to the emoji family. Main
// thread, after the QGuiApplication exists.
FontFamilies loadFonts(const FontFiles& files);

// The families of the first call's loadFonts(FontFiles::debian()); later calls answer the same.
const FontFamilies& appFonts();

// The families as QML reads them: AppFonts.text, AppFonts.icons, AppFonts.emoji.
class AppFonts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString text READ text CONSTANT)
    Q_PROPERTY(QString icons READ icons CONSTANT)
    Q_PROPERTY(QString emoji READ emoji CONSTANT)

public:
    explicit AppFonts(QObject* parent = nullptr) : QObject(parent) {}
    QString text() const { return appFonts().text; }
    QString icons() const { return appFonts().icons; }
    QString emoji() const { return appFonts().emoji; }
};

}  // namespace korvanta

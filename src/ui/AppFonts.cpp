#include "ui/AppFonts.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

#include <iostream>

namespace korvanta {

namespace {

// Adds every file of `paths` that exists and loads; answers the family of the first one.
QString addFonts(const QStringList& paths) {
    QString family;
    for (const QString& path : paths) {
        if (!QFile::exists(path)) continue;
        const int id = QFontDatabase::addApplicationFont(path);
        const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList{};
        if (family.isEmpty() && !families.isEmpty()) family = families.first();
    }
    return family;
}

QString installedFamily(const QString& family) {
    return QFontDatabase::hasFamily(family) ? family : QString();
}

}  // namespace

FontFiles FontFiles::debian() {
    FontFiles files;
    for (const char* weight : {"Regular", "Medium", "SemiBold", "Bold", "ExtraBold", "Black"}) {
        files.text << QStringLiteral("/usr/share/fonts/opentype/inter/Inter-%1.otf").arg(QLatin1String(weight))
                   << QStringLiteral("/usr/share/fonts/truetype/inter/Inter-%1.ttf").arg(QLatin1String(weight));
    }
    files.icons << QStringLiteral("/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf");
    files.emoji << QStringLiteral("/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf");
    return files;
}

FontFamilies loadFonts(const FontFiles& files) {
    FontFamilies families;
    families.text = addFonts(files.text);
    if (families.text.isEmpty()) families.text = installedFamily(QStringLiteral("Inter"));
    if (families.text.isEmpty()) {
        families.text = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        std::cout << "Font Inter not found, using " << families.text.toStdString() << std::endl;
    }
    families.icons = addFonts(files.icons);
    if (families.icons.isEmpty()) families.icons = installedFamily(QStringLiteral("Material Icons"));
    if (families.icons.isEmpty()) std::cout << "Font Material Icons not found, icons are not shown" << std::endl;
    families.emoji = addFonts(files.emoji);
    if (families.emoji.isEmpty()) families.emoji = installedFamily(QStringLiteral("Noto Color Emoji"));

    QFont font = QGuiApplication::font();
    font.setFamilies(families.emoji.isEmpty() ? QStringList{families.text}
                                              : QStringList{families.text, families.emoji});
    QGuiApplication::setFont(font);
    // Text items name one family; emoji they lack are looked up here.
    if (!families.emoji.isEmpty()) QFont::insertSubstitution(families.text, families.emoji);
    return families;
}

const FontFamilies& appFonts() {
    static const FontFamilies families = loadFonts(FontFiles::debian());
    return families;
}

}  // namespace korvanta

#include "ui/controls/IconTable.h"

#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QRawFont>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "ui/AppFonts.h"
#include "ui/controls/Icons.h"

namespace korvanta {
namespace {

const QString kIconFont =
    QStringLiteral("/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf");

TEST(IconTable, EveryGlyphExistsInTheIconFont) {
    ASSERT_TRUE(QFile::exists(kIconFont)) << "scripts/setup installs fonts-material-design-icons-iconfont";
    const QRawFont font(kIconFont, 24);
    ASSERT_TRUE(font.isValid());
    for (const IconGlyph& glyph : iconTable()) {
        EXPECT_TRUE(font.supportsCharacter(uint(glyph.codepoint)))
            << glyph.symbol << " → " << glyph.material << " U+" << std::hex << uint(glyph.codepoint);
    }
}

// Every symbol a screen names (`name:` / `iconName:` lines of the QML sources) is in the table.
TEST(IconTable, KnowsEverySymbolTheScreensUse) {
    const QRegularExpression iconLine(QStringLiteral(R"(\b(name|iconName)\s*:)"));
    const QRegularExpression literal(QStringLiteral(R"re("([a-z][a-z0-9.]*)")re"));
    int checked = 0;
    QDirIterator files(QStringLiteral(KORVANTA_UI_SOURCE_DIR), {QStringLiteral("*.qml")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        for (const QString& line : lines) {
            if (!iconLine.match(line).hasMatch() || line.contains(QStringLiteral("Accessible."))) continue;
            for (auto it = literal.globalMatch(line); it.hasNext();) {
                const std::string symbol = it.next().captured(1).toStdString();
                EXPECT_TRUE(iconCodepoint(symbol)) << symbol << " in " << file.fileName().toStdString();
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 20) << "the scan found the screens' icons";
}

TEST(Icons, UnknownNamesDrawNothingAndAreReportedOnce) {
    Icons icons(QStringLiteral("Material Icons"), nullptr);
    EXPECT_EQ(icons.glyph(QStringLiteral("trash")), QString(QChar(0xe92e)));
    EXPECT_EQ(icons.glyph(QString()), QString());
    testing::internal::CaptureStdout();
    EXPECT_EQ(icons.glyph(QStringLiteral("no.such.symbol")), QString());
    EXPECT_EQ(icons.glyph(QStringLiteral("no.such.symbol")), QString());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unknown icon name: no.such.symbol\n");

    Icons withoutFont(QString(), nullptr);
    EXPECT_EQ(withoutFont.glyph(QStringLiteral("trash")), QString()) << "no font: no boxes";
}

TEST(AppFonts, LoadsTheInstalledFontsAndFallsBackWithoutThem) {
    const FontFamilies installed = loadFonts(FontFiles::debian());
    EXPECT_EQ(installed.text, QStringLiteral("Inter"));
    EXPECT_EQ(installed.icons, QStringLiteral("Material Icons"));
    EXPECT_EQ(installed.emoji, QStringLiteral("Noto Color Emoji"));

    FontFiles missing;
    missing.text << QStringLiteral("/nonexistent/Inter-Regular.otf");
    missing.icons << QStringLiteral("/nonexistent/icons.ttf");
    testing::internal::CaptureStdout();
    const FontFamilies fallback = loadFonts(missing);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fallback.text.isEmpty());
    EXPECT_TRUE(QFontDatabase::hasFamily(fallback.text));
}

}  // namespace
}  // namespace korvanta

#include "ui/controls/Icons.h"

#include <iostream>

#include "ui/AppFonts.h"
#include "ui/controls/IconTable.h"

namespace korvanta {

Icons::Icons(QObject* parent) : Icons(appFonts().icons, parent) {}

Icons::Icons(QString fontFamily, QObject* parent) : QObject(parent), fontFamily_(std::move(fontFamily)) {}

QString Icons::glyph(const QString& name) {
    if (name.isEmpty()) return {};
    const std::optional<char32_t> codepoint = iconCodepoint(name.toStdString());
    if (!codepoint) {
        if (!reported_.contains(name)) {
            reported_.insert(name);
            std::cout << "Unknown icon name: " << name.toStdString() << std::endl;
        }
        return {};
    }
    if (fontFamily_.isEmpty()) return {};
    const char32_t text[] = {*codepoint};
    return QString::fromUcs4(text, 1);
}

}  // namespace korvanta

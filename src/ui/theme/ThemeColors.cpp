#include "ui/theme/ThemeColors.h"

namespace korvanta {

ThemeColors::ThemeColors(AppTheme theme, QObject* parent) : QObject(parent), theme_(std::move(theme)) {}

void ThemeColors::setTheme(const AppTheme& theme) {
    bool same = theme.id == theme_.id && theme.name == theme_.name;
    for (const ThemeColourField& field : kThemeColourFields) same = same && theme.*field.member == theme_.*field.member;
    if (same) return;
    theme_ = theme;
    emit changed();
}

}  // namespace korvanta

// A colour scheme of the window: its name, its stable id and the 21 colours every screen takes
// from it. Plain values, no Qt.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvanta {

// An opaque sRGB colour, 0xRRGGBB.
struct Rgb {
    uint32_t value = 0;

    constexpr uint8_t red() const { return uint8_t(value >> 16); }
    constexpr uint8_t green() const { return uint8_t(value >> 8); }
    constexpr uint8_t blue() const { return uint8_t(value); }
    constexpr bool operator==(const Rgb&) const = default;
};

struct AppTheme {
    std::string id;    // stable key, stored under "selectedThemeId"
    std::string name;  // shown to the user

    Rgb primary;
    Rgb secondary;
    Rgb accent;
    Rgb background;
    Rgb backgroundSecondary;
    Rgb cardBackground;
    Rgb elementBackground;
    Rgb textPrimary;
    Rgb textSecondary;
    Rgb success;
    Rgb warning;
    Rgb error;
    Rgb info;
    Rgb lufsColor;
    Rgb rmsColor;
    Rgb peakColor;
    Rgb stereoColor;
    Rgb originalMode;
    Rgb masterMode;
    Rgb finalMode;
    Rgb eqMode;
};

// The colours by name, in declaration order: what screens and tests iterate over.
struct ThemeColourField {
    std::string_view name;
    Rgb AppTheme::*member;
};
inline constexpr int kThemeColourCount = 21;
extern const std::array<ThemeColourField, kThemeColourCount> kThemeColourFields;

// WCAG 2 relative luminance of an sRGB colour, 0 (black) … 1 (white).
double relativeLuminance(Rgb colour);
// WCAG 2 contrast ratio of two colours, 1 … 21, the same whichever comes first.
double contrastRatio(Rgb a, Rgb b);

}  // namespace korvanta

#include "ui/theme/AppTheme.h"

#include <algorithm>
#include <cmath>

namespace korvanta {

const std::array<ThemeColourField, kThemeColourCount> kThemeColourFields{{
    {"primary", &AppTheme::primary},
    {"secondary", &AppTheme::secondary},
    {"accent", &AppTheme::accent},
    {"background", &AppTheme::background},
    {"backgroundSecondary", &AppTheme::backgroundSecondary},
    {"cardBackground", &AppTheme::cardBackground},
    {"elementBackground", &AppTheme::elementBackground},
    {"textPrimary", &AppTheme::textPrimary},
    {"textSecondary", &AppTheme::textSecondary},
    {"success", &AppTheme::success},
    {"warning", &AppTheme::warning},
    {"error", &AppTheme::error},
    {"info", &AppTheme::info},
    {"lufsColor", &AppTheme::lufsColor},
    {"rmsColor", &AppTheme::rmsColor},
    {"peakColor", &AppTheme::peakColor},
    {"stereoColor", &AppTheme::stereoColor},
    {"originalMode", &AppTheme::originalMode},
    {"masterMode", &AppTheme::masterMode},
    {"finalMode", &AppTheme::finalMode},
    {"eqMode", &AppTheme::eqMode},
}};

namespace {

double linearChannel(uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

double relativeLuminance(Rgb colour) {
    return 0.2126 * linearChannel(colour.red()) + 0.7152 * linearChannel(colour.green()) +
           0.0722 * linearChannel(colour.blue());
}

double contrastRatio(Rgb a, Rgb b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace korvanta

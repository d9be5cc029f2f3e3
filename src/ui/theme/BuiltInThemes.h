// The six colour schemes that come with the application, in the order the settings list them.
#pragma once

#include <string_view>
#include <vector>

#include "ui/theme/AppTheme.h"

namespace korvanta {

// "original" (the default), "dark", "ocean", "sunset", "forest", "teal". Every scheme is dark
// and keeps, against each of its four background colours, a contrast of at least 4.5:1 for
// textPrimary and 3:1 for textSecondary and every colour drawn as text or as a figure.
const std::vector<AppTheme>& builtInThemes();

// The built-in scheme with this id, or nullptr.
const AppTheme* findBuiltInTheme(std::string_view id);

inline constexpr std::string_view kDefaultThemeId = "original";

}  // namespace korvanta

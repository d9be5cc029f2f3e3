#include "ui/theme/BuiltInThemes.h"

namespace korvanta {

namespace {

// Blue-violet night with warm orange actions: the look the application was designed in.
AppTheme originalTheme() {
    return AppTheme{
        .id = "original",
        .name = "Original",
        .primary = {0x6c5ce7},
        .secondary = {0xa29bfe},
        .accent = {0xfd9644},
        .background = {0x0f1222},
        .backgroundSecondary = {0x161a2e},
        .cardBackground = {0x1c2139},
        .elementBackground = {0x262c4a},
        .textPrimary = {0xf1f2f8},
        .textSecondary = {0xa7abc3},
        .success = {0x2ecc71},
        .warning = {0xf1c40f},
        .error = {0xf24c4c},
        .info = {0x48dbfb},
        .lufsColor = {0x48dbfb},
        .rmsColor = {0xa29bfe},
        .peakColor = {0xff9f43},
        .stereoColor = {0x1dd1a1},
        .originalMode = {0x54a0ff},
        .masterMode = {0xfd9644},
        .finalMode = {0xff6b81},
        .eqMode = {0x1dd1a1},
    };
}

// Neutral greys; colour only where it means something.
AppTheme darkTheme() {
    return AppTheme{
        .id = "dark",
        .name = "Dark Mode",
        .primary = {0x0a84ff},
        .secondary = {0x64d2ff},
        .accent = {0xff9f0a},
        .background = {0x111111},
        .backgroundSecondary = {0x1a1a1a},
        .cardBackground = {0x202020},
        .elementBackground = {0x2c2c2c},
        .textPrimary = {0xf2f2f2},
        .textSecondary = {0xa8a8a8},
        .success = {0x30d158},
        .warning = {0xffd60a},
        .error = {0xff453a},
        .info = {0x64d2ff},
        .lufsColor = {0x64d2ff},
        .rmsColor = {0xbf5af2},
        .peakColor = {0xff9f0a},
        .stereoColor = {0x30d158},
        .originalMode = {0x64d2ff},
        .masterMode = {0xff9f0a},
        .finalMode = {0xff375f},
        .eqMode = {0x30d158},
    };
}

// Deep navy with aqua highlights and sandy warm tones.
AppTheme oceanBlueTheme() {
    return AppTheme{
        .id = "ocean",
        .name = "Ocean Blue",
        .primary = {0x2f80e8},
        .secondary = {0x5aa9e6},
        .accent = {0x2ee6d6},
        .background = {0x06182b},
        .backgroundSecondary = {0x0a2038},
        .cardBackground = {0x0e2a47},
        .elementBackground = {0x163a5e},
        .textPrimary = {0xeaf4ff},
        .textSecondary = {0x9fbad6},
        .success = {0x2fd19a},
        .warning = {0xffc857},
        .error = {0xec5b5b},
        .info = {0x4cc9f0},
        .lufsColor = {0x4cc9f0},
        .rmsColor = {0x8fa8ff},
        .peakColor = {0xffb86b},
        .stereoColor = {0x2ee6d6},
        .originalMode = {0x7fb3ff},
        .masterMode = {0xffb86b},
        .finalMode = {0xff7eb6},
        .eqMode = {0x2ee6d6},
    };
}

// Near-black with gold, amber, coral and champagne (its id is older than its name).
AppTheme sunsetPurpleTheme() {
    return AppTheme{
        .id = "sunset",
        .name = "Black & Gold",
        .primary = {0xd4a72c},
        .secondary = {0xa8842c},
        .accent = {0xf2c94c},
        .background = {0x0a0a0a},
        .backgroundSecondary = {0x121110},
        .cardBackground = {0x1a1815},
        .elementBackground = {0x26231d},
        .textPrimary = {0xf7f1e3},
        .textSecondary = {0xb3a88f},
        .success = {0x6fcf7f},
        .warning = {0xf2c94c},
        .error = {0xeb5757},
        .info = {0x7fb8e6},
        .lufsColor = {0xf2c94c},
        .rmsColor = {0xe6dcc3},
        .peakColor = {0xff8a4c},
        .stereoColor = {0x7fc8a9},
        .originalMode = {0xe6dcc3},
        .masterMode = {0xd4a72c},
        .finalMode = {0xff7f6e},
        .eqMode = {0x7fb8e6},
    };
}

// Pine-dark greens with honey and sky accents.
AppTheme forestGreenTheme() {
    return AppTheme{
        .id = "forest",
        .name = "Forest Green",
        .primary = {0x2f9e5a},
        .secondary = {0x6fbf73},
        .accent = {0xe0b04c},
        .background = {0x0b1610},
        .backgroundSecondary = {0x102018},
        .cardBackground = {0x15291e},
        .elementBackground = {0x1f3a2b},
        .textPrimary = {0xecf5ee},
        .textSecondary = {0xa3bfae},
        .success = {0x5fd38d},
        .warning = {0xf0c04a},
        .error = {0xe8544f},
        .info = {0x6cc3e0},
        .lufsColor = {0x8fd694},
        .rmsColor = {0xc3e07a},
        .peakColor = {0xe0b04c},
        .stereoColor = {0x6cc3e0},
        .originalMode = {0x8fd694},
        .masterMode = {0xe0b04c},
        .finalMode = {0xf08a7e},
        .eqMode = {0x6cc3e0},
    };
}

// Dark teal water with soft pink, peach and periwinkle.
AppTheme tealDreamTheme() {
    return AppTheme{
        .id = "teal",
        .name = "Teal Dream",
        .primary = {0x0f9d8f},
        .secondary = {0x5fd4c4},
        .accent = {0xff8fab},
        .background = {0x051c1e},
        .backgroundSecondary = {0x082628},
        .cardBackground = {0x0c3033},
        .elementBackground = {0x133f42},
        .textPrimary = {0xe8fbf8},
        .textSecondary = {0x98c4bf},
        .success = {0x4ade80},
        .warning = {0xfbbf24},
        .error = {0xea5e5e},
        .info = {0x67e8f9},
        .lufsColor = {0x67e8f9},
        .rmsColor = {0xc4b5fd},
        .peakColor = {0xfdba74},
        .stereoColor = {0x5fd4c4},
        .originalMode = {0xa5b4fc},
        .masterMode = {0xff8fab},
        .finalMode = {0xfdba74},
        .eqMode = {0x5fd4c4},
    };
}

}  // namespace

const std::vector<AppTheme>& builtInThemes() {
    static const std::vector<AppTheme> themes{originalTheme(),    darkTheme(),
                                              oceanBlueTheme(),   sunsetPurpleTheme(),
                                              forestGreenTheme(), tealDreamTheme()};
    return themes;
}

const AppTheme* findBuiltInTheme(std::string_view id) {
    for (const AppTheme& theme : builtInThemes()) {
        if (theme.id == id) return &theme;
    }
    return nullptr;
}

}  // namespace korvanta

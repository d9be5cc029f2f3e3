#include "ui/controls/IconTable.h"

#include <algorithm>
#include <array>

namespace korvanta {

namespace {

// Codepoints from the font's own codepoints list (MaterialIcons-Regular, 6.7). Keep sorted.
constexpr std::array<IconGlyph, 28> kGlyphs{{
    {"arrow.clockwise", "refresh", 0xe5d5},
    {"arrow.down.circle.fill", "arrow_circle_down", 0xf181},
    {"arrowtriangle.down.fill", "arrow_drop_down", 0xe5c5},
    {"checkmark.circle", "check_circle_outline", 0xe92d},
    {"checkmark.circle.fill", "check_circle", 0xe86c},
    {"checkmark.seal.fill", "verified", 0xef76},
    {"checkmark.square.fill", "check_box", 0xe834},
    {"clock.fill", "access_time_filled", 0xefd6},
    {"doc.badge.plus", "note_add", 0xe89c},
    {"dot.radiowaves.left.and.right", "sensors", 0xe51e},
    {"exclamationmark.triangle.fill", "warning", 0xe002},
    {"folder", "folder", 0xe2c7},
    {"gearshape", "settings", 0xe8b8},
    {"info.circle", "info_outline", 0xe88f},
    {"info.circle.fill", "info", 0xe88e},
    {"music.note.list", "queue_music", 0xe03d},
    {"pause.fill", "pause", 0xe034},
    {"photo", "photo", 0xe410},
    {"play.fill", "play_arrow", 0xe037},
    {"slider.horizontal.3", "tune", 0xe429},
    {"square", "check_box_outline_blank", 0xe835},
    {"square.and.arrow.up", "ios_share", 0xe6b8},
    {"trash", "delete_outline", 0xe92e},
    {"wand.and.stars", "auto_fix_high", 0xe663},
    {"waveform.circle", "graphic_eq", 0xe1b8},
    {"xmark", "close", 0xe5cd},
    {"xmark.circle", "highlight_off", 0xe888},
    {"xmark.circle.fill", "cancel", 0xe5c9},
}};

static_assert(std::is_sorted(kGlyphs.begin(), kGlyphs.end(),
                             [](const IconGlyph& a, const IconGlyph& b) { return a.symbol < b.symbol; }));

}  // namespace

std::span<const IconGlyph> iconTable() { return kGlyphs; }

std::optional<char32_t> iconCodepoint(std::string_view symbol) {
    const auto it = std::lower_bound(kGlyphs.begin(), kGlyphs.end(), symbol,
                                     [](const IconGlyph& g, std::string_view s) { return g.symbol < s; });
    if (it == kGlyphs.end() || it->symbol != symbol) return std::nullopt;
    return it->codepoint;
}

}  // namespace korvanta

// The platform symbol names the screens ask for, mapped to glyphs of the Material Icons font.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace korvanta {

struct IconGlyph {
    std::string_view symbol;    // the name screens use, e.g. "wand.and.stars"
    std::string_view material;  // the glyph's name in the icon font, for whoever edits the table
    char32_t codepoint;         // where the glyph sits in the font (private use area)
};

// Every entry, sorted by symbol name.
std::span<const IconGlyph> iconTable();

// The codepoint for a symbol name; nullopt for a name the table does not know.
std::optional<char32_t> iconCodepoint(std::string_view symbol);

}  // namespace korvanta

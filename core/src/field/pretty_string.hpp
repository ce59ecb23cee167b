// The text picture of a field's playable area: two characters a cell, rows top to bottom,
// each row ended by a line feed and one more line feed at the end. With colour, every cell that
// is not empty is wrapped in a bold background-colour escape.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "../puyotype/puyotype.hpp"

namespace velmo {

struct CellPicture {
    std::string_view text;
    std::string_view style;  // after ESC; empty for a cell that is never coloured
};

// Indexed by array code.
inline constexpr std::array<CellPicture, kNumPuyoTypes> kCellPictures = {{
    {"__", ""},
    {"O_", "[1;47m"},
    {"W_", "[1;40m"},
    {"R_", "[1;41m"},
    {"B_", "[1;44m"},
    {"Y_", "[1;43m"},
    {"G_", "[1;42m"},
    {"P_", "[1;45m"},
}};

void append_cell_picture(std::string& out, RegularPuyoType type, bool color);

template <class F>
std::string pretty_string(const F& field, bool color) {
    using P = typename F::Puyo;
    std::string out;
    out.reserve(color ? 14 * (6 * 13 + 1) + 1 : 14 * 13 + 1);
    for (std::uint64_t y = 1; y <= 14; ++y) {
        for (std::uint64_t x = 1; x <= 6; ++x) append_cell_picture(out, PuyoTraits<P>::to_regular(field.get(x, y)), color);
        out += '\n';
    }
    out += '\n';
    return out;
}

}  // namespace velmo

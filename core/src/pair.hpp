// Pair<P>: the falling piece, two puyos. colors[0] is the child, colors[1] the axis.
#pragma once

#include <array>
#include <string>

#include "puyotype/puyotype.hpp"

namespace velmo {

template <PuyoType P>
struct Pair {
    std::array<P, 2> colors;

    [[nodiscard]] constexpr P child() const { return colors[0]; }
    [[nodiscard]] constexpr P axis() const { return colors[1]; }

    friend constexpr bool operator==(const Pair&, const Pair&) = default;
};

// "Pair { colors: [Red, Blue] }".
std::string debug(const Pair<RegularPuyoType>& pair);

}  // namespace velmo

// Hand: a placement, an internal column and a rotation.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "rotation.hpp"

namespace velmo {

struct Hand {
    std::uint64_t x = 1;  // internal column: the Python column plus one
    Rotation rotation = Rotation::Top;

    friend constexpr bool operator==(const Hand&, const Hand&) = default;
};

// "3-top": the internal column, a dash, the rotation.
std::string to_text(const Hand& hand);

// The 22 legal hands: top at columns 1..6, left at 2..6, bottom at 1..6, right at 1..5.
inline constexpr std::array<Hand, 22> kAllHands = {{
    {1, Rotation::Top},    {2, Rotation::Top},    {3, Rotation::Top},    {4, Rotation::Top},
    {5, Rotation::Top},    {6, Rotation::Top},    {2, Rotation::Left},   {3, Rotation::Left},
    {4, Rotation::Left},   {5, Rotation::Left},   {6, Rotation::Left},   {1, Rotation::Bottom},
    {2, Rotation::Bottom}, {3, Rotation::Bottom}, {4, Rotation::Bottom}, {5, Rotation::Bottom},
    {6, Rotation::Bottom}, {1, Rotation::Right},  {2, Rotation::Right},  {3, Rotation::Right},
    {4, Rotation::Right},  {5, Rotation::Right},
}};

}  // namespace velmo

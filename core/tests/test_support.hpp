// Shared helpers of the core tests: building fields from rows, converting between the two
// representations, and seeded random fields.
#pragma once

#include <cstdint>
#include <array>
#include <initializer_list>
#include <random>
#include <string_view>
#include <vector>

#include "field/array_field.hpp"
#include "field/bit_field.hpp"
#include "chain/chain.hpp"
#include "field/field.hpp"

namespace velmo_test {

template <class F>
F field_from_rows(std::initializer_list<std::string_view> rows) {
    const std::vector<std::string_view> list(rows);
    return velmo::unwrap(velmo::from_str_array<F>(list));
}

inline velmo::ArrayField<velmo::RegularPuyoType> to_array_field(const velmo::BitField& bits) {
    velmo::ArrayField<velmo::RegularPuyoType> out;
    for (std::uint64_t x = 0; x < velmo::kFieldWidth; ++x) {
        for (std::uint64_t y = 0; y < velmo::kFieldHeight; ++y) out.set(x, y, velmo::to_regular(bits.get(x, y)));
    }
    return out;
}

// A field of stacks: each playable column gets a random height, cells drawn from the given
// types (EMPTY included, so some cells float), walls intact.
inline velmo::BitField random_stacked_field(std::mt19937_64& random, std::initializer_list<velmo::BitPuyoType> types,
                                            std::uint64_t max_height = 13) {
    const std::vector<velmo::BitPuyoType> choices(types);
    velmo::BitField field;
    for (std::uint64_t x = velmo::kFirstPlayableColumn; x <= velmo::kLastPlayableColumn; ++x) {
        const std::uint64_t height = random() % (max_height + 1);
        for (std::uint64_t r = 0; r < height; ++r) field.set(x, velmo::kBottomPlayableRow - r, choices[random() % choices.size()]);
    }
    return field;
}

// Any bits at all in the three planes, walls and invalid codes included.
inline velmo::BitField random_planes(std::mt19937_64& random) {
    const auto plane = [&] { return velmo::make_u128(random(), random()); };
    const auto a = plane(), b = plane(), c = plane();
    return velmo::BitField::from_planes(a, b, c);
}

// A settled field whose chain has `target` steps, or as many as `attempts` insertions reached:
// each accepted insertion puts a new group of four (a column of four, or three and one beside
// them) into the stacks so that the chain simulation counts exactly one step more.
inline velmo::BitField build_chain_field(std::mt19937_64& random, unsigned target, unsigned attempts = 20000) {
    using Columns = std::array<std::vector<velmo::BitPuyoType>, 7>;  // index 1..6, from the bottom
    constexpr std::size_t kMaxStack = 12;
    const auto to_field = [](const Columns& columns) {
        velmo::BitField field;
        for (std::uint64_t x = 1; x <= 6; ++x) {
            for (std::size_t r = 0; r < columns[x].size(); ++r) field.set(x, velmo::kBottomPlayableRow - r, columns[x][r]);
        }
        return field;
    };
    Columns columns;
    unsigned steps = 0;
    for (unsigned attempt = 0; attempt < attempts && steps < target; ++attempt) {
        Columns candidate = columns;
        const auto colour = static_cast<velmo::BitPuyoType>(4 + random() % 4);
        const std::uint64_t x = 1 + random() % 6;
        const bool vertical = random() % 3 == 0;
        const auto insert = [&](std::uint64_t column, std::size_t count) {
            auto& stack = candidate[column];
            const std::size_t at = random() % (stack.size() + 1);
            stack.insert(stack.begin() + static_cast<std::ptrdiff_t>(at), count, colour);
        };
        if (vertical) {
            insert(x, 4);
        } else {
            const std::uint64_t beside = x == 1 ? 2 : x == 6 ? 5 : (random() % 2 == 0 ? x - 1 : x + 1);
            insert(x, 3);
            insert(beside, 1);
        }
        bool fits = true;
        for (std::uint64_t c = 1; c <= 6; ++c) fits = fits && candidate[c].size() <= kMaxStack;
        if (!fits) continue;
        velmo::BitField trial = to_field(candidate);
        if (velmo::chain(trial).chain != steps + 1) continue;
        columns = candidate;
        ++steps;
    }
    return to_field(columns);
}

}  // namespace velmo_test

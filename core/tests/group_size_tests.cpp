// The group-size masks the potential-chain search and the evaluation count with, against groups
// grown one at a time, on random sets of cells dense enough to hold groups of every size.
#include <cstdint>

#include "game/random.hpp"
#include "harness.hpp"
#include "search/search.hpp"

namespace {

using velmo::u128;

struct Grown {
    u128 by_size[4] = {0, 0, 0, 0};  // cells in groups of one, two, three, four or more
};

Grown grow_groups(u128 cells) {
    Grown out;
    while (cells != 0) {
        u128 group = cells & (~cells + 1);
        for (u128 next = cells & velmo::neighbours(group); next != group; next = cells & velmo::neighbours(group)) group = next;
        cells &= ~group;
        const unsigned size = velmo::popcount128(group);
        out.by_size[size < 4 ? size - 1 : 3] |= group;
    }
    return out;
}

TEST(group_sizes_agree_with_groups_grown_one_at_a_time) {
    velmo::SplitMix64 random(7);
    for (int trial = 0; trial < 20000; ++trial) {
        // Densities from sparse to nearly full, so that small groups and big ones both occur.
        const unsigned keep_one_in = 2 + static_cast<unsigned>(trial % 5);
        u128 cells = 0;
        for (unsigned bit = 0; bit < 128; ++bit) cells |= u128{random.below(keep_one_in) == 0} << bit;
        cells &= velmo::bit_layout::kConnectionRegion;
        const Grown grown = grow_groups(cells);
        const velmo::GroupSizes sizes = velmo::group_sizes(cells);
        CHECK_EQ(sizes.below_four, grown.by_size[3] == 0);
        if (!sizes.below_four) continue;
        CHECK_EQ(sizes.lone, grown.by_size[0]);
        CHECK_EQ(sizes.pair, grown.by_size[1]);
        CHECK_EQ(sizes.triple, grown.by_size[2]);
    }
}

}  // namespace

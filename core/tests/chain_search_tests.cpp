// The chain search by removal on the bit field.
#include <cstdint>
#include <vector>

#include "chain/chain.hpp"
#include "field/bit_field.hpp"
#include "harness.hpp"
#include "test_support.hpp"

using namespace velmo;
using velmo_test::field_from_rows;

namespace {

u128 cell(std::uint64_t x, std::uint64_t y) { return u128{1} << bit_layout::cell_bit(x, y); }

}  // namespace

TEST(search_worked_example_finds_exactly_one_chain) {
    const auto field = field_from_rows<BitField>({"   R", "RRRB"});
    const BitField before = field;
    const auto found = field.find_chain_by_removal();
    CHECK(field == before);
    CHECK_EQ(found.size(), 1u);
    if (found.size() != 1) return;
    CHECK_EQ(found[0].chain, 1u);
    CHECK_EQ(found[0].score, 40u);
    CHECK_EQ(found[0].removed, cell(4, 14));
    CHECK_EQ(found[0].puyo_type, BitPuyoType::Blue);
    CHECK(found[0].field == BitField{});
}

TEST(search_tries_columns_four_to_six_then_one_to_three_by_group) {
    // A RED group of 4 that touches no empty cell fires in every trial; the other groups are
    // singles, except the BLUE pair at columns 2 and 3, which is one trial.
    const auto field = field_from_rows<BitField>({"GBBG", "RRRRBY"});
    const auto found = field.find_chain_by_removal();
    const std::vector<u128> expected_removed = {cell(4, 13), cell(5, 14), cell(6, 14), cell(1, 13), cell(2, 13) | cell(3, 13)};
    const std::vector<BitPuyoType> expected_types = {BitPuyoType::Green, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green, BitPuyoType::Blue};
    CHECK_EQ(found.size(), expected_removed.size());
    for (std::size_t i = 0; i < found.size() && i < expected_removed.size(); ++i) {
        CHECK_EQ(found[i].removed, expected_removed[i]);
        CHECK_EQ(found[i].puyo_type, expected_types[i]);
        CHECK(found[i].chain == 1 && found[i].score == 40);
    }
}

TEST(search_reports_the_field_as_the_chain_left_it) {
    const auto field = field_from_rows<BitField>({"B", "R", "RBB", "RRBY"});
    for (const FoundChain& found : field.find_chain_by_removal()) {
        BitField replay = field;
        replay = BitField::from_planes(replay.planes()[0] & ~found.removed, replay.planes()[1] & ~found.removed,
                                       replay.planes()[2] & ~found.removed);
        replay.drop();
        const ChainResult result = velmo::chain(replay);
        CHECK(replay == found.field);
        CHECK_EQ(result.score, found.score);
        CHECK_EQ(result.chain, found.chain);
    }
}

TEST(search_finds_nothing_without_empty_neighbours_or_puyos) {
    CHECK(BitField{}.find_chain_by_removal().empty());
    std::vector<std::string_view> full(14, "RBYGRB");
    CHECK(unwrap(from_str_array<BitField>(full)).find_chain_by_removal().empty());
    // Colour cells of the 13th and 14th rows are candidates too. Column 1 holds, from the top,
    // GREEN (14th row), RED (13th row), BLUE, a gap, and three REDs: removing the BLUE lets the
    // 13th-row RED fall onto the three; the other trials fire nothing.
    std::vector<std::string_view> rows(14, "");
    rows[0] = "G";
    rows[1] = "R";
    rows[2] = "B";
    rows[11] = "R";
    rows[12] = "R";
    rows[13] = "R";
    const auto tall = unwrap(from_str_array<BitField>(rows));
    const auto found = tall.find_chain_by_removal();
    CHECK_EQ(found.size(), 1u);
    if (found.size() != 1) return;
    CHECK_EQ(found[0].removed, cell(1, 3));
    CHECK(found[0].chain == 1 && found[0].score == 40);
    CHECK_EQ(found[0].field.get(1, 1), BitPuyoType::Green);
}

// The score calculator, vanishing on both representations, and the chain loop.
#include <cstdint>
#include <vector>

#include "chain/chain.hpp"
#include "chain/gradual_chain_score_calculator.hpp"
#include "field/array_field.hpp"
#include "field/bit_field.hpp"
#include "harness.hpp"
#include "test_support.hpp"

using namespace velmo;
using velmo_test::field_from_rows;
using Array = ArrayField<RegularPuyoType>;

namespace {

constexpr std::uint8_t kRed = 4;
constexpr std::uint8_t kBlue = 5;

struct VanishOutcome {
    std::uint32_t score;
    std::uint32_t chain;
    bool operator==(const VanishOutcome&) const = default;
};

// Vanishes once with a calculator on both representations; checks they agree and returns the score.
VanishOutcome vanish_both(std::initializer_list<std::string_view> rows, BitField* bits_after = nullptr) {
    auto bits = field_from_rows<BitField>(rows);
    auto array = field_from_rows<Array>(rows);
    GradualChainScoreCalculator bit_calculator;
    GradualChainScoreCalculator array_calculator;
    bits.vanish(&bit_calculator);
    array.vanish(&array_calculator);
    CHECK(velmo_test::to_array_field(bits) == array);
    CHECK_EQ(bit_calculator.score(), array_calculator.score());
    CHECK_EQ(bit_calculator.chain(), array_calculator.chain());
    // The chain loop tallies its steps on its own (without listing the groups): its first step
    // scores the same.
    auto chained = field_from_rows<BitField>(rows);
    const ChainResult chain = velmo::chain(chained);
    CHECK_EQ(chain.step_scores.count == 0 ? 0u : chain.step_scores.values[0], bit_calculator.score());
    if (bits_after != nullptr) *bits_after = bits;
    return {bit_calculator.score(), bit_calculator.chain()};
}

std::vector<std::uint32_t> listed(const StepScores& scores) { return {scores.begin(), scores.end()}; }

template <class F>
ChainResult chain_of(std::initializer_list<std::string_view> rows, F* after = nullptr) {
    auto field = field_from_rows<F>(rows);
    ChainResult result = velmo::chain(field);
    if (after != nullptr) *after = field;
    return result;
}

}  // namespace

TEST(calculator_worked_scores) {
    GradualChainScoreCalculator first;
    first.add_group(4, kRed);
    first.commit_chain_step();
    CHECK_EQ(first.score(), 40u);
    first.add_group(4, kRed);
    first.commit_chain_step();
    CHECK_EQ(first.score(), 360u);
    CHECK((listed(first.step_scores()) == std::vector<std::uint32_t>{40, 320}));
    CHECK_EQ(first.chain(), 2u);

    GradualChainScoreCalculator two_colours;
    two_colours.add_group(4, kRed);
    two_colours.add_group(4, kBlue);
    two_colours.commit_chain_step();
    CHECK_EQ(two_colours.score(), 240u);

    GradualChainScoreCalculator five;
    five.add_group(5, kRed);
    five.commit_chain_step();
    CHECK_EQ(five.score(), 100u);

    for (const std::uint64_t size : {11u, 12u, 72u}) {
        GradualChainScoreCalculator big;
        big.add_group(size, kRed);
        CHECK_EQ(big.bonus_sum(), 10u);
        big.commit_chain_step();
        CHECK_EQ(big.score(), static_cast<std::uint32_t>(size * 10 * 10));
    }

    GradualChainScoreCalculator capped;
    for (int i = 0; i < 100; ++i) capped.add_group(11, kRed);
    capped.commit_chain_step();
    CHECK_EQ(capped.score(), 10'989'000u);
}

TEST(calculator_ignores_an_empty_step_and_resets_after_a_commit) {
    GradualChainScoreCalculator calculator;
    calculator.commit_chain_step();
    CHECK_EQ(calculator.chain(), 0u);
    CHECK(calculator.step_scores().empty());
    calculator.add_group(6, kBlue);
    calculator.add_group(4, 7);
    calculator.commit_chain_step();
    CHECK_EQ(calculator.bonus_sum(), 0u);
    CHECK_EQ(calculator.num_vanished(), 0u);
    for (const bool used : calculator.used_colors()) CHECK(!used);
    // Outside what a field produces (a 21st step, odd colour codes): clamped, no failure.
    for (int i = 0; i < 25; ++i) {
        calculator.add_group(4, static_cast<std::uint8_t>(200 + i));
        calculator.commit_chain_step();
    }
    CHECK_EQ(calculator.chain(), 26u);
    CHECK_EQ(calculator.step_scores().size(), kMaxChainSteps);  // the first 20 steps, recorded inline
    const ChainResult result = calculator.into_result();
    CHECK_EQ(result.chain, 26u);
    CHECK_EQ(result.step_scores.size(), kMaxChainSteps);
}

TEST(groups_of_four_vanish_in_every_shape_and_three_never) {
    CHECK((vanish_both({"RRRR"}) == VanishOutcome{40, 1}));           // line
    CHECK((vanish_both({"R", "R", "RR"}) == VanishOutcome{40, 1}));    // L
    CHECK((vanish_both({" R", "RRR"}) == VanishOutcome{40, 1}));      // T
    CHECK((vanish_both({" RR", "RR"}) == VanishOutcome{40, 1}));      // S
    CHECK((vanish_both({"RR", "RR"}) == VanishOutcome{40, 1}));       // square
    CHECK((vanish_both({"R", "R", "R"}) == VanishOutcome{0, 0}));     // three in a column
    CHECK((vanish_both({"RR", "R"}) == VanishOutcome{0, 0}));         // three in an L
    CHECK((vanish_both({"R", "BR", "RBR"}) == VanishOutcome{0, 0}));  // diagonal contact only
}

TEST(separate_and_touching_groups_count_as_expected) {
    // Two separate RED groups of 4: two bonuses of 0, one colour.
    CHECK((vanish_both({"R  R", "R  R", "RR RR"}) == VanishOutcome{80, 1}));
    // Two colours, 4 each: 8 x 3 x 10.
    CHECK((vanish_both({"RRRR", "BBBB"}) == VanishOutcome{240, 1}));
    // Touching same-colour cells form one group of 8: bonus 5.
    CHECK((vanish_both({"RRRR", "RRRR"}) == VanishOutcome{400, 1}));
    // One colour's 9 and 10 cells in two groups: 4 and 5 (bonus 2), 5 and 5 (bonus 4).
    CHECK((vanish_both({"R  R", "R  R", "RR RRR"}) == VanishOutcome{9 * 2 * 10, 1}));
    CHECK((vanish_both({"R  R", "RR RR", "RR RR"}) == VanishOutcome{10 * 4 * 10, 1}));
    // A group of 11 and one of 5 of another colour: (16) x (10 + 2 + 3) x 10.
    CHECK((vanish_both({"BBBBB", "RRRRRR", "RRRRR"}) == VanishOutcome{16 * 15 * 10, 1}));
    // A whole connection region of one colour: 72 cells, bonus 10.
    std::vector<std::string_view> full(12, "YYYYYY");
    auto bits = unwrap(from_str_array<BitField>(full));
    GradualChainScoreCalculator calculator;
    bits.vanish(&calculator);
    CHECK_EQ(calculator.score(), 72u * 10 * 10);
    CHECK(bits.is_all_clear());
}

TEST(the_thirteenth_row_never_joins_a_group) {
    // Three at the top of the region plus one above them in the 13th row: nothing.
    std::vector<std::string_view> rows(13, "");
    for (int i = 0; i < 4; ++i) rows[i] = "R";
    auto bits = unwrap(from_str_array<BitField>(rows));
    auto array = unwrap(from_str_array<Array>(rows));
    const BitField before = bits;
    GradualChainScoreCalculator calculator;
    bits.vanish(&calculator);
    array.vanish(nullptr);
    CHECK(bits == before);
    CHECK(velmo_test::to_array_field(bits) == array);
    CHECK_EQ(calculator.chain(), 0u);

    // Four in the region (a column of 4 at the top of the region) and a fifth in the 13th row.
    std::vector<std::string_view> tall(13, "");
    for (int i = 0; i < 5; ++i) tall[i] = "G";
    for (int i = 5; i < 13; ++i) tall[i] = "O";
    auto tall_bits = unwrap(from_str_array<BitField>(tall));
    auto tall_array = unwrap(from_str_array<Array>(tall));
    GradualChainScoreCalculator tall_calculator;
    tall_bits.vanish(&tall_calculator);
    tall_array.vanish(nullptr);
    CHECK_EQ(tall_calculator.score(), 40u);
    CHECK_EQ(tall_bits.get(1, 2), BitPuyoType::Green);
    CHECK_EQ(tall_bits.get(1, 7), BitPuyoType::Empty);  // the ojama right under the group is gone
    CHECK_EQ(tall_bits.get(1, 8), BitPuyoType::Ojama);
    CHECK(velmo_test::to_array_field(tall_bits) == tall_array);
}

TEST(ojama_touching_a_vanishing_cell_is_removed_and_no_other) {
    BitField after;
    vanish_both({"O O", "ORO", "ORRO", "OROO"}, &after);
    const BitField expected = field_from_rows<BitField>({"O O", "   ", "    ", "   O"});
    CHECK(after == expected);
    // An ojama in the 13th row directly above a vanishing puyo of the top region row is removed;
    // one in the 14th row never is.
    std::vector<std::string_view> rows(14, "");
    rows[0] = "O";
    rows[1] = "O";
    rows[2] = "B";
    rows[3] = "B";
    rows[4] = "B";
    rows[5] = "B";
    for (int i = 6; i < 14; ++i) rows[i] = "Y";
    auto bits = unwrap(from_str_array<BitField>(rows));
    auto array = unwrap(from_str_array<Array>(rows));
    bits.vanish(nullptr);
    array.vanish(nullptr);
    CHECK_EQ(bits.get(1, 2), BitPuyoType::Empty);
    CHECK_EQ(bits.get(1, 1), BitPuyoType::Ojama);
    CHECK(velmo_test::to_array_field(bits) == array);
}

TEST(vanish_without_groups_leaves_field_and_calculator_alone) {
    auto bits = field_from_rows<BitField>({"R  B", "RB BY", "GGYYG"});
    const BitField before = bits;
    GradualChainScoreCalculator calculator;
    bits.vanish(&calculator);
    CHECK(bits == before);
    CHECK_EQ(calculator.chain(), 0u);
    CHECK(calculator.step_scores().empty());
    // Floating puyos stay floating: only gravity moves them.
    auto floating = field_from_rows<BitField>({"RB", "  ", "RRRR"});
    floating.vanish(nullptr);
    CHECK(floating == field_from_rows<BitField>({"RB", "  ", "    "}));
}

TEST(chain_examples_on_both_representations) {
    for (int representation = 0; representation < 2; ++representation) {
        const auto run = [&](std::initializer_list<std::string_view> rows) {
            return representation == 0 ? chain_of<BitField>(rows) : chain_of<Array>(rows);
        };
        const ChainResult empty = run({});
        CHECK_EQ(empty.chain, 0u);
        CHECK_EQ(empty.score, 0u);
        const ChainResult one = run({"RRRR"});
        CHECK(one.chain == 1 && one.score == 40);
        const ChainResult two = run({"B", "R", "RBB", "RRB"});
        CHECK(two.chain == 2 && two.score == 360);
        CHECK((listed(two.step_scores) == std::vector<std::uint32_t>{40, 320}));
        // The only group forms after floating puyos fall: still a 1-chain.
        const ChainResult settles = run({"R", "R", " ", "RR"});
        CHECK(settles.chain == 1 && settles.score == 40);
    }
    BitField after;
    chain_of<BitField>({"B", "R", "RBB", "RRB"}, &after);
    CHECK(after.is_all_clear());
    CHECK_EQ(velmo::chain(after).chain, 0u);
}

TEST(step_chain_vanishes_and_drops_once) {
    auto bits = field_from_rows<BitField>({"B", "R", "RBB", "RRB", "YYYO"});
    auto array = field_from_rows<Array>({"B", "R", "RBB", "RRB", "YYYO"});
    step_chain(bits);
    step_chain(array);
    CHECK(velmo_test::to_array_field(bits) == array);
    // RED went; the BLUE group formed by the fall stays until the next call.
    CHECK(bits == field_from_rows<BitField>({"  B", "BBB", "YYYO"}));
    step_chain(bits);
    CHECK(bits == field_from_rows<BitField>({"YYYO"}));
}

TEST(array_flood_fill_into_a_border_cell_fails_before_any_change) {
    Array right = field_from_rows<Array>({"     RR", "     RR"});  // the 7th character overwrites the right wall
    const Array before_right = right;
    CHECK_FAILS_WITH(right.vanish(nullptr), "index out of bounds: the len is 8 but the index is 8");
    CHECK(right == before_right);

    Array left;
    for (std::uint64_t y = 11; y <= 14; ++y) left.set(1, y, RegularPuyoType::Blue);
    left.set(0, 14, RegularPuyoType::Blue);
    left.set(6, 3, RegularPuyoType::Red);
    const Array before_left = left;
    CHECK_FAILS_WITH(velmo::chain(left), "index out of bounds: the len is 8 but the index is 18446744073709551615");
    CHECK(left == before_left);

    Array bottom;
    for (std::uint64_t y = 12; y <= 15; ++y) bottom.set(2, y, RegularPuyoType::Green);
    CHECK_FAILS_WITH(bottom.vanish(nullptr), "index out of bounds: the len is 16 but the index is 16");
    // The bit field ignores border cells.
    BitField bits;
    for (std::uint64_t y = 12; y <= 15; ++y) bits.set(2, y, BitPuyoType::Green);
    bits.vanish(nullptr);
    CHECK_EQ(bits.get(2, 15), BitPuyoType::Green);
    CHECK_EQ(bits.get(2, 14), BitPuyoType::Green);
}

TEST(purple_vanishes_on_the_array_field) {
    Array array = field_from_rows<Array>({"PP", "PPR"});
    GradualChainScoreCalculator calculator;
    array.vanish(&calculator);
    CHECK_EQ(calculator.score(), 40u);
    CHECK_EQ(array.get(3, 14), RegularPuyoType::Red);
    CHECK_EQ(array.get_num_puyos(), 1u);
}

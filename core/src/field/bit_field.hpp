// BitField: the whole 8 x 16 grid in three 128-bit planes (see bit_layout.hpp for the lanes).
// Cell reads and writes, heights and counts are a few word operations inline here; gravity,
// vanishing, the chain loop and the chain search run on the processor path chosen once per
// process (cpu_path.hpp) and give the same results on every path.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

#include "../chain/chain_result.hpp"
#include "../internal_failure.hpp"
#include "../uint128.hpp"
#include "bit_layout.hpp"
#include "field.hpp"

namespace velmo {

class GradualChainScoreCalculator;
struct FoundChain;

namespace bit_lanes {

// Per 16-bit lane of a 64-bit word: the number of trailing zero bits (16 for a zero lane), four
// lanes at once: the bits below the lowest set bit, (v - 1) & ~v per lane, counted per lane.
constexpr std::uint64_t trailing_zero_counts(std::uint64_t v) {
    constexpr std::uint64_t kOnes = 0x0001000100010001;
    constexpr std::uint64_t kTops = 0x8000800080008000;
    const std::uint64_t minus_one = ((v | kTops) - kOnes) ^ ((v ^ ~kOnes) & kTops);  // no borrow crosses lanes
    std::uint64_t below = minus_one & ~v;
    below = below - ((below >> 1) & 0x5555555555555555);
    below = (below & 0x3333333333333333) + ((below >> 2) & 0x3333333333333333);
    below = (below + (below >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return (below + (below >> 8)) & 0x001F001F001F001F;
}

static_assert(trailing_zero_counts(0x0000'8000'0001'0008) == 0x0010'000F'0000'0003);

}  // namespace bit_lanes

class BitField {
public:
    using Puyo = BitPuyoType;

    // A new field: walls in columns 0 and 7 and rows 0 and 15, every other cell empty.
    constexpr BitField() noexcept : planes_{0, bit_layout::kWalls, 0} {}

    static constexpr BitField from_planes(u128 p0, u128 p1, u128 p2) { return BitField(BitPlanes{p0, p1, p2}); }
    [[nodiscard]] constexpr std::array<u128, 3> planes() const { return {planes_.p0, planes_.p1, planes_.p2}; }

    // The type at (x, y); a cell holding the code 3 is an internal failure. Coordinates outside
    // the grid wrap into it.
    [[nodiscard]] BitPuyoType get(std::uint64_t x, std::uint64_t y) const {
        const unsigned code = code_at_bit(bit_layout::cell_bit(x, y));
        if (code == 3) fail_invalid_code_read();
        return static_cast<BitPuyoType>(code);
    }

    void set(std::uint64_t x, std::uint64_t y, BitPuyoType t) {
        const u128 cell = u128{1} << bit_layout::cell_bit(x, y);
        const unsigned code = bit_code(t);
        planes_.p0 = (code & 1) != 0 ? planes_.p0 | cell : planes_.p0 & ~cell;
        planes_.p1 = (code & 2) != 0 ? planes_.p1 | cell : planes_.p1 & ~cell;
        planes_.p2 = (code & 4) != 0 ? planes_.p2 | cell : planes_.p2 & ~cell;
    }

    // Writes t into the lowest empty cell of the whole column, or returns nothing when the column
    // is full. A column beyond the grid has no room.
    std::optional<Position> put(std::uint64_t x, BitPuyoType t) {
        if (x >= kFieldWidth) return std::nullopt;
        const std::uint64_t y = lowest_empty_row(x);
        if (code_at_bit(bit_layout::cell_bit(x, y)) != 0) return std::nullopt;
        set(x, y, t);
        return Position{x, y};
    }

    // 14 - (row of the lowest empty cell), in machine-word arithmetic: the stack height on a column
    // with intact walls; 2^64 - 1 for a column beyond the grid, which therefore has no room.
    [[nodiscard]] std::uint64_t get_height(std::uint64_t x) const {
        const std::uint64_t y = x < kFieldWidth ? lowest_empty_row(x) : kFieldHeight - 1;
        return kMaxHeight - y;
    }

    [[nodiscard]] std::uint64_t get_num_puyos() const {
        const u128 counted = occupancy() & bit_layout::kCountedArea;
        return popcount128(counted);
    }
    [[nodiscard]] bool is_all_clear() const { return (occupancy() & bit_layout::kCountedArea) == 0; }

    // Whether any of the 128 cells, walls included, holds t.
    [[nodiscard]] bool has_type(BitPuyoType t) const { return cells_of(bit_code(t)) != 0; }

    // Gravity over the counted area, all columns at once.
    void drop();
    // Empties the groups of 4 or more of the connection region and the ojama touching them;
    // with a calculator, reports every group and commits the step.
    void vanish(GradualChainScoreCalculator* calculator);
    // The whole scored chain in place (at most 20 rounds of vanish and drop).
    ChainResult run_chain();
    // The same chain's score and length, on a field the caller knows is settled (no puyo above
    // an empty cell of its column): cheaper, for searches that run many.
    ChainTotals run_settled_chain();
    // For every colour group touching an empty cell: the chain its removal would fire, if any.
    [[nodiscard]] std::vector<FoundChain> find_chain_by_removal() const;

    friend constexpr bool operator==(const BitField& a, const BitField& b) {
        return a.planes_.p0 == b.planes_.p0 && a.planes_.p1 == b.planes_.p1 && a.planes_.p2 == b.planes_.p2;
    }
    // Compares only the connection region (columns 1..6, rows y = 3..14), in reading order, so a
    // cell with the code 3 met before any difference is the failure of a cell read.
    [[nodiscard]] bool equals_without_fuzzy(const BitField& other) const;

    [[nodiscard]] ArrayForm to_array() const { return velmo::to_array(*this); }

    // For the kernels: the planes as one record.
    [[nodiscard]] constexpr const BitPlanes& bit_planes() const { return planes_; }
    // For the search: the occupied cells, walls included, and the three-bit code of one cell.
    [[nodiscard]] constexpr u128 occupancy() const { return planes_.p0 | planes_.p1 | planes_.p2; }
    [[nodiscard]] constexpr unsigned code_at_bit(unsigned bit) const {
        return static_cast<unsigned>(((planes_.p0 >> bit) & 1) | (((planes_.p1 >> bit) & 1) << 1) | (((planes_.p2 >> bit) & 1) << 2));
    }

private:
    explicit constexpr BitField(const BitPlanes& planes) : planes_(planes) {}

    [[noreturn]] static void fail_invalid_code_read();

    // The cells whose three bits form `code`.
    [[nodiscard]] constexpr u128 cells_of(unsigned code) const {
        const u128 p0 = (code & 1) != 0 ? planes_.p0 : ~planes_.p0;
        const u128 p1 = (code & 2) != 0 ? planes_.p1 : ~planes_.p1;
        const u128 p2 = (code & 4) != 0 ? planes_.p2 : ~planes_.p2;
        return p0 & p1 & p2;
    }

    // Row of the lowest empty cell among all 16 cells of column x <= 7 (0 when the column is full),
    // from the trailing zero counts of the empty cells' complement for the four lanes of its half.
    [[nodiscard]] constexpr std::uint64_t lowest_empty_row(std::uint64_t x) const {
        const u128 occupied = occupancy();
        const std::uint64_t empty_half = ~(x < 4 ? low64(occupied) : high64(occupied));
        const std::uint64_t counts = bit_lanes::trailing_zero_counts(empty_half);
        const std::uint64_t v = (counts >> (16 * (x & 3))) & 0x1F;
        return v == 16 ? 0 : (kFieldHeight - 1) - v;
    }

    BitPlanes planes_;
};

static_assert(sizeof(BitField) == 48);
static_assert(std::is_trivially_copyable_v<BitField>);

// One result of the chain search.
struct FoundChain {
    u128 removed;           // the removed group, in the planes' bit layout
    BitPuyoType puyo_type;  // its colour
    BitField field;         // the field after the removal and the whole chain
    std::uint32_t score;
    std::uint32_t chain;
};

}  // namespace velmo

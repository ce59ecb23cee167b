#include "bit_field.hpp"

#include "../chain/gradual_chain_score_calculator.hpp"
#include "bit_kernels.hpp"

namespace velmo {

void BitField::fail_invalid_code_read() {
    throw InternalFailure("Failed to get puyo from field bits: " + PuyoTypeError::invalid_number(3).debug());
}

void BitField::drop() { bit_kernels::active_kernels().drop(planes_); }

void BitField::vanish(GradualChainScoreCalculator* calculator) {
    const auto& kernels = bit_kernels::active_kernels();
    if (calculator == nullptr) {
        kernels.vanish(planes_, nullptr);
        return;
    }
    bit_kernels::VanishedGroups groups;
    groups.count = 0;
    kernels.vanish(planes_, &groups);
    for (std::uint32_t i = 0; i < groups.count && i < bit_kernels::kMaxGroupsPerStep; ++i) {
        calculator->add_group(groups.groups[i].size, groups.groups[i].color_code);
    }
    calculator->commit_chain_step();
}

ChainTotals BitField::run_settled_chain() {
    ChainTotals totals;
    bit_kernels::active_kernels().settled_chain_totals(planes_, totals);
    return totals;
}

ChainResult BitField::run_chain() {
    ChainResult result;
    bit_kernels::active_kernels().chain(planes_, result);
    return result;
}

std::vector<FoundChain> BitField::find_chain_by_removal() const {
    // One allocation for the whole list: every trial starts from a colour cell next to an empty
    // cell, so their count bounds the number of found chains.
    const u128 empty = ~occupancy();
    const u128 near_empty = ((empty >> 1) & bit_layout::kLaneNotTopBit) | ((empty << 1) & bit_layout::kLaneNotBottomBit) |
                            (empty << 16) | (empty >> 16);
    const u128 candidates = planes_.p2 & near_empty;
    std::vector<FoundChain> found;
    found.reserve(static_cast<std::size_t>(__builtin_popcountll(low64(candidates)) + __builtin_popcountll(high64(candidates))));
    const bit_kernels::FoundChainSink append = [](void* context, const bit_kernels::FoundChainRecord& record) {
        static_cast<std::vector<FoundChain>*>(context)->push_back(FoundChain{
            record.removed, static_cast<BitPuyoType>(record.color_code), BitField(record.field), record.score, record.chain});
    };
    bit_kernels::active_kernels().find_chain_by_removal(planes_, append, &found);
    return found;
}

bool BitField::equals_without_fuzzy(const BitField& other) const {
    const auto invalid_cells = [](const BitPlanes& p) { return p.p0 & p.p1 & ~p.p2; };
    const BitPlanes& a = planes_;
    const BitPlanes& b = other.planes_;
    const u128 differing = (a.p0 ^ b.p0) | (a.p1 ^ b.p1) | (a.p2 ^ b.p2);
    const u128 attention = (differing | invalid_cells(a) | invalid_cells(b)) & bit_layout::kConnectionRegion;
    if (attention == 0) return true;
    // The first cell in reading order (columns from the left, rows from the top) decides.
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        for (std::uint64_t y = kConnectionTopRow; y <= kBottomPlayableRow; ++y) {
            const unsigned bit = bit_layout::cell_bit(x, y);
            if (((attention >> bit) & 1) == 0) continue;
            if (get(x, y) != other.get(x, y)) return false;
        }
    }
    return true;
}

}  // namespace velmo

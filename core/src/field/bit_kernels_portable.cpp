// The portable path: plain 64-bit integer code that runs on any processor. The masks are 128-bit
// integers; lane counts use SWAR arithmetic, and gravity removes the hole bits of each lane one by
// one instead of gathering and scattering.
#include "bit_kernels_impl.hpp"

namespace velmo::bit_kernels {
namespace {

struct PortableOps {
    using W = u128;
    static constexpr bool kCompactsAnyHolesAtOnce = false;  // it removes holes one by one

    static W load(u128 v) { return v; }
    static u128 store(W v) { return v; }
    static W zero() { return 0; }

    static W up(W v) { return (v >> 1) & bit_layout::kLaneNotTopBit; }
    static W down(W v) { return (v << 1) & bit_layout::kLaneNotBottomBit; }
    static W left(W v) { return v << 16; }
    static W right(W v) { return v >> 16; }
    static bool is_zero(W v) { return v == 0; }

    static unsigned popcount(W v) { return popcount64(static_cast<std::uint64_t>(v)) + popcount64(static_cast<std::uint64_t>(v >> 64)); }
    // The lowest set bit of the high word if there is one, else of the low word.
    static W first_seed(W v) {
        const auto high = static_cast<std::uint64_t>(v >> 64);
        if (high != 0) return static_cast<u128>(high & (~high + 1)) << 64;
        const auto low = static_cast<std::uint64_t>(v);
        return low & (~low + 1);
    }

    static unsigned popcount64(std::uint64_t v) { return static_cast<unsigned>(__builtin_popcountll(v)); }

    // Smears each lane's highest set bit down to bit 0, never across a lane boundary.
    static u128 lane_span(u128 v) {
        constexpr u128 kBelowTop1 = bit_layout::lanes(0x7FFF, 0x7FFF);
        constexpr u128 kBelowTop2 = bit_layout::lanes(0x3FFF, 0x3FFF);
        constexpr u128 kBelowTop4 = bit_layout::lanes(0x0FFF, 0x0FFF);
        constexpr u128 kBelowTop8 = bit_layout::lanes(0x00FF, 0x00FF);
        v |= (v >> 1) & kBelowTop1;
        v |= (v >> 2) & kBelowTop2;
        v |= (v >> 4) & kBelowTop4;
        v |= (v >> 8) & kBelowTop8;
        return v;
    }

    // Removes bit `bit` of a 64-bit word: the bits above it up to the top of its lane move down
    // by one, the lane's top bit becomes 0.
    static std::uint64_t remove_bit(std::uint64_t word, unsigned bit) {
        const unsigned lane_top = bit | 15;
        const std::uint64_t from_bit_to_lane_top = (~std::uint64_t{0} >> (63 - lane_top)) & (~std::uint64_t{0} << bit);
        const std::uint64_t above_bit = from_bit_to_lane_top & ~(std::uint64_t{1} << bit);
        return (word & ~from_bit_to_lane_top) | ((word & above_bit) >> 1);
    }

    static std::uint64_t compact_word(std::uint64_t plane, std::uint64_t counted, std::uint64_t keep, std::uint64_t holes) {
        std::uint64_t moved = plane & counted;
        while (holes != 0) {  // the highest hole first, so the lower holes stay where they are
            const unsigned bit = 63 - static_cast<unsigned>(__builtin_clzll(holes));
            moved = remove_bit(moved, bit);
            holes &= ~(std::uint64_t{1} << bit);
        }
        return moved | (plane & keep);
    }

    static u128 compact_plane(u128 plane, u128 holes) {
        constexpr u128 kCounted = bit_layout::kCountedArea;
        constexpr u128 kKeep = bit_layout::kDropKeep;
        const auto low = compact_word(static_cast<std::uint64_t>(plane), static_cast<std::uint64_t>(kCounted),
                                      static_cast<std::uint64_t>(kKeep), static_cast<std::uint64_t>(holes));
        const auto high = compact_word(static_cast<std::uint64_t>(plane >> 64), static_cast<std::uint64_t>(kCounted >> 64),
                                       static_cast<std::uint64_t>(kKeep >> 64), static_cast<std::uint64_t>(holes >> 64));
        return (static_cast<u128>(high) << 64) | low;
    }

    template <class Planes>
    static void compact(Planes& planes, u128 holes) {
        planes.p0 = compact_plane(planes.p0, holes);
        planes.p1 = compact_plane(planes.p1, holes);
        planes.p2 = compact_plane(planes.p2, holes);
    }
};

}  // namespace

const KernelTable* portable_kernels() { return &Kernels<PortableOps>::kTable; }

}  // namespace velmo::bit_kernels

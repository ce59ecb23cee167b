// The portable path: plain 64-bit integer code that runs on any processor. Two colours travel
// side by side as a pair of 128-bit values; lane counts use SWAR arithmetic, and gravity removes
// the hole bits of each lane one by one instead of gathering and scattering.
#include "bit_kernels_impl.hpp"

namespace velmo::bit_kernels {
namespace {

struct PortableOps {
    using W = u128;
    struct V {
        u128 first;   // the pass's colour whose p0 bit is clear
        u128 second;  // the pass's colour whose p0 bit is set
        friend V operator&(V a, V b) { return {a.first & b.first, a.second & b.second}; }
        friend V operator|(V a, V b) { return {a.first | b.first, a.second | b.second}; }
    };
    static constexpr unsigned kColorsPerVector = 2;
    static constexpr bool kCompactsAnyHolesAtOnce = false;  // it removes holes one by one

    static W load(u128 v) { return v; }
    static u128 store(W v) { return v; }
    static W zero() { return 0; }

    // Pass 0: RED (code 4) and BLUE (5); pass 1: YELLOW (6) and GREEN (7).
    template <class Planes>
    static V colour_planes(const Planes& planes, unsigned pass) {
        const u128 colored = planes.p2 & bit_layout::kConnectionRegion;
        const u128 p1_matches = pass == 0 ? ~planes.p1 : planes.p1;
        const u128 base = colored & p1_matches;
        return {base & ~planes.p0, base & planes.p0};
    }
    static std::uint8_t color_code(unsigned pass, unsigned i) { return static_cast<std::uint8_t>(4 + 2 * pass + i); }
    static W lane(V v, unsigned i) { return i == 0 ? v.first : v.second; }
    static W merge(V v) { return v.first | v.second; }

    static W up(W v) { return (v >> 1) & bit_layout::kLaneNotTopBit; }
    static W down(W v) { return (v << 1) & bit_layout::kLaneNotBottomBit; }
    static W left(W v) { return v << 16; }
    static W right(W v) { return v >> 16; }
    static V up(V v) { return {up(v.first), up(v.second)}; }
    static V down(V v) { return {down(v.first), down(v.second)}; }
    static V left(V v) { return {left(v.first), left(v.second)}; }
    static V right(V v) { return {right(v.first), right(v.second)}; }
    static bool is_zero(W v) { return v == 0; }
    static bool is_zero(V v) { return (v.first | v.second) == 0; }

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

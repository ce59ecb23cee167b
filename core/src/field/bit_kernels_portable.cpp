// The portable path: code for any processor, compiled without extra instruction sets. A mask is
// one 128-bit vector of the processor's baseline: SSE2 on x86-64 (part of every x86-64
// processor), NEON on AArch64 (part of every AArch64 processor), and a plain 128-bit integer
// with SWAR lane arithmetic elsewhere or when VELMO_PORTABLE_SCALAR is defined (the CMake option
// of that name builds it, so its tests run on a machine that has vectors). So the neighbour
// shifts and lane counts cost one or a few instructions, not the pairs of 64-bit operations
// and double-shift sequences of 128-bit integer code.
//
// Gravity in the chain loop, on a settled field whose cleared cells form one run per column,
// shifts every lane down by its run's length (a per-lane variable shift on NEON, a barrel
// shifter of 1-, 2-, 4- and 8-row shifts under lane masks elsewhere), all branch-free. Without
// bit gather/scatter, any other gravity packs each lane's kept cells with a parallel compress of
// four rounds, also branch-free (removing holes one by one, as this path once did, costs a
// serial chain of mask updates per hole).
#include "bit_kernels_impl.hpp"

#if !defined(VELMO_PORTABLE_SCALAR) && defined(__x86_64__) && defined(__SSE2__)
#include <emmintrin.h>
#define VELMO_PORTABLE_SSE2 1
#elif !defined(VELMO_PORTABLE_SCALAR) && defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define VELMO_PORTABLE_NEON 1
#endif

namespace velmo::bit_kernels {
namespace {

// The halves of a 128-bit integer, here rather than shared (see bit_kernels_impl.hpp).
std::uint64_t low_half(u128 v) { return static_cast<std::uint64_t>(v); }
std::uint64_t high_half(u128 v) { return static_cast<std::uint64_t>(v >> 64); }
u128 from_halves(std::uint64_t high, std::uint64_t low) { return (static_cast<u128>(high) << 64) | low; }

// The 16-bit pattern `kLane` in every lane.
template <std::uint16_t kLane>
constexpr u128 kEveryLane = bit_layout::lanes(kLane, kLane);

// Per lane: `cells` shifted down by `lengths` (0..15 each), for a vector without a per-lane
// variable shift: each bit of the length shifts the lanes that have it by its weight.
template <class V>
typename V::W barrel_shift_down(typename V::W cells, typename V::W lengths) {
    using W = typename V::W;
    const W keep1 = V::zero_lanes(lengths & V::load(kEveryLane<1>));
    const W keep2 = V::zero_lanes(lengths & V::load(kEveryLane<2>));
    const W keep4 = V::zero_lanes(lengths & V::load(kEveryLane<4>));
    const W keep8 = V::zero_lanes(lengths & V::load(kEveryLane<8>));
    cells = (cells & keep8) | (V::template shift_right<8>(cells) & ~keep8);
    cells = (cells & keep4) | (V::template shift_right<4>(cells) & ~keep4);
    cells = (cells & keep2) | (V::template shift_right<2>(cells) & ~keep2);
    return (cells & keep1) | (V::template shift_right<1>(cells) & ~keep1);
}

// --- the 128-bit vector of each processor --------------------------------------------------------
//
// Each provides W (with &, |, ^, ~), load(u128) / store(W), shift_right<n> and shift_left<n>
// within every 16-bit lane, lanes_up / lanes_down (every lane to the next higher / lower lane,
// zero coming in), add16 / sub16 per lane, is_zero, zero_lanes (all ones in each lane that is 0),
// popcount (the whole vector), first_seed (the lowest set bit of the high half if it has one,
// else of the low half), lane_popcounts and shift_down(cells, lengths), a per-lane right shift.

#if defined(VELMO_PORTABLE_SSE2)

struct Sse2Vector {
    using W = __m128i;

    static std::uint64_t low_word(W v) { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v)); }
    static std::uint64_t high_word(W v) { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v))); }
    static W from_words(std::uint64_t high, std::uint64_t low) {
        return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    }
    static W load(u128 v) { return from_words(high_half(v), low_half(v)); }
    static u128 store(W v) { return from_halves(high_word(v), low_word(v)); }

    template <int kBits>
    static W shift_right(W v) { return _mm_srli_epi16(v, kBits); }
    template <int kBits>
    static W shift_left(W v) { return _mm_slli_epi16(v, kBits); }
    static W lanes_up(W v) { return _mm_bslli_si128(v, 2); }
    static W lanes_down(W v) { return _mm_bsrli_si128(v, 2); }
    static W add16(W a, W b) { return _mm_add_epi16(a, b); }
    static W sub16(W a, W b) { return _mm_sub_epi16(a, b); }
    static W zero_lanes(W v) { return _mm_cmpeq_epi16(v, _mm_setzero_si128()); }
    static bool is_zero(W v) { return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF; }

    // Bytes counted by SWAR, then summed per half by the sum of absolute differences to zero.
    static unsigned popcount(W v) {
        const W per_byte = byte_popcounts(v);
        const W halves = _mm_sad_epu8(per_byte, _mm_setzero_si128());
        return static_cast<unsigned>(_mm_cvtsi128_si32(halves) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(halves, halves)));
    }
    static W first_seed(W v) {
        const std::uint64_t high = high_word(v);
        if (high != 0) return from_words(high & (~high + 1), 0);
        const std::uint64_t low = low_word(v);
        return from_words(0, low & (~low + 1));
    }
    static W byte_popcounts(W v) {
        v = _mm_sub_epi8(v, _mm_srli_epi16(v, 1) & _mm_set1_epi8(0x55));
        v = (v & _mm_set1_epi8(0x33)) + (_mm_srli_epi16(v, 2) & _mm_set1_epi8(0x33));
        return _mm_add_epi8(v, _mm_srli_epi16(v, 4)) & _mm_set1_epi8(0x0F);
    }
    static W lane_popcounts(W v) {
        const W per_byte = byte_popcounts(v);
        return _mm_add_epi8(per_byte, _mm_srli_epi16(per_byte, 8)) & _mm_set1_epi16(0x00FF);
    }
    static W shift_down(W cells, W lengths) { return barrel_shift_down<Sse2Vector>(cells, lengths); }
};
using Vector = Sse2Vector;

#elif defined(VELMO_PORTABLE_NEON)

struct NeonVector {
    using W = uint16x8_t;

    static W load(u128 v) { return vreinterpretq_u16_u64(vcombine_u64(vcreate_u64(low_half(v)), vcreate_u64(high_half(v)))); }
    static u128 store(W v) {
        const uint64x2_t words = vreinterpretq_u64_u16(v);
        return from_halves(vgetq_lane_u64(words, 1), vgetq_lane_u64(words, 0));
    }

    template <int kBits>
    static W shift_right(W v) { return vshrq_n_u16(v, kBits); }
    template <int kBits>
    static W shift_left(W v) { return vshlq_n_u16(v, kBits); }
    static W lanes_up(W v) { return vextq_u16(vdupq_n_u16(0), v, 7); }
    static W lanes_down(W v) { return vextq_u16(v, vdupq_n_u16(0), 1); }
    static W add16(W a, W b) { return vaddq_u16(a, b); }
    static W sub16(W a, W b) { return vsubq_u16(a, b); }
    static W zero_lanes(W v) { return vceqzq_u16(v); }
    static bool is_zero(W v) { return vmaxvq_u16(v) == 0; }

    static unsigned popcount(W v) { return vaddvq_u8(vcntq_u8(vreinterpretq_u8_u16(v))); }
    static W first_seed(W v) {
        const u128 all = store(v);
        const std::uint64_t high = high_half(all);
        if (high != 0) return load(from_halves(high & (~high + 1), 0));
        const std::uint64_t low = low_half(all);
        return load(low & (~low + 1));
    }
    static W lane_popcounts(W v) { return vpaddlq_u8(vcntq_u8(vreinterpretq_u8_u16(v))); }
    // USHL shifts each lane by its own signed count: a negative count shifts right.
    static W shift_down(W cells, W lengths) { return vshlq_u16(cells, vnegq_s16(vreinterpretq_s16_u16(lengths))); }
};
using Vector = NeonVector;

#else

// Lane arithmetic on a 128-bit integer: a lane's top bit is handled apart so that no carry or
// borrow crosses into the next lane.
struct ScalarVector {
    using W = u128;
    static constexpr u128 kLaneTops = kEveryLane<0x8000>;

    static W load(u128 v) { return v; }
    static u128 store(W v) { return v; }

    template <int kBits>
    static W shift_right(W v) { return (v >> kBits) & kEveryLane<(0xFFFFu >> kBits)>; }
    template <int kBits>
    static W shift_left(W v) { return (v << kBits) & kEveryLane<((0xFFFFu << kBits) & 0xFFFFu)>; }
    static W lanes_up(W v) { return v << 16; }
    static W lanes_down(W v) { return v >> 16; }
    static W add16(W a, W b) { return ((a & ~kLaneTops) + (b & ~kLaneTops)) ^ ((a ^ b) & kLaneTops); }
    static W sub16(W a, W b) { return ((a | kLaneTops) - (b & ~kLaneTops)) ^ ((a ^ ~b) & kLaneTops); }
    static W zero_lanes(W v) {
        // The top bit of each lane that is not 0, then spread over the lane.
        const u128 nonzero_top = (((v & ~kLaneTops) + ~kLaneTops) | v) & kLaneTops;
        return ~(nonzero_top | (nonzero_top - (nonzero_top >> 15)));
    }
    static bool is_zero(W v) { return v == 0; }

    static unsigned popcount(W v) {
        return static_cast<unsigned>(__builtin_popcountll(low_half(v)) + __builtin_popcountll(high_half(v)));
    }
    static W first_seed(W v) {
        const std::uint64_t high = high_half(v);
        if (high != 0) return from_halves(high & (~high + 1), 0);
        const std::uint64_t low = low_half(v);
        return low & (~low + 1);
    }
    // SWAR within 16-bit lanes: no field's sum reaches into the next one.
    static W lane_popcounts(W v) {
        v -= shift_right<1>(v) & kEveryLane<0x5555>;
        v = (v & kEveryLane<0x3333>) + (shift_right<2>(v) & kEveryLane<0x3333>);
        v = (v + shift_right<4>(v)) & kEveryLane<0x0F0F>;
        return (v + shift_right<8>(v)) & kEveryLane<0x001F>;
    }
    static W shift_down(W cells, W lengths) { return barrel_shift_down<ScalarVector>(cells, lengths); }
};
using Vector = ScalarVector;

#endif

// --- the path --------------------------------------------------------------------------------

struct PortableOps {
    using W = Vector::W;
    static constexpr bool kCompactsAnyHolesAtOnce = true;

    static W load(u128 v) { return Vector::load(v); }
    static u128 store(W v) { return Vector::store(v); }
    static W zero() { return Vector::load(0); }

    static W up(W v) { return Vector::shift_right<1>(v); }
    static W down(W v) { return Vector::shift_left<1>(v); }
    static W left(W v) { return Vector::lanes_up(v); }
    static W right(W v) { return Vector::lanes_down(v); }
    static bool is_zero(W v) { return Vector::is_zero(v); }
    static unsigned popcount(W v) { return Vector::popcount(v); }
    static W first_seed(W v) { return Vector::first_seed(v); }
    static unsigned popcount64(std::uint64_t v) { return static_cast<unsigned>(__builtin_popcountll(v)); }

    template <std::uint16_t kLane>
    static W every_lane() { return load(kEveryLane<kLane>); }

    // Smears each lane's highest set bit down to bit 0.
    static W lane_span(W v) {
        v = v | Vector::shift_right<1>(v);
        v = v | Vector::shift_right<2>(v);
        v = v | Vector::shift_right<4>(v);
        return v | Vector::shift_right<8>(v);
    }

    // Whether every lane's occupied cells among rows 0..13 (bits 0..13) run from bit 0 up without
    // a gap: the state that every gravity leaves behind.
    template <class Planes>
    static bool settled(const Planes& planes) {
        const W low_rows = (planes.p0 | planes.p1 | planes.p2) & every_lane<0x3FFF>();
        return is_zero(low_rows & Vector::add16(low_rows, every_lane<1>()));
    }

    // Gravity after emptying `cleared` on a settled field (see settled) without WALL cells inside
    // the counted area, when each lane's cleared cells form one run of rows: the counted cells
    // above the run move down by its length. Returns false, changing nothing, when a lane holds
    // two runs. Its result equals removing the holes one by one: below the run every cell is
    // kept, above it the cells are the stack's remaining cells. cleared - 1 marks the cells
    // below the run (all of a lane without a run), and what gravity never moves is exactly what
    // lies outside the counted area, so a cell keeps its place outside the area and below the
    // run, and takes the shifted counted content elsewhere.
    template <class Planes>
    static bool close_single_runs(Planes& planes, W cleared) {
        static_assert(bit_layout::kDropKeep == ~bit_layout::kCountedArea);
        const W one = every_lane<1>();
        const W minus_one = Vector::sub16(cleared, one);
        // One run per lane: adding 1 to the run and all below it clears them, leaving no cleared
        // cell above (an empty lane is all ones and becomes 0).
        if (!is_zero(Vector::add16(cleared | minus_one, one) & cleared)) return false;
        const W counted = load(bit_layout::kCountedArea);
        const W lengths = Vector::lane_popcounts(cleared);
        const W kept_in_place = ~counted | (minus_one & ~cleared);
        W* const all[3] = {&planes.p0, &planes.p1, &planes.p2};
#pragma GCC unroll 3
        for (W* plane : all) {
            const W fallen = Vector::shift_down(*plane & counted, lengths);
            *plane = (*plane & kept_in_place) | (fallen & ~kept_in_place);
        }
        return true;
    }

    // --- gravity for any holes ----------------------------------------------------------------

    // Per lane, the counted area's cells at the positions that are not holes, packed to the
    // bottom of the lane (what PEXT and PDEP do on the BMI2 paths), by the parallel compress of
    // Hacker's Delight (section 7-4) on 16-bit lanes: in round i, every kept cell that still has
    // to fall by a distance with bit i set moves by 2^i, all at once. The masks of each round
    // depend on the holes alone and serve the three planes; the cost is the same for any number
    // of holes, with no branch.
    template <int kDistance>
    static void compress_round(W& kept, W& falls_odd, W (&cells)[3]) {
        W prefix = falls_odd ^ Vector::shift_left<1>(falls_odd);
        prefix = prefix ^ Vector::shift_left<2>(prefix);
        prefix = prefix ^ Vector::shift_left<4>(prefix);
        prefix = prefix ^ Vector::shift_left<8>(prefix);  // per bit: the parity of the count below
        const W moving = prefix & kept;
        kept = (kept ^ moving) | Vector::shift_right<kDistance>(moving);
        for (W& plane : cells) {
            const W moved = plane & moving;
            plane = (plane ^ moved) | Vector::shift_right<kDistance>(moved);
        }
        falls_odd = falls_odd & ~prefix;
    }

    template <class Planes>
    static void compact(Planes& planes, W holes) {
        const W counted = load(bit_layout::kCountedArea);
        const W keep = load(bit_layout::kDropKeep);
        W kept = ~holes;
        // Per bit: whether the cell below is a hole (the count of holes below, not yet covered by
        // the rounds, is taken bit by bit from these).
        W falls_odd = Vector::shift_left<1>(holes);
        W cells[3] = {planes.p0 & counted & kept, planes.p1 & counted & kept, planes.p2 & counted & kept};
        compress_round<1>(kept, falls_odd, cells);
        compress_round<2>(kept, falls_odd, cells);
        compress_round<4>(kept, falls_odd, cells);
        compress_round<8>(kept, falls_odd, cells);
        planes.p0 = cells[0] | (planes.p0 & keep);
        planes.p1 = cells[1] | (planes.p1 & keep);
        planes.p2 = cells[2] | (planes.p2 & keep);
    }
};

}  // namespace

const KernelTable* portable_kernels() { return &Kernels<PortableOps>::kTable; }

}  // namespace velmo::bit_kernels

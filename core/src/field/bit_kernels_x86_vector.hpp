// The mask operations that the x86 vector paths share: a mask is one 128-bit vector, rows move by
// 16-bit element shifts and columns by byte shifts, and gravity gathers and scatters each 64-bit
// half with PEXT/PDEP. Include only from a path unit that has included <immintrin.h> under its
// own instruction sets. `Path` is that unit's own Ops type, declared in its anonymous namespace,
// so every unit instantiates a copy of its own, compiled with its flags: no copy can stand in
// for another's at link time. `Path` adds lane_deposit(holes) for that gravity, and for the
// shorter gravity of single runs (close_single_runs) run_fall(cleared, falling), whatever its
// fallen(plane, fall) needs to move each lane's `falling` cells of a plane down by the length of
// the lane's run of `cleared` cells.
#pragma once

#include <cstdint>

#include "bit_kernels_impl.hpp"

namespace velmo::bit_kernels {

template <class Path>
struct X86VectorOps {
    using W = __m128i;
    static constexpr bool kCompactsAnyHolesAtOnce = true;

    static std::uint64_t low_word(W v) { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v)); }
    static std::uint64_t high_word(W v) { return static_cast<std::uint64_t>(_mm_extract_epi64(v, 1)); }
    static W from_words(std::uint64_t high, std::uint64_t low) {
        return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    }

    // A constant read from memory. GCC builds a vector of a repeated 64-bit pattern from an
    // integer register (three instructions, two of them on the vector ports) wherever it uses
    // it, even inside the chain loop when registers run short; read through a pointer the
    // compiler cannot see into, it is an operand of the instruction that uses it, at no cost.
    static W from_memory(const W& v) {
        const W* address = &v;
        __asm__("" : "+r"(address));
        return _mm_load_si128(address);
    }

    static W load(u128 v) { return from_words(static_cast<std::uint64_t>(v >> 64), static_cast<std::uint64_t>(v)); }
    static u128 store(W v) { return (static_cast<u128>(high_word(v)) << 64) | low_word(v); }
    static W zero() { return _mm_setzero_si128(); }

    static W up(W v) { return _mm_srli_epi16(v, 1); }
    static W down(W v) { return _mm_slli_epi16(v, 1); }
    static W left(W v) { return _mm_bslli_si128(v, 2); }
    static W right(W v) { return _mm_bsrli_si128(v, 2); }
    static bool is_zero(W v) { return _mm_testz_si128(v, v) != 0; }

    static unsigned popcount64(std::uint64_t v) { return static_cast<unsigned>(_mm_popcnt_u64(v)); }
    static unsigned popcount(W v) { return popcount64(low_word(v)) + popcount64(high_word(v)); }
    // Without a branch: whether the high half is empty depends on the group, and a mispredicted
    // test cost more than forming both halves' lowest bits.
    static W first_seed(W v) {
        const std::uint64_t high = high_word(v);
        const std::uint64_t low_if_high_empty = _blsi_u64(low_word(v)) & (std::uint64_t{0} - static_cast<std::uint64_t>(high == 0));
        return from_words(_blsi_u64(high), low_if_high_empty);
    }

    static W lane_span(W x) {
        x = x | _mm_srli_epi16(x, 1);
        x = x | _mm_srli_epi16(x, 2);
        x = x | _mm_srli_epi16(x, 4);
        return x | _mm_srli_epi16(x, 8);
    }

    // Whether every lane's occupied cells among rows 0..13 (bits 0..13) run from bit 0 up without
    // a gap: the state that every gravity of these paths leaves behind.
    template <class Planes>
    static bool settled(const Planes& planes) {
        const W low_rows = (planes.p0 | planes.p1 | planes.p2) & _mm_set1_epi16(0x3FFF);
        return is_zero(low_rows & _mm_add_epi16(low_rows, _mm_set1_epi16(1)));
    }

    // Gravity after emptying `cleared` on a settled field (see settled) without WALL cells inside
    // the counted area, when each lane's cleared cells form one run of rows: the counted cells
    // above the run move down by its length, all lanes at once with a per-lane shift, and the
    // planes never leave the vector registers. Returns false, changing nothing, when a lane holds
    // two runs. The result equals the gathering and scattering of compact: below the run every
    // cell is kept, above it the kept cells are the stack's remaining cells, and the kept cells
    // outside the counted area carry nothing into it.
    //
    // Each step of the chain waits for this one, so what follows the shift is a single OR: the
    // masks are formed while the run lengths are counted. cleared - 1 marks the cells below the
    // run (all of a lane without a run). What gravity never moves is exactly what lies outside
    // the counted area, so a cell keeps its place outside the area and below the run; the counted
    // cells above the run fall by its length onto the run's lowest row and up, and the counted
    // cells those do not reach are left empty.
    template <class Planes>
    static bool close_single_runs(Planes& planes, W cleared) {
        static_assert(bit_layout::kDropKeep == ~bit_layout::kCountedArea);
        using K = Kernels<Path>;
        const W minus_one = _mm_add_epi16(cleared, _mm_set1_epi16(-1));
        // One run per lane: adding 1 to the run and all below it clears them, leaving no cleared
        // cell above (an empty lane is all ones and becomes 0).
        static constexpr W kOnes = {0x0001000100010001, 0x0001000100010001};
        if (_mm_testz_si128(_mm_add_epi16(cleared | minus_one, from_memory(kOnes)), cleared) == 0) return false;
        const W counted = load(bit_layout::kCountedArea);
        // Outside the counted area, or below the run.
        const W kept_in_place = K::logic([](auto a, auto b, auto c) { return ~a | (b & ~c); }, counted, minus_one, cleared);
        // Counted, and above the run.
        const W falling = K::logic([](auto a, auto b, auto c) { return a & ~(b | c); }, counted, minus_one, cleared);
        const auto fall = Path::run_fall(cleared, falling);
        W* const all[3] = {&planes.p0, &planes.p1, &planes.p2};
#pragma GCC unroll 3
        for (W* plane : all) *plane = (*plane & kept_in_place) | Path::fallen(*plane, fall);
        return true;
    }

    // Gathers each half's counted-area bits at the positions that are not holes and scatters
    // them onto the lowest positions of their lanes.
    static std::uint64_t compact_word(std::uint64_t word, std::uint64_t kept_positions, std::uint64_t deposit,
                                      std::uint64_t counted, std::uint64_t keep) {
        return _pdep_u64(_pext_u64(word & counted, kept_positions), deposit) | (word & keep);
    }

    template <class Planes>
    static void compact(Planes& planes, W holes) {
        constexpr u128 kCounted = bit_layout::kCountedArea;
        constexpr u128 kKeep = bit_layout::kDropKeep;
        constexpr auto kCountedLow = static_cast<std::uint64_t>(kCounted);
        constexpr auto kCountedHigh = static_cast<std::uint64_t>(kCounted >> 64);
        constexpr auto kKeepLow = static_cast<std::uint64_t>(kKeep);
        constexpr auto kKeepHigh = static_cast<std::uint64_t>(kKeep >> 64);
        const W deposit = Path::lane_deposit(holes);
        const std::uint64_t holes_low = low_word(holes);
        const std::uint64_t holes_high = high_word(holes);
        const std::uint64_t deposit_low = low_word(deposit);
        const std::uint64_t deposit_high = high_word(deposit);
        W* const all[3] = {&planes.p0, &planes.p1, &planes.p2};
#pragma GCC unroll 3
        for (W* plane : all) {
            std::uint64_t low = low_word(*plane);
            std::uint64_t high = high_word(*plane);
            // A half without holes has a deposit of all ones, which leaves it as it is.
            low = compact_word(low, ~holes_low, deposit_low, kCountedLow, kKeepLow);
            high = compact_word(high, ~holes_high, deposit_high, kCountedHigh, kKeepHigh);
            *plane = from_words(high, low);
        }
    }
};

}  // namespace velmo::bit_kernels

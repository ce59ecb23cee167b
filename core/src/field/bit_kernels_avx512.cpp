// The AVX-512 path (x86-64 only; this unit alone is compiled with AVX-512F/VL/BW/BITALG and
// BMI2). A mask is one 128-bit vector as on the BMI2/AVX2 path, but the compiler folds each
// combination of up to three masks into one ternary-logic instruction, which shortens the
// dependency chain of group detection, and gravity counts each lane's holes with one 16-bit
// population count and forms its deposit with one per-lane variable shift.
#include "bit_kernels_impl.hpp"

#if defined(__x86_64__) && defined(__AVX512F__) && defined(__AVX512VL__) && defined(__AVX512BW__) && \
    defined(__AVX512BITALG__) && defined(__BMI2__) && defined(__POPCNT__)
#include <immintrin.h>

#include "bit_kernels_x86_vector.hpp"
#define VELMO_HAS_AVX512_PATH 1
#endif

namespace velmo::bit_kernels {

#if defined(VELMO_HAS_AVX512_PATH)
namespace {

struct Avx512Ops : X86VectorOps<Avx512Ops> {
    // Any bitwise function of three masks in one instruction; its table is the function applied
    // to the input columns kA, kB, kC (see Kernels::logic).
    template <std::uint8_t kTable>
    static W ternary(W a, W b, W c) { return _mm_ternarylogic_epi64(a, b, c, kTable); }
    static constexpr unsigned kA = 0xF0, kB = 0xCC, kC = 0xAA;

    // Per lane: 0xFFFF >> (number of holes), the positions the lane's kept cells fall onto (a
    // shift by 16 gives 0).
    static W lane_deposit(W holes) { return _mm_srlv_epi16(_mm_set1_epi16(-1), _mm_popcnt_epi16(holes)); }

    // Whether every lane's occupied cells among rows 0..13 (bits 0..13) run from bit 0 up without
    // a gap: the state that every gravity of this path leaves behind.
    template <class Planes>
    static bool settled(const Planes& planes) {
        const W low_rows = (planes.p0 | planes.p1 | planes.p2) & _mm_set1_epi16(0x3FFF);
        return is_zero(low_rows & _mm_add_epi16(low_rows, _mm_set1_epi16(1)));
    }

    // Gravity after emptying `cleared` on a settled field (see settled) without WALL cells inside
    // the counted area, when each lane's cleared cells form one run of rows: the counted cells
    // above the run move down by its length, all lanes at once with a per-lane variable shift,
    // and the planes never leave the vector registers. Returns false, changing nothing, when a
    // lane holds two runs. The result equals the gathering and scattering of compact: below the
    // run every cell is kept, above it the kept cells are the stack's remaining cells, and the
    // kept cells outside the counted area carry nothing into it.
    //
    // Each step of the chain waits for this one, so the planes go through two instructions
    // only: a shift of their counted cells (taken before the step, off the critical path) and a
    // select. cleared - 1 marks the cells below the run (all of a lane without a run), and what
    // gravity never moves is exactly what lies outside the counted area, so a cell keeps its
    // place outside the area and below the run, and takes the shifted content elsewhere: a
    // counted cell at or above the run receives the cell `length` rows above it, or nothing
    // when that lies outside the area.
    template <class Planes>
    static bool close_single_runs(Planes& planes, W cleared) {
        static_assert(bit_layout::kDropKeep == ~bit_layout::kCountedArea);
        const W minus_one = _mm_add_epi16(cleared, _mm_set1_epi16(-1));
        // One run per lane: adding 1 to the run and all below it clears them, leaving no cleared
        // cell above (an empty lane is all ones and becomes 0).
        if (_mm_testz_si128(_mm_sub_epi16(cleared | minus_one, _mm_set1_epi16(-1)), cleared) == 0) return false;
        const W counted = load(bit_layout::kCountedArea);
        const W length = _mm_popcnt_epi16(cleared);
        // Outside the counted area, or below the run.
        const W kept_in_place = ternary<static_cast<std::uint8_t>(~kA | (kB & ~kC))>(counted, minus_one, cleared);
        W* const all[3] = {&planes.p0, &planes.p1, &planes.p2};
#pragma GCC unroll 3
        for (W* plane : all) {
            const W fallen = _mm_srlv_epi16(*plane & counted, length);
            *plane = ternary<static_cast<std::uint8_t>((kA & kB) | (~kA & kC))>(kept_in_place, *plane, fallen);
        }
        return true;
    }
};

}  // namespace

const KernelTable* avx512_kernels() { return &Kernels<Avx512Ops>::kTable; }

#else

const KernelTable* avx512_kernels() { return nullptr; }

#endif

}  // namespace velmo::bit_kernels

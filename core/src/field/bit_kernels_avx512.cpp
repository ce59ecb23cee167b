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

    // Per lane: 0xFFFF >> (number of holes), the positions the lane's kept cells fall onto (a
    // shift by 16 gives 0).
    static W lane_deposit(W holes) { return _mm_srlv_epi16(_mm_set1_epi16(-1), _mm_popcnt_epi16(holes)); }

    // Each lane's run length, and the per-lane variable shift by it (close_single_runs).
    struct Fall {
        W cells, length;
    };
    static Fall run_fall(W cleared, W falling) { return Fall{falling, _mm_popcnt_epi16(cleared)}; }
    static W fallen(W plane, const Fall& fall) { return _mm_srlv_epi16(plane & fall.cells, fall.length); }
};

}  // namespace

const KernelTable* avx512_kernels() { return &Kernels<Avx512Ops>::kTable; }

#else

const KernelTable* avx512_kernels() { return nullptr; }

#endif

}  // namespace velmo::bit_kernels

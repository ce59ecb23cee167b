// The BMI2/AVX2 path (x86-64 only; this unit alone is compiled with those instruction sets). A
// mask is one 128-bit vector, so the neighbour shifts are single instructions: rows move by
// 16-bit element shifts, columns by byte shifts.
// Gravity gathers and scatters each 64-bit half with PEXT/PDEP; the per-lane counts use nibble
// lookup tables on byte vectors.
#include "bit_kernels_impl.hpp"

#if defined(__x86_64__) && defined(__AVX2__) && defined(__BMI2__) && defined(__POPCNT__)
#include <immintrin.h>

#include "bit_kernels_x86_vector.hpp"
#define VELMO_HAS_BMI2_AVX2_PATH 1
#endif

namespace velmo::bit_kernels {

#if defined(VELMO_HAS_BMI2_AVX2_PATH)
namespace {

struct Bmi2Avx2Ops : X86VectorOps<Bmi2Avx2Ops> {
    // Per lane: 0xFFFF >> (number of holes), the positions the lane's kept cells fall onto.
    static W lane_deposit(W holes) {
        alignas(16) static constexpr std::uint8_t kNibblePopcount[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
        // Low and high byte of 0xFFFF >> k for k = 0..15; k = 16 is looked up as 0x80, which reads 0.
        alignas(16) static constexpr std::uint8_t kLowByte[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                                  0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
        alignas(16) static constexpr std::uint8_t kHighByte[16] = {0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01,
                                                                   0, 0, 0, 0, 0, 0, 0, 0};
        const W nibble = _mm_set1_epi8(0x0F);
        const W popcounts = _mm_load_si128(reinterpret_cast<const __m128i*>(kNibblePopcount));
        const W per_byte = _mm_add_epi8(_mm_shuffle_epi8(popcounts, holes & nibble),
                                        _mm_shuffle_epi8(popcounts, _mm_srli_epi16(holes, 4) & nibble));
        const W per_lane = _mm_add_epi8(per_byte, _mm_srli_epi16(per_byte, 8)) & _mm_set1_epi16(0x00FF);
        const W index = _mm_add_epi8(per_lane | _mm_slli_epi16(per_lane, 8), _mm_set1_epi8(0x70));
        const W low = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kLowByte)), index);
        const W high = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kHighByte)), index);
        return (low & _mm_set1_epi16(0x00FF)) | (high & _mm_set1_epi16(static_cast<short>(0xFF00)));
    }
};

}  // namespace

const KernelTable* bmi2_avx2_kernels() { return &Kernels<Bmi2Avx2Ops>::kTable; }

#else

const KernelTable* bmi2_avx2_kernels() { return nullptr; }

#endif

}  // namespace velmo::bit_kernels

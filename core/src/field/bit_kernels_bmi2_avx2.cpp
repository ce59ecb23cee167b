// The BMI2/AVX2 path (x86-64 only; this unit alone is compiled with those instruction sets). A
// mask is one 128-bit vector, so the neighbour shifts are single instructions: rows move by
// 16-bit element shifts, columns by byte shifts.
// Gravity gathers and scatters each 64-bit half with PEXT/PDEP, or, in the chain loop, shifts
// every lane down by its one run of emptied rows without leaving the vector registers; the
// per-lane counts use nibble lookup tables on byte vectors.
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
    alignas(16) static constexpr std::uint8_t kNibblePopcount[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

    // Per byte: the number of set bits.
    static W byte_popcounts(W v) {
        static constexpr W kNibble = {0x0F0F0F0F0F0F0F0F, 0x0F0F0F0F0F0F0F0F};
        const W nibble = from_memory(kNibble);
        const W popcounts = _mm_load_si128(reinterpret_cast<const __m128i*>(kNibblePopcount));
        return _mm_add_epi8(_mm_shuffle_epi8(popcounts, v & nibble), _mm_shuffle_epi8(popcounts, _mm_srli_epi16(v, 4) & nibble));
    }

    // AVX2 has no per-lane variable shift of 16-bit lanes, but the high half of an unsigned
    // multiply by 2^(16 - k) is a right shift by k (one instruction). Per lane: that multiplier
    // for the run length k = 1..13 (anything for a lane without a run, whose falling cells are
    // none). Both bytes of a lane hold k once the byte counts are summed both ways; one byte
    // shuffle then reads 2^(8 - k) (k <= 8, else 0) for the high byte at index k, and for the
    // low byte at index k - 8 either 2^(16 - k) (k > 8) or 0 (k <= 8: a negative index, or entry
    // 0). The bias of the low bytes is taken off beside the byte swap, not after the sum.
    //
    // Shifting the two 16-bit halves of each 32-bit lane apart with AVX2's 32-bit variable
    // shifts instead is shorter in latency, but takes five instructions per plane for one and
    // measured 7% to 14% slower on the 19-chain: the step is short of vector ports as much as of
    // latency.
    struct Fall {
        W cells, multiplier;
    };
    static Fall run_fall(W cleared, W falling) {
        alignas(16) static constexpr std::uint8_t kPowers[16] = {0, 0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0};
        static constexpr W kLowByteBias = {0x0008000800080008, 0x0008000800080008};
        const W swap_bytes = _mm_set_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        const W per_byte = byte_popcounts(cleared);
        const W index = _mm_add_epi8(_mm_sub_epi8(per_byte, from_memory(kLowByteBias)), _mm_shuffle_epi8(per_byte, swap_bytes));
        return Fall{falling, _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kPowers)), index)};
    }
    static W fallen(W plane, const Fall& fall) { return _mm_mulhi_epu16(plane & fall.cells, fall.multiplier); }

    // Per lane: 0xFFFF >> (number of holes), the positions the lane's kept cells fall onto.
    static W lane_deposit(W holes) {
        // Low and high byte of 0xFFFF >> k for k = 0..15; k = 16 is looked up as 0x80, which reads 0.
        alignas(16) static constexpr std::uint8_t kLowByte[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                                  0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
        alignas(16) static constexpr std::uint8_t kHighByte[16] = {0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01,
                                                                   0, 0, 0, 0, 0, 0, 0, 0};
        const W per_byte = byte_popcounts(holes);
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

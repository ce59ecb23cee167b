// The BMI2/AVX2 path (x86-64 only; this unit alone is compiled with those instruction sets). A
// mask is one 128-bit vector, so the neighbour shifts are single instructions: rows move by
// 16-bit element shifts, columns by byte shifts.
// Gravity gathers and scatters each 64-bit half with PEXT/PDEP; the per-lane counts use nibble
// lookup tables on byte vectors.
#include "bit_kernels_impl.hpp"

#if defined(__x86_64__) && defined(__AVX2__) && defined(__BMI2__) && defined(__POPCNT__)
#include <immintrin.h>
#define VELMO_HAS_BMI2_AVX2_PATH 1
#endif

namespace velmo::bit_kernels {

#if defined(VELMO_HAS_BMI2_AVX2_PATH)
namespace {

struct Bmi2Avx2Ops {
    using W = __m128i;
    static constexpr bool kCompactsAnyHolesAtOnce = true;

    static std::uint64_t low_word(W v) { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v)); }
    static std::uint64_t high_word(W v) { return static_cast<std::uint64_t>(_mm_extract_epi64(v, 1)); }
    static W from_words(std::uint64_t high, std::uint64_t low) {
        return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    }

    static W load(u128 v) { return from_words(static_cast<std::uint64_t>(v >> 64), static_cast<std::uint64_t>(v)); }
    static u128 store(W v) { return (static_cast<u128>(high_word(v)) << 64) | low_word(v); }
    static W zero() { return _mm_setzero_si128(); }

    // Rows move by 16-bit element shifts, columns by byte shifts of the whole 128-bit value.
    static W up(W v) { return _mm_srli_epi16(v, 1); }
    static W down(W v) { return _mm_slli_epi16(v, 1); }
    static W left(W v) { return _mm_bslli_si128(v, 2); }
    static W right(W v) { return _mm_bsrli_si128(v, 2); }
    static bool is_zero(W v) { return _mm_testz_si128(v, v) != 0; }

    static unsigned popcount64(std::uint64_t v) { return static_cast<unsigned>(_mm_popcnt_u64(v)); }
    static unsigned popcount(W v) { return popcount64(low_word(v)) + popcount64(high_word(v)); }
    static W first_seed(W v) {
        const std::uint64_t high = high_word(v);
        if (high != 0) return from_words(_blsi_u64(high), 0);
        return from_words(0, _blsi_u64(low_word(v)));
    }

    static W lane_span(W x) {
        x = x | _mm_srli_epi16(x, 1);
        x = x | _mm_srli_epi16(x, 2);
        x = x | _mm_srli_epi16(x, 4);
        return x | _mm_srli_epi16(x, 8);
    }

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
        const W deposit = lane_deposit(holes);
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

}  // namespace

const KernelTable* bmi2_avx2_kernels() { return &Kernels<Bmi2Avx2Ops>::kTable; }

#else

const KernelTable* bmi2_avx2_kernels() { return nullptr; }

#endif

}  // namespace velmo::bit_kernels

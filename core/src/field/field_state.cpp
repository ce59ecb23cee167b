#include "field_state.hpp"

#include <string>

#include "../internal_failure.hpp"

namespace velmo {

StateWriter<kBitFieldStateSize> encode_state(const BitField& field) {
    StateWriter<kBitFieldStateSize> out;
    out.u64(kBitFieldPlaneBytes);
    for (const u128 plane : field.planes()) out.u128(plane);
    return out;
}

StateWriter<kArrayFieldStateSize> encode_state(const ArrayField<RegularPuyoType>& field) {
    StateWriter<kArrayFieldStateSize> out;
    for (const RegularPuyoType cell : field.cells()) out.u32(array_code(cell));
    return out;
}

Result<BitField, DecodeError> decode_bit_field_state(std::span<const std::uint8_t> bytes) {
    StateReader in(bytes);
    auto sequence = in.byte_sequence();
    if (!sequence) return Err{sequence.error()};
    const std::span<const std::uint8_t> planes = sequence.value();
    constexpr std::size_t kPlaneBytes = 16;
    std::array<u128, 3> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t end = kPlaneBytes * (i + 1);
        if (planes.size() < end) {
            throw InternalFailure("range end index " + std::to_string(end) + " out of range for slice of length " +
                                  std::to_string(planes.size()));
        }
        values[i] = read_u128_le(planes.subspan(kPlaneBytes * i).first<kPlaneBytes>());
    }
    return BitField::from_planes(values[0], values[1], values[2]);
}

Result<ArrayField<RegularPuyoType>, DecodeError> decode_array_field_state(std::span<const std::uint8_t> bytes) {
    StateReader in(bytes);
    std::array<RegularPuyoType, kNumCells> cells{};
    for (RegularPuyoType& cell : cells) {
        auto code = in.case_number(kNumPuyoTypes);
        if (!code) return Err{code.error()};
        cell = static_cast<RegularPuyoType>(code.value());
    }
    return ArrayField<RegularPuyoType>::from_cells(cells);
}

}  // namespace velmo

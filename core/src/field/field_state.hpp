// The pickle states of the two fields. A bit field is one byte sequence of 48 bytes (the three
// planes, 128-bit little-endian each); an array field is its 128 cells as 32-bit case numbers,
// column-major.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "../result.hpp"
#include "../state_codec.hpp"
#include "array_field.hpp"
#include "bit_field.hpp"

namespace velmo {

inline constexpr std::size_t kBitFieldPlaneBytes = 48;
inline constexpr std::size_t kBitFieldStateSize = 8 + kBitFieldPlaneBytes;
inline constexpr std::size_t kArrayFieldStateSize = 4 * kNumCells;

StateWriter<kBitFieldStateSize> encode_state(const BitField& field);
StateWriter<kArrayFieldStateSize> encode_state(const ArrayField<RegularPuyoType>& field);

// The planes are taken as they are, without any check. A complete sequence shorter than 48
// bytes is an internal failure naming the first plane it cannot hold; bytes beyond 48 are ignored.
Result<BitField, DecodeError> decode_bit_field_state(std::span<const std::uint8_t> bytes);

// Every case number is checked (below 8) as soon as it is read.
Result<ArrayField<RegularPuyoType>, DecodeError> decode_array_field_state(std::span<const std::uint8_t> bytes);

}  // namespace velmo

// The byte states of pickling: little-endian integers in full width, data-less enumerations as
// 32-bit case numbers, byte sequences as a 64-bit length and the bytes, records as their fields
// in order. The writer fills one buffer of the exact final size; the reader walks a cursor over
// the caller's bytes without copying them and reports the first problem it meets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "hand.hpp"
#include "pair.hpp"
#include "result.hpp"
#include "uint128.hpp"

namespace velmo {

class DecodeError {
public:
    enum class Kind : std::uint8_t { UnexpectedEof, SequenceUnexpectedEof, InvalidVariant };

    static constexpr DecodeError unexpected_eof() { return {Kind::UnexpectedEof, 0, 0}; }
    static constexpr DecodeError sequence_unexpected_eof() { return {Kind::SequenceUnexpectedEof, 0, 0}; }
    static constexpr DecodeError invalid_variant(std::uint64_t value, std::uint32_t count) {
        return {Kind::InvalidVariant, value, count};
    }

    [[nodiscard]] constexpr Kind kind() const { return kind_; }
    // Io(Kind(UnexpectedEof)), Io(Custom { kind: UnexpectedEof, error: "" }) or
    // Custom("invalid value: integer `9`, expected variant index 0 <= i < 8").
    [[nodiscard]] std::string debug() const;

private:
    constexpr DecodeError(Kind kind, std::uint64_t value, std::uint32_t count)
        : kind_(kind), value_(value), count_(count) {}
    Kind kind_;
    std::uint64_t value_;
    std::uint32_t count_;
};

template <std::size_t N>
class StateWriter {
public:
    void u32(std::uint32_t v) { put_le(v, 4); }
    void u64(std::uint64_t v) { put_le(v, 8); }
    void u128(velmo::u128 v) {
        put_le(low64(v), 8);
        put_le(high64(v), 8);
    }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return {buffer_.data(), pos_}; }

private:
    void put_le(std::uint64_t v, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) buffer_[pos_++] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::array<std::uint8_t, N> buffer_{};
    std::size_t pos_ = 0;
};

class StateReader {
public:
    explicit StateReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    Result<std::uint32_t, DecodeError> u32();
    Result<std::uint64_t, DecodeError> u64();
    Result<velmo::u128, DecodeError> u128();
    // A 64-bit length, then that many bytes.
    Result<std::span<const std::uint8_t>, DecodeError> byte_sequence();
    // A 32-bit case number below `count`, checked as soon as it is read.
    Result<std::uint32_t, DecodeError> case_number(std::uint32_t count);

private:
    Result<std::uint64_t, DecodeError> little_endian(std::size_t width);
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Reads a u128 from 16 little-endian bytes.
velmo::u128 read_u128_le(std::span<const std::uint8_t, 16> bytes);

// --- piece states ---------------------------------------------------------------------------

inline constexpr std::size_t kPairStateSize = 8;
inline constexpr std::size_t kHandStateSize = 12;

StateWriter<kPairStateSize> encode_state(const Pair<RegularPuyoType>& pair);
StateWriter<kHandStateSize> encode_state(const Hand& hand);
Result<Pair<RegularPuyoType>, DecodeError> decode_pair_state(std::span<const std::uint8_t> bytes);
Result<Hand, DecodeError> decode_hand_state(std::span<const std::uint8_t> bytes);

}  // namespace velmo

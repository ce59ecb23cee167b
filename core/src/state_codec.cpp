#include "state_codec.hpp"

#include "debug_text.hpp"

namespace velmo {

std::string DecodeError::debug() const {
    switch (kind_) {
        case Kind::UnexpectedEof: return "Io(Kind(UnexpectedEof))";
        case Kind::SequenceUnexpectedEof: return "Io(Custom { kind: UnexpectedEof, error: \"\" })";
        case Kind::InvalidVariant: break;
    }
    const std::string message = "invalid value: integer `" + std::to_string(value_) +
                                "`, expected variant index 0 <= i < " + std::to_string(count_);
    return "Custom(" + debug_string(message) + ")";
}

Result<std::uint64_t, DecodeError> StateReader::little_endian(std::size_t width) {
    if (bytes_.size() - pos_ < width) return Err{DecodeError::unexpected_eof()};
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += width;
    return v;
}

Result<std::uint32_t, DecodeError> StateReader::u32() {
    auto v = little_endian(4);
    if (!v) return Err{v.error()};
    return static_cast<std::uint32_t>(v.value());
}

Result<std::uint64_t, DecodeError> StateReader::u64() { return little_endian(8); }

Result<velmo::u128, DecodeError> StateReader::u128() {
    auto low = little_endian(8);
    if (!low) return Err{low.error()};
    auto high = little_endian(8);
    if (!high) return Err{high.error()};
    return make_u128(high.value(), low.value());
}

Result<std::span<const std::uint8_t>, DecodeError> StateReader::byte_sequence() {
    auto length = u64();
    if (!length) return Err{length.error()};
    if (bytes_.size() - pos_ < length.value()) return Err{DecodeError::sequence_unexpected_eof()};
    const auto sequence = bytes_.subspan(pos_, static_cast<std::size_t>(length.value()));
    pos_ += sequence.size();
    return sequence;
}

Result<std::uint32_t, DecodeError> StateReader::case_number(std::uint32_t count) {
    auto v = u32();
    if (!v) return v;
    if (v.value() >= count) return Err{DecodeError::invalid_variant(v.value(), count)};
    return v;
}

velmo::u128 read_u128_le(std::span<const std::uint8_t, 16> bytes) {
    velmo::u128 v = 0;
    for (std::size_t i = 16; i-- > 0;) v = (v << 8) | bytes[i];
    return v;
}

StateWriter<kPairStateSize> encode_state(const Pair<RegularPuyoType>& pair) {
    StateWriter<kPairStateSize> out;
    out.u32(array_code(pair.colors[0]));
    out.u32(array_code(pair.colors[1]));
    return out;
}

StateWriter<kHandStateSize> encode_state(const Hand& hand) {
    StateWriter<kHandStateSize> out;
    out.u64(hand.x);
    out.u32(static_cast<std::uint32_t>(hand.rotation));
    return out;
}

Result<Pair<RegularPuyoType>, DecodeError> decode_pair_state(std::span<const std::uint8_t> bytes) {
    StateReader in(bytes);
    Pair<RegularPuyoType> pair{};
    for (auto& color : pair.colors) {
        auto code = in.case_number(kNumPuyoTypes);
        if (!code) return Err{code.error()};
        color = static_cast<RegularPuyoType>(code.value());
    }
    return pair;
}

Result<Hand, DecodeError> decode_hand_state(std::span<const std::uint8_t> bytes) {
    StateReader in(bytes);
    auto x = in.u64();
    if (!x) return Err{x.error()};
    auto rotation = in.case_number(kNumRotations);
    if (!rotation) return Err{rotation.error()};
    return Hand{x.value(), static_cast<Rotation>(rotation.value())};
}

}  // namespace velmo

// The eight puyo types and their three numberings:
//   Python number  EMPTY 0, OJAMA 1, WALL 2, RED 4 .. PURPLE 8 (no 3) — what Python callers pass;
//   array code     RegularPuyoType 0..7 — array field cells, pairs and hands;
//   bit code       BitPuyoType 0, 1, 2, 4..7 — the three planes of a bit field (no purple).
// Keeping them apart is the point of this file: every crossing between them is a named function.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "../result.hpp"

namespace velmo {

enum class RegularPuyoType : std::uint8_t { Empty, Ojama, Wall, Red, Blue, Yellow, Green, Purple };

// Bit 0 of the code lives in plane p0, bit 1 in p1, bit 2 in p2; bit 2 set means a colour.
enum class BitPuyoType : std::uint8_t { Empty = 0, Ojama = 1, Wall = 2, Red = 4, Blue = 5, Yellow = 6, Green = 7 };

inline constexpr std::size_t kNumPuyoTypes = 8;

// The error of the puyo type conversions. A plain value.
class PuyoTypeError {
public:
    enum class Kind : std::uint8_t { InvalidPuyoTypeCharacter, InvalidPuyoTypeNumber };

    static constexpr PuyoTypeError invalid_character(char32_t ch) { return {Kind::InvalidPuyoTypeCharacter, ch, 0}; }
    static constexpr PuyoTypeError invalid_number(std::uint64_t n) { return {Kind::InvalidPuyoTypeNumber, 0, n}; }

    [[nodiscard]] constexpr Kind kind() const { return kind_; }
    [[nodiscard]] constexpr char32_t character() const { return character_; }
    [[nodiscard]] constexpr std::uint64_t number() const { return number_; }
    // InvalidPuyoTypeCharacter('x') or InvalidPuyoTypeNumber(9).
    [[nodiscard]] std::string debug() const;

    friend constexpr bool operator==(const PuyoTypeError&, const PuyoTypeError&) = default;

private:
    constexpr PuyoTypeError(Kind kind, char32_t ch, std::uint64_t n) : kind_(kind), character_(ch), number_(n) {}
    Kind kind_;
    char32_t character_;
    std::uint64_t number_;
};

// The array code of a type (its RegularPuyoType value, 0..7).
constexpr std::uint8_t array_code(RegularPuyoType t) { return static_cast<std::uint8_t>(t); }
constexpr std::uint8_t bit_code(BitPuyoType t) { return static_cast<std::uint8_t>(t); }

// "Empty", "Ojama", ... as in diagnostic text.
std::string_view debug_name(RegularPuyoType t);

// --- crossings between the numberings -------------------------------------------------------

// Python number -> array code: 0,1,2 stay, 4..8 become 3..7; 3 and anything above 8 have none.
constexpr std::optional<RegularPuyoType> regular_from_python_number(std::uint64_t n) {
    if (n <= 2) return static_cast<RegularPuyoType>(n);
    if (n >= 4 && n <= 8) return static_cast<RegularPuyoType>(n - 1);
    return std::nullopt;
}

// Python number -> bit code: the identity on 0, 1, 2, 4..7; 3, 8 (purple) and above have none.
constexpr std::optional<BitPuyoType> bit_from_python_number(std::uint64_t n) {
    if (n <= 2 || (n >= 4 && n <= 7)) return static_cast<BitPuyoType>(n);
    return std::nullopt;
}

// A bit-field cell's three bits -> bit code; 3 is no type.
constexpr Result<BitPuyoType, PuyoTypeError> bit_from_code(std::uint64_t code) {
    if (code == 3 || code > 7) return Err{PuyoTypeError::invalid_number(code)};
    return static_cast<BitPuyoType>(code);
}

// Array code -> bit code, for pairs put into a bit field; purple has none.
constexpr std::optional<BitPuyoType> to_bit(RegularPuyoType t) {
    if (t == RegularPuyoType::Purple) return std::nullopt;
    const auto code = array_code(t);
    return static_cast<BitPuyoType>(code <= 2 ? code : code + 1);
}

// Bit code -> array code (always possible).
constexpr RegularPuyoType to_regular(BitPuyoType t) {
    const auto code = bit_code(t);
    return static_cast<RegularPuyoType>(code <= 2 ? code : code - 1);
}

// --- the PuyoType contract --------------------------------------------------------------------

template <class P>
struct PuyoTraits;

template <>
struct PuyoTraits<RegularPuyoType> {
    static constexpr RegularPuyoType kEmpty = RegularPuyoType::Empty;
    static constexpr RegularPuyoType kOjama = RegularPuyoType::Ojama;
    static constexpr RegularPuyoType kWall = RegularPuyoType::Wall;

    // ' ' and '_' EMPTY, O W R B Y G P; case-sensitive.
    static Result<RegularPuyoType, PuyoTypeError> from_char(char32_t ch);
    static constexpr bool is_color(RegularPuyoType t) { return array_code(t) >= 3; }
    static constexpr std::optional<RegularPuyoType> from_python_number(std::uint64_t n) {
        return regular_from_python_number(n);
    }
    // What a field of this type reports to Python for a cell: the array code itself.
    static constexpr std::uint64_t to_python_result(RegularPuyoType t) { return array_code(t); }
    static constexpr RegularPuyoType to_regular(RegularPuyoType t) { return t; }
};

template <>
struct PuyoTraits<BitPuyoType> {
    static constexpr BitPuyoType kEmpty = BitPuyoType::Empty;
    static constexpr BitPuyoType kOjama = BitPuyoType::Ojama;
    static constexpr BitPuyoType kWall = BitPuyoType::Wall;

    // As for RegularPuyoType, except that 'P' is rejected: the bit field has no purple.
    static Result<BitPuyoType, PuyoTypeError> from_char(char32_t ch);
    static constexpr bool is_color(BitPuyoType t) { return (bit_code(t) & 4) != 0; }
    static constexpr std::optional<BitPuyoType> from_python_number(std::uint64_t n) {
        return bit_from_python_number(n);
    }
    // The bit code equals the Python number, so it crosses unchanged.
    static constexpr std::uint64_t to_python_result(BitPuyoType t) { return bit_code(t); }
    static constexpr RegularPuyoType to_regular(BitPuyoType t) { return velmo::to_regular(t); }
};

template <class P>
concept PuyoType = requires(P t, char32_t ch, std::uint64_t n) {
    { PuyoTraits<P>::kEmpty } -> std::convertible_to<P>;
    { PuyoTraits<P>::kOjama } -> std::convertible_to<P>;
    { PuyoTraits<P>::kWall } -> std::convertible_to<P>;
    { PuyoTraits<P>::from_char(ch) } -> std::same_as<Result<P, PuyoTypeError>>;
    { PuyoTraits<P>::is_color(t) } -> std::same_as<bool>;
    { PuyoTraits<P>::from_python_number(n) } -> std::same_as<std::optional<P>>;
    { PuyoTraits<P>::to_python_result(t) } -> std::same_as<std::uint64_t>;
    { PuyoTraits<P>::to_regular(t) } -> std::same_as<RegularPuyoType>;
};

static_assert(PuyoType<RegularPuyoType>);
static_assert(PuyoType<BitPuyoType>);

// The type for a Python number, failing with "not implemented" when the field type has none.
template <PuyoType P>
P puyo_from_python_number(std::uint64_t n);

}  // namespace velmo

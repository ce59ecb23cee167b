#include "puyotype.hpp"

#include "../debug_text.hpp"
#include "../internal_failure.hpp"

namespace velmo {
namespace {

constexpr std::array<std::string_view, kNumPuyoTypes> kDebugNames = {
    "Empty", "Ojama", "Wall", "Red", "Blue", "Yellow", "Green", "Purple"};

constexpr std::optional<RegularPuyoType> regular_from_char(char32_t ch) {
    switch (ch) {
        case U' ':
        case U'_': return RegularPuyoType::Empty;
        case U'O': return RegularPuyoType::Ojama;
        case U'W': return RegularPuyoType::Wall;
        case U'R': return RegularPuyoType::Red;
        case U'B': return RegularPuyoType::Blue;
        case U'Y': return RegularPuyoType::Yellow;
        case U'G': return RegularPuyoType::Green;
        case U'P': return RegularPuyoType::Purple;
        default: return std::nullopt;
    }
}

}  // namespace

std::string PuyoTypeError::debug() const {
    if (kind_ == Kind::InvalidPuyoTypeCharacter) return "InvalidPuyoTypeCharacter(" + debug_char(character_) + ")";
    return "InvalidPuyoTypeNumber(" + std::to_string(number_) + ")";
}

std::string_view debug_name(RegularPuyoType t) { return kDebugNames[array_code(t) & 7]; }

Result<RegularPuyoType, PuyoTypeError> PuyoTraits<RegularPuyoType>::from_char(char32_t ch) {
    if (const auto t = regular_from_char(ch)) return *t;
    return Err{PuyoTypeError::invalid_character(ch)};
}

Result<BitPuyoType, PuyoTypeError> PuyoTraits<BitPuyoType>::from_char(char32_t ch) {
    const auto t = regular_from_char(ch);
    if (!t || *t == RegularPuyoType::Purple) return Err{PuyoTypeError::invalid_character(ch)};
    return *to_bit(*t);
}

template <PuyoType P>
P puyo_from_python_number(std::uint64_t n) {
    const auto t = PuyoTraits<P>::from_python_number(n);
    if (!t) fail_not_implemented();
    return *t;
}

template RegularPuyoType puyo_from_python_number<RegularPuyoType>(std::uint64_t);
template BitPuyoType puyo_from_python_number<BitPuyoType>(std::uint64_t);

}  // namespace velmo

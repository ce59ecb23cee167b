// Rotation: where a pair's child sits relative to its axis. The numbering is stored in pickles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "result.hpp"

namespace velmo {

enum class Rotation : std::uint8_t { Top = 0, Left = 1, Bottom = 2, Right = 3 };

inline constexpr std::uint8_t kNumRotations = 4;

// "top", "left", "bottom", "right".
constexpr std::string_view to_text(Rotation r) {
    switch (r) {
        case Rotation::Top: return "top";
        case Rotation::Left: return "left";
        case Rotation::Bottom: return "bottom";
        case Rotation::Right: return "right";
    }
    return "top";
}

constexpr std::optional<Rotation> rotation_from_number(std::uint64_t n) {
    if (n >= kNumRotations) return std::nullopt;
    return static_cast<Rotation>(n);
}

// The error of parsing a rotation.
class RotationError {
public:
    enum class Kind : std::uint8_t { InvalidRotationString, InvalidRotationNumber };

    static RotationError invalid_string(std::string_view text) { return {Kind::InvalidRotationString, std::string(text), 0}; }
    static RotationError invalid_number(std::uint64_t n) { return {Kind::InvalidRotationNumber, {}, n}; }

    [[nodiscard]] Kind kind() const { return kind_; }
    // InvalidRotationString("Top") or InvalidRotationNumber(7).
    [[nodiscard]] std::string debug() const;

private:
    RotationError(Kind kind, std::string text, std::uint64_t n) : kind_(kind), text_(std::move(text)), number_(n) {}
    Kind kind_;
    std::string text_;
    std::uint64_t number_;
};

// Exactly "top"/"TOP", "left"/"LEFT", "bottom"/"BOTTOM", "right"/"RIGHT", byte for byte.
Result<Rotation, RotationError> rotation_from_str(std::string_view text);

}  // namespace velmo

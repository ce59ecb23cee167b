#include "rotation.hpp"

#include <array>

#include "debug_text.hpp"

namespace velmo {
namespace {

struct Spelling {
    std::string_view lower;
    std::string_view upper;
    Rotation rotation;
};

// One word per length, so the length alone picks the candidate.
constexpr std::array<Spelling, 4> kSpellings = {{
    {"top", "TOP", Rotation::Top},
    {"left", "LEFT", Rotation::Left},
    {"right", "RIGHT", Rotation::Right},
    {"bottom", "BOTTOM", Rotation::Bottom},
}};

}  // namespace

std::string RotationError::debug() const {
    if (kind_ == Kind::InvalidRotationString) return "InvalidRotationString(" + debug_string(text_) + ")";
    return "InvalidRotationNumber(" + std::to_string(number_) + ")";
}

Result<Rotation, RotationError> rotation_from_str(std::string_view text) {
    for (const auto& spelling : kSpellings) {
        if (text.size() != spelling.lower.size()) continue;
        if (text == spelling.lower || text == spelling.upper) return spelling.rotation;
        break;
    }
    return Err{RotationError::invalid_string(text)};
}

}  // namespace velmo

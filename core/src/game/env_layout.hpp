// What each kind of environment shows and takes, declared once: its actions, the arrays of its
// observation with their shapes, element types and bounds, and the one-hot planes offered in
// place of the puyo numbers. The batches write these arrays; the bindings build every Python
// space (Gymnasium's, PettingZoo's) from this declaration rather than restating it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "../puyotype/puyotype.hpp"
#include "match_batch.hpp"
#include "moves.hpp"
#include "observation.hpp"

namespace velmo {

enum class EnvKind : std::uint8_t { OnePlayer, Versus };

enum class ElementType : std::uint8_t { UInt8, Int8, UInt32 };

// One array of an observation: a player's own field or pairs, the opponent's, the ojama pending
// against both players (own first) or the action mask.
struct ObservationArray {
    const char* name;
    std::size_t rank;
    std::array<std::size_t, 3> shape;
    ElementType type;
    double low, high;
};

// The largest puyo number a cell or pair shows (green).
inline constexpr double kMaxPuyoNumber = static_cast<double>(bit_code(BitPuyoType::Green));

// The one-hot planes: one per puyo type that can lie on a field (ojama, then the colours; an
// empty cell is 0 in every plane), and one entry per colour a pair can hold.
inline constexpr std::array<BitPuyoType, 5> kPlaneTypes = {BitPuyoType::Ojama, BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow,
                                                            BitPuyoType::Green};
inline constexpr std::array<BitPuyoType, 4> kPairColours = {BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green};

struct EnvLayout {
    std::size_t num_actions;     // actions 0..num_actions-1: the moves of velmo.Hand.enumerate(), then the wait
    std::int64_t wait_action;    // -1 where a player always moves
    std::size_t num_arrays;
    std::array<ObservationArray, 6> arrays;  // the first num_arrays
};

constexpr EnvLayout env_layout(EnvKind kind, unsigned visible) {
    const std::size_t rows = 1 + std::size_t{visible};
    const ObservationArray field{"field", 2, {kFieldRows, kFieldColumns, 0}, ElementType::UInt8, 0, kMaxPuyoNumber};
    const ObservationArray pairs{"pairs", 2, {rows, 2, 0}, ElementType::UInt8, 0, kMaxPuyoNumber};
    if (kind == EnvKind::OnePlayer) {
        const ObservationArray mask{"action_mask", 1, {kNumMoves, 0, 0}, ElementType::Int8, 0, 1};
        return {kNumMoves, -1, 3, {field, pairs, mask, mask, mask, mask}};
    }
    ObservationArray opponent_field = field, opponent_pairs = pairs;
    opponent_field.name = "opponent_field";
    opponent_pairs.name = "opponent_pairs";
    const ObservationArray pending{"pending_ojama", 1, {kNumPlayers, 0, 0}, ElementType::UInt32, 0,
                                   static_cast<double>(std::numeric_limits<std::uint32_t>::max())};
    const ObservationArray mask{"action_mask", 1, {kNumVersusActions, 0, 0}, ElementType::Int8, 0, 1};
    return {kNumVersusActions, kWaitAction, 6, {field, pairs, opponent_field, opponent_pairs, pending, mask}};
}

}  // namespace velmo

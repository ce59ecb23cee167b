#include "match.hpp"

#include <algorithm>
#include <type_traits>

#include "../chain/gradual_chain_score_calculator.hpp"
#include "ojama.hpp"

namespace velmo {

static_assert(std::is_trivially_copyable_v<Match>);
static_assert(std::is_trivially_copyable_v<StepOutcome>);

namespace {

// The pair appears with its axis in the 12th row and its child above it; a pair turned to put its
// child below has the child in the 11th row. Rotating costs no frames of its own: it happens while
// the pair travels.
constexpr int kSpawnAxisRow = 12;
constexpr int kMaxChainRounds = 20;

int height_of(const BitField& field, std::uint64_t x) { return static_cast<int>(field.get_height(x)); }

std::uint32_t slow_fall(const Timing& timing, int rows) {
    if (rows <= 0) return 0;
    return timing.slow_fall_frames[std::min<std::size_t>(static_cast<std::size_t>(rows), kSlowFallEntries - 1)];
}

// The longest distance anything falls in the drop that follows a vanish: in each column, the top
// puyo of the rows gravity moves falls by the number of empty cells under it, the most of that
// column. The 14th row is never moved by gravity and is left out.
int longest_fall(const BitField& field) {
    const BitPlanes& planes = field.bit_planes();
    const u128 occupied = planes.p0 | planes.p1 | planes.p2;
    int longest = 0;
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        const auto lane = static_cast<std::uint32_t>(occupied >> (bit_layout::kLaneBits * x)) & static_cast<std::uint32_t>(bit_layout::kLaneCountedRows);
        if (lane == 0) continue;
        const int top_row = 31 - __builtin_clz(lane);
        longest = std::max(longest, top_row - __builtin_popcount(lane));
    }
    return longest;
}

void settle_unscored(BitField& field) {
    for (int round = 0; round < kMaxChainRounds; ++round) {
        const BitField before = field;
        field.drop();
        field.vanish(nullptr);
        field.drop();
        if (field == before) break;
    }
}

}  // namespace

Match::Match(const std::array<BitField, kNumPlayers>& fields, const std::array<PairSequence, kNumPlayers>& sequences,
             std::uint64_t ojama_seed, const Rules& rules, const Timing& timing)
    : ojama_random_(ojama_seed), rules_(rules), timing_(timing) {
    for (unsigned p = 0; p < kNumPlayers; ++p) {
        players_[p].field = fields[p];
        settle_unscored(players_[p].field);
        players_[p].sequence = sequences[p];
        players_[p].lost = is_death_cell_occupied(players_[p].field);
    }
    if (players_[0].lost || players_[1].lost) {
        finish();
        return;
    }
    StepOutcome ignored;
    advance(ignored);
}

Match Match::seeded(std::uint64_t seed, const Rules& rules, const Timing& timing) {
    const PairSequence sequence = PairSequence::seeded(seed, 4, SequenceKind::Balanced);
    return Match({BitField{}, BitField{}}, {sequence, sequence}, derive_seed(seed, 1), rules, timing);
}

unsigned Match::earliest_player() const {
    const auto key = [&](unsigned p) {
        return std::pair{players_[p].event_frame, static_cast<unsigned>(players_[p].phase)};
    };
    return key(1) < key(0) ? 1U : 0U;
}

unsigned Match::due_players() const {
    if (over_) return 0;
    unsigned due = 0;
    for (unsigned p = 0; p < kNumPlayers; ++p) {
        if (players_[p].phase == TurnPhase::Decide && players_[p].event_frame == frame_) due |= 1U << p;
    }
    return due;
}

std::optional<std::uint64_t> Match::next_decision_frame(unsigned p) const {
    const MatchPlayer& player = players_[p];
    if (over_) return std::nullopt;
    if (player.phase == TurnPhase::Decide) return player.event_frame;
    if (player.phase == TurnPhase::Settle) return player.event_frame + timing_.spawn_delay;
    return std::nullopt;
}

std::optional<std::uint64_t> Match::chain_end_frame(unsigned p) const {
    const MatchPlayer& player = players_[p];
    if (over_ || player.phase != TurnPhase::Commit) return std::nullopt;
    return player.event_frame;
}

std::uint32_t Match::placement_frames(const BitField& field, unsigned move, const Timing& timing) {
    const Hand hand = kAllHands[move];
    const std::uint64_t travel = hand.x > kSpawnColumn ? hand.x - kSpawnColumn : kSpawnColumn - hand.x;
    std::uint32_t frames = timing.move_frames[std::min<std::uint64_t>(travel, kMoveFrameEntries - 1)];

    // The pair falls as one until its lowest puyo lands on the higher of its columns.
    const int axis_height = height_of(field, hand.x);
    int rows = 0;
    int split = 0;
    switch (hand.rotation) {
        case Rotation::Top: rows = kSpawnAxisRow - (axis_height + 1); break;
        case Rotation::Bottom: rows = kSpawnAxisRow - 1 - (axis_height + 1); break;
        case Rotation::Left:
        case Rotation::Right: {
            const int child_height = height_of(field, hand.rotation == Rotation::Left ? hand.x - 1 : hand.x + 1);
            rows = kSpawnAxisRow - (std::max(axis_height, child_height) + 1);
            split = axis_height > child_height ? axis_height - child_height : child_height - axis_height;
            break;
        }
    }
    frames += timing.drop_frames_per_row * static_cast<std::uint32_t>(std::max(rows, 0));
    frames += timing.landing_frames;
    // On a split the second puyo falls on alone and lands (a second grounding) before the turn
    // goes on.
    if (split > 0) frames += slow_fall(timing, split) + timing.landing_frames;
    return frames;
}

void Match::resolve_move(unsigned p, unsigned move, PlayerEvents& events) {
    MatchPlayer& player = players_[p];
    events.moved = true;
    events.move = static_cast<std::uint8_t>(move);
    events.placement_frames = placement_frames(player.field, move, timing_);
    // Cannot fail: a legal move is one that put_pair accepts.
    (void)put_hand(player.field, kAllHands[move], player.sequence.at(player.turn));
    ++player.turn;

    // Most placements fire nothing: the fused chain kernel tells at the cost of a one-player move.
    // Only a real chain is replayed step by step, for the frames of each step.
    BitField probe = player.field;
    if (probe.run_chain().chain == 0) {
        events.all_clear = false;  // a placed pair stays in the counted area
        player.phase = TurnPhase::Commit;
        player.event_frame = frame_ + events.placement_frames;
        return;
    }

    GradualChainScoreCalculator calculator;
    std::uint32_t produced = 0;
    std::uint64_t step_frame = frame_ + events.placement_frames;  // when the step's puyos vanish
    for (int round = 0; round < kMaxChainRounds; ++round) {
        const std::uint32_t steps_before = calculator.chain();
        player.field.vanish(&calculator);
        if (calculator.chain() == steps_before) break;
        // Each step converts on its own at the rate in force as it vanishes, so the leftover
        // carries from step to step and from chain to chain; a held all-clear bonus joins the
        // first step's points.
        std::uint64_t points = std::uint64_t{calculator.step_scores()[steps_before]} + player.leftover;
        if (steps_before == 0 && player.all_clear) {
            points += rules_.all_clear_bonus;
            events.all_clear_bonus = rules_.all_clear_bonus;
            events.all_clear_bonus_used = true;
            player.all_clear = false;
        }
        const std::uint32_t rate = rules_.target_points_at(step_frame);
        produced += static_cast<std::uint32_t>(points / rate);
        player.leftover = static_cast<std::uint32_t>(points % rate);
        const int fall = longest_fall(player.field);
        player.field.drop();
        const std::uint32_t frames = timing_.vanish_frames +
                                     timing_.chain_fall_frames_per_row * static_cast<std::uint32_t>(fall) +
                                     (fall > 0 ? timing_.chain_landing_frames : 0);
        if (steps_before < kMaxChainSteps) events.chain_step_frames[steps_before] = frames;
        events.chain_frames += frames;
        step_frame += frames;
    }
    events.chain = calculator.into_result();
    player.score += events.chain.score + events.all_clear_bonus;
    events.all_clear = player.field.is_all_clear();
    if (events.all_clear) player.all_clear = true;
    events.ojama_produced = produced;

    player.ojama_in_flight = produced;
    player.phase = TurnPhase::Commit;
    player.event_frame = frame_ + events.placement_frames + events.chain_frames;
}

void Match::commit(unsigned p, PlayerEvents& events) {
    MatchPlayer& player = players_[p];
    const std::uint32_t produced = player.ojama_in_flight;
    player.ojama_in_flight = 0;
    const std::uint32_t offset = rules_.offsetting ? std::min(produced, player.pending_ojama) : 0;
    player.pending_ojama -= offset;
    players_[1 - p].pending_ojama += produced - offset;
    events.offset += offset;
    events.ojama_sent += produced - offset;
    player.phase = TurnPhase::Fall;
}

// Whole rows of six first, then the remainder into distinct columns drawn by a partial
// Fisher-Yates shuffle of the six columns (left to right before shuffling), each draw
// `below(6 - i)`; nothing is drawn when the count is a multiple of six. Each column takes ojama
// up to the 13th row; the rest of its share is discarded.
void Match::fall(unsigned p, PlayerEvents& events) {
    MatchPlayer& player = players_[p];
    const std::uint32_t count = std::min(player.pending_ojama, rules_.max_ojama_per_fall);
    player.pending_ojama -= count;
    player.phase = TurnPhase::Settle;
    if (count == 0) return;

    OjamaShares share{};
    share.fill(count / kPlayableColumns);
    const auto remainder = static_cast<unsigned>(count % kPlayableColumns);
    if (remainder != 0) {
        std::array<unsigned, kPlayableColumns> columns = {0, 1, 2, 3, 4, 5};
        for (unsigned i = 0; i < remainder; ++i) {
            const auto j = i + static_cast<unsigned>(ojama_random_.below(kPlayableColumns - i));
            std::swap(columns[i], columns[j]);
            ++share[columns[i]];
        }
    }

    const OjamaFall result = place_ojama(player.field, share);

    std::uint32_t frames = 0;
    if (result.placed > 0) {
        const std::size_t size = result.placed <= timing_.ojama_landing_thresholds[0]   ? 0
                                 : result.placed <= timing_.ojama_landing_thresholds[1] ? 1
                                                                                         : 2;
        frames = slow_fall(timing_, result.rows) + timing_.ojama_landing_frames[size];
    }
    events.ojama_received += result.placed;
    events.ojama_discarded += result.discarded;
    events.ojama_fall_frames += frames;
    player.event_frame += frames;
}

void Match::settle(unsigned p, PlayerEvents& events) {
    MatchPlayer& player = players_[p];
    if (is_death_cell_occupied(player.field)) {
        player.lost = true;
        events.lost = true;
    }
    player.phase = TurnPhase::Decide;
    player.event_frame += timing_.spawn_delay;
}

void Match::finish() {
    over_ = true;
    const bool lost0 = players_[0].lost;
    const bool lost1 = players_[1].lost;
    winner_ = lost0 == lost1 ? kNoWinner : (lost0 ? 1 : 0);
}

void Match::advance(StepOutcome& outcome) {
    for (;;) {
        const unsigned p = earliest_player();
        MatchPlayer& player = players_[p];
        if (player.event_frame >= rules_.frame_limit) {
            frame_ = rules_.frame_limit;
            finish();
            return;
        }
        frame_ = player.event_frame;
        if (player.phase == TurnPhase::Decide) return;
        PlayerEvents& events = outcome.players[p];
        switch (player.phase) {
            case TurnPhase::Commit: commit(p, events); break;
            case TurnPhase::Fall: fall(p, events); break;
            case TurnPhase::Settle: settle(p, events); break;
            case TurnPhase::Decide: break;
        }
        if (players_[0].lost || players_[1].lost) {
            // A loss ends the match once every settling of the same frame has been seen: both
            // topping out at one frame is a draw.
            const unsigned other = 1 - p;
            const bool other_settles_now = players_[other].phase == TurnPhase::Settle &&
                                           players_[other].event_frame == frame_ && !players_[other].lost;
            if (!other_settles_now) {
                finish();
                return;
            }
        }
    }
}

StepOutcome Match::step_legal(const std::array<std::optional<unsigned>, kNumPlayers>& moves) {
    StepOutcome outcome;
    outcome.frame_before = frame_;
    for (unsigned p = 0; p < kNumPlayers; ++p) {
        if (moves[p].has_value()) resolve_move(p, *moves[p], outcome.players[p]);
    }
    advance(outcome);
    outcome.frame = frame_;
    outcome.over = over_;
    return outcome;
}

Result<StepOutcome, StepError> Match::step(const std::array<std::optional<unsigned>, kNumPlayers>& moves) {
    if (over_) return Err{StepError{StepErrorKind::MatchOver, 0}};
    const unsigned due = due_players();
    for (unsigned p = 0; p < kNumPlayers; ++p) {
        const bool is_due = ((due >> p) & 1U) != 0;
        if (!moves[p].has_value()) {
            if (is_due) return Err{StepError{StepErrorKind::MissingMove, p}};
            continue;
        }
        if (!is_due) return Err{StepError{StepErrorKind::NotDue, p}};
        if (*moves[p] >= kNumMoves) return Err{StepError{StepErrorKind::OutOfRange, p}};
        if (((legal_move_mask(players_[p].field) >> *moves[p]) & 1U) == 0) return Err{StepError{StepErrorKind::Illegal, p}};
    }
    return step_legal(moves);
}

bool operator==(const MatchPlayer& a, const MatchPlayer& b) {
    return a.field == b.field && a.sequence == b.sequence && a.turn == b.turn && a.score == b.score &&
           a.leftover == b.leftover && a.pending_ojama == b.pending_ojama && a.ojama_in_flight == b.ojama_in_flight &&
           a.all_clear == b.all_clear && a.lost == b.lost && a.phase == b.phase && a.event_frame == b.event_frame;
}

bool operator==(const Match& a, const Match& b) {
    return a.players_ == b.players_ && a.ojama_random_.state() == b.ojama_random_.state() && a.rules_ == b.rules_ &&
           a.timing_ == b.timing_ && a.frame_ == b.frame_ && a.over_ == b.over_ && a.winner_ == b.winner_;
}

}  // namespace velmo

#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <array>
#include <limits>
#include <string>

#include "bindings.hpp"
#include "field/field_state.hpp"
#include "interop.hpp"
#include "match_object.hpp"
#include "match_observation.hpp"
#include "observation.hpp"

namespace velmo_game {
namespace {

using velmo::kNumPlayers;
using velmo::Match;
using velmo::Rules;
using velmo::Timing;
using namespace nb::literals;

// Version 2: rules with margin time and the all-clear bonus in points. A version 1 state is
// refused: its bonus was counted in ojama and its matches ran without margin time.
constexpr int kMatchStateVersion = 2;
// Frame counts and ojama counts a user can set: generous, yet far from any overflow of the
// 32-bit sums the core keeps per turn.
constexpr std::int64_t kMaxCount = 1'000'000;
constexpr std::int64_t kMaxFrameLimit = std::numeric_limits<std::int64_t>::max();

// One player of a live match (keeps the match alive).
struct PlayerView {
    nb::object owner;
    unsigned index = 0;
    [[nodiscard]] const PyMatch& py() const { return nb::cast<const PyMatch&>(owner); }
    [[nodiscard]] const velmo::MatchPlayer& player() const { return py().match.player(index); }
};

struct PlayerEventsView {
    velmo::PlayerEvents events;
    unsigned player = 0;
};

struct StepResult {
    velmo::StepOutcome outcome;
    int winner = velmo::kNoWinner;
};

// --- records ----------------------------------------------------------------------------------

std::uint32_t count_from_python(nb::handle value, const char* argument, std::int64_t lo) {
    return static_cast<std::uint32_t>(int_in_range(value, argument, lo, kMaxCount));
}

template <std::size_t N>
std::array<std::uint32_t, N> counts_from_python(nb::handle values, const char* argument) {
    if (nb::isinstance<nb::str>(values) || !PySequence_Check(values.ptr()) || nb::len(values) != N) {
        raise_type_error(std::string(argument) + " must be a sequence of " + std::to_string(N) + " ints, not " +
                         python_type_name(values));
    }
    std::array<std::uint32_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = count_from_python(values[i], argument, 0);
    return out;
}

template <std::size_t N>
nb::tuple counts_tuple(const std::array<std::uint32_t, N>& values) {
    nb::list out;
    for (const std::uint32_t v : values) out.append(v);
    return nb::tuple(out);
}

Rules make_rules(nb::handle target_points, nb::handle all_clear_bonus, nb::handle max_ojama_per_fall, nb::handle offsetting,
                 nb::handle frame_limit, nb::handle margin_time, nb::handle margin_interval) {
    Rules rules;
    rules.target_points = count_from_python(target_points, "target_points", 1);
    rules.all_clear_bonus = count_from_python(all_clear_bonus, "all_clear_bonus", 0);
    rules.max_ojama_per_fall = count_from_python(max_ojama_per_fall, "max_ojama_per_fall", 1);
    if (!nb::isinstance<nb::bool_>(offsetting)) raise_type_error("offsetting must be a bool, not " + python_type_name(offsetting));
    rules.offsetting = nb::cast<bool>(offsetting);
    rules.frame_limit = frame_limit.is_none() ? velmo::kNoFrameLimit
                                              : static_cast<std::uint64_t>(int_in_range(frame_limit, "frame_limit", 0, kMaxFrameLimit));
    rules.margin_time = margin_time.is_none() ? velmo::kNoMarginTime
                                              : static_cast<std::uint64_t>(int_in_range(margin_time, "margin_time", 0, kMaxFrameLimit));
    rules.margin_interval = count_from_python(margin_interval, "margin_interval", 1);
    return rules;
}

// A frame count that may be off (None in Python).
nb::object optional_frames(std::uint64_t frames, std::uint64_t off) { return frames == off ? nb::object(nb::none()) : nb::object(nb::int_(frames)); }
std::string optional_frames_text(std::uint64_t frames, std::uint64_t off) { return frames == off ? "None" : std::to_string(frames); }

nb::object frame_limit_to_python(const Rules& rules) { return optional_frames(rules.frame_limit, velmo::kNoFrameLimit); }
nb::object margin_time_to_python(const Rules& rules) { return optional_frames(rules.margin_time, velmo::kNoMarginTime); }

std::string bool_text(bool b) { return b ? "True" : "False"; }

// "target_points=70, ..., margin_interval=960": the values in constructor order, as the repr and
// the constructor's signature write them (the signature's defaults are the core's Rules{}).
std::string rules_arguments(const Rules& r) {
    return "target_points=" + std::to_string(r.target_points) + ", all_clear_bonus=" + std::to_string(r.all_clear_bonus) +
           ", max_ojama_per_fall=" + std::to_string(r.max_ojama_per_fall) + ", offsetting=" + bool_text(r.offsetting) +
           ", frame_limit=" + optional_frames_text(r.frame_limit, velmo::kNoFrameLimit) +
           ", margin_time=" + optional_frames_text(r.margin_time, velmo::kNoMarginTime) +
           ", margin_interval=" + std::to_string(r.margin_interval);
}

std::string rules_repr(const Rules& r) { return "Rules(" + rules_arguments(r) + ")"; }

const char* rules_signature() {
    static const std::string text = [] {
        const Rules d;
        return "def __init__(self, *, target_points: int = " + std::to_string(d.target_points) +
               ", all_clear_bonus: int = " + std::to_string(d.all_clear_bonus) +
               ", max_ojama_per_fall: int = " + std::to_string(d.max_ojama_per_fall) + ", offsetting: bool = " + bool_text(d.offsetting) +
               ", frame_limit: int | None = " + optional_frames_text(d.frame_limit, velmo::kNoFrameLimit) +
               ", margin_time: int | None = " + optional_frames_text(d.margin_time, velmo::kNoMarginTime) +
               ", margin_interval: int = " + std::to_string(d.margin_interval) + ") -> None";
    }();
    return text.c_str();
}

constexpr std::size_t kRulesStateLength = 7;

nb::tuple rules_state(const Rules& r) {
    return nb::make_tuple(r.target_points, r.all_clear_bonus, r.max_ojama_per_fall, r.offsetting, frame_limit_to_python(r),
                          margin_time_to_python(r), r.margin_interval);
}

Rules rules_from_state(nb::handle state) {
    if (!nb::isinstance<nb::tuple>(state) || nb::len(state) != kRulesStateLength) {
        raise_value_error("invalid Rules state: expected a tuple of 7 values (rules pickled before margin time, with the "
                          "all-clear bonus in ojama, cannot be restored)");
    }
    return make_rules(state[0], state[1], state[2], state[3], state[4], state[5], state[6]);
}

Timing make_timing(nb::handle spawn_delay, nb::handle move_frames, nb::handle drop_frames_per_row, nb::handle landing_frames,
                   nb::handle slow_fall_frames, nb::handle vanish_frames, nb::handle chain_fall_frames_per_row,
                   nb::handle chain_landing_frames, nb::handle ojama_landing_thresholds, nb::handle ojama_landing_frames) {
    Timing t;
    t.spawn_delay = count_from_python(spawn_delay, "spawn_delay", 0);
    t.move_frames = counts_from_python<velmo::kMoveFrameEntries>(move_frames, "move_frames");
    t.drop_frames_per_row = count_from_python(drop_frames_per_row, "drop_frames_per_row", 0);
    t.landing_frames = count_from_python(landing_frames, "landing_frames", 0);
    t.slow_fall_frames = counts_from_python<velmo::kSlowFallEntries>(slow_fall_frames, "slow_fall_frames");
    t.vanish_frames = count_from_python(vanish_frames, "vanish_frames", 0);
    t.chain_fall_frames_per_row = count_from_python(chain_fall_frames_per_row, "chain_fall_frames_per_row", 0);
    t.chain_landing_frames = count_from_python(chain_landing_frames, "chain_landing_frames", 0);
    t.ojama_landing_thresholds = counts_from_python<2>(ojama_landing_thresholds, "ojama_landing_thresholds");
    if (t.ojama_landing_thresholds[0] > t.ojama_landing_thresholds[1]) {
        raise_value_error("ojama_landing_thresholds must be in ascending order");
    }
    t.ojama_landing_frames = counts_from_python<3>(ojama_landing_frames, "ojama_landing_frames");
    return t;
}

nb::tuple timing_state(const Timing& t) {
    return nb::make_tuple(t.spawn_delay, counts_tuple(t.move_frames), t.drop_frames_per_row, t.landing_frames,
                          counts_tuple(t.slow_fall_frames), t.vanish_frames, t.chain_fall_frames_per_row, t.chain_landing_frames,
                          counts_tuple(t.ojama_landing_thresholds), counts_tuple(t.ojama_landing_frames));
}

Timing timing_from_state(nb::handle state) {
    if (!nb::isinstance<nb::tuple>(state) || nb::len(state) != 10) raise_value_error("invalid Timing state: expected a tuple of 10 values");
    return make_timing(state[0], state[1], state[2], state[3], state[4], state[5], state[6], state[7], state[8], state[9]);
}

template <std::size_t N>
std::string counts_text(const std::array<std::uint32_t, N>& values) {
    std::string out = "(";
    for (std::size_t i = 0; i < N; ++i) out += (i == 0 ? "" : ", ") + std::to_string(values[i]);
    return out + ")";
}

std::string timing_repr(const Timing& t) {
    return "Timing(spawn_delay=" + std::to_string(t.spawn_delay) + ", move_frames=" + counts_text(t.move_frames) +
           ", drop_frames_per_row=" + std::to_string(t.drop_frames_per_row) + ", landing_frames=" + std::to_string(t.landing_frames) +
           ", slow_fall_frames=" + counts_text(t.slow_fall_frames) + ", vanish_frames=" + std::to_string(t.vanish_frames) +
           ", chain_fall_frames_per_row=" + std::to_string(t.chain_fall_frames_per_row) +
           ", chain_landing_frames=" + std::to_string(t.chain_landing_frames) +
           ", ojama_landing_thresholds=" + counts_text(t.ojama_landing_thresholds) +
           ", ojama_landing_frames=" + counts_text(t.ojama_landing_frames) + ")";
}

template <class T>
nb::object value_eq(const T& a, nb::handle b) {
    if (!nb::isinstance<T>(b)) return nb::borrow(Py_NotImplemented);
    return nb::bool_(a == nb::cast<const T&>(b));
}

template <class T>
Py_hash_t state_hash(const T& value, nb::tuple (*state)(const T&)) {
    return PyObject_Hash(state(value).ptr());
}

void bind_rules(nb::module_& m) {
    const Rules defaults;
    nb::class_<Rules>(m, "Rules",
        "The rules of a match; the defaults are the arcade's versus rule.\n\n"
        "A frozen value: compare with ``==``, hash, copy and pickle it.")
        .def("__init__",
             [](Unmade<Rules> self, nb::handle target_points, nb::handle all_clear_bonus, nb::handle max_ojama_per_fall,
                nb::handle offsetting, nb::handle frame_limit, nb::handle margin_time, nb::handle margin_interval) {
                 new (self.place()) Rules(make_rules(target_points, all_clear_bonus, max_ojama_per_fall, offsetting, frame_limit, margin_time,
                                             margin_interval));
             },
             nb::kw_only(), "target_points"_a = defaults.target_points, "all_clear_bonus"_a = defaults.all_clear_bonus,
             "max_ojama_per_fall"_a = defaults.max_ojama_per_fall, "offsetting"_a = defaults.offsetting,
             "frame_limit"_a.none() = frame_limit_to_python(defaults), "margin_time"_a.none() = margin_time_to_python(defaults),
             "margin_interval"_a = defaults.margin_interval, nb::sig(rules_signature()),
             "Rules with the given values (every count at most 1,000,000).\n\n"
             "Args:\n"
             "    target_points: points per ojama: a chain step's score plus the leftover, divided\n"
             "        by the target points in force, is the ojama it produces; the remainder is the\n"
             "        new leftover (>= 1).\n"
             "    all_clear_bonus: points added to the first chain step fired after an all clear,\n"
             "        converted to ojama with it.\n"
             "    max_ojama_per_fall: at most this many pending ojama fall at once (>= 1).\n"
             "    offsetting: whether produced ojama first cancels the producer's own pending ojama.\n"
             "    frame_limit: the match is a draw when no one has lost before this frame (None: no\n"
             "        limit; the default is ten minutes at 60 frames per second).\n"
             "    margin_time: from this frame on, the target points fall every ``margin_interval``\n"
             "        frames through ``MARGIN_TARGET_POINTS`` (None: never).\n"
             "    margin_interval: frames between two falls of the target points (>= 1).\n\n"
             "Raises:\n"
             "    ValueError: a count out of range.\n"
             "    TypeError: a value of the wrong type.")
        .def_prop_ro("target_points", [](const Rules& r) { return r.target_points; }, "Points per ojama before margin time.")
        .def_prop_ro("all_clear_bonus", [](const Rules& r) { return r.all_clear_bonus; },
                     "Points added to the first chain step after an all clear.")
        .def_prop_ro("max_ojama_per_fall", [](const Rules& r) { return r.max_ojama_per_fall; }, "At most this many ojama fall at once.")
        .def_prop_ro("offsetting", [](const Rules& r) { return r.offsetting; }, "Whether produced ojama cancels pending ojama first.")
        .def_prop_ro("frame_limit", &frame_limit_to_python, nb::sig("def frame_limit(self) -> int | None"),
                     "The frame at which an undecided match is a draw (None: no limit).")
        .def_prop_ro("margin_time", &margin_time_to_python, nb::sig("def margin_time(self) -> int | None"),
                     "The frame from which the target points fall (None: margin time is off).")
        .def_prop_ro("margin_interval", [](const Rules& r) { return r.margin_interval; },
                     "Frames between two falls of the target points.")
        .def("target_points_at",
             [](const Rules& r, nb::handle frame) {
                 return r.target_points_at(static_cast<std::uint64_t>(int_in_range(frame, "frame", 0, kMaxFrameLimit)));
             },
             "frame"_a, nb::sig("def target_points_at(self, frame: int) -> int"),
             "The target points in force at ``frame``: ``target_points`` before margin time, then\n"
             "the smaller of it and the entry of ``MARGIN_TARGET_POINTS`` for the intervals begun.")
        .def("__eq__", &value_eq<Rules>, nb::sig("def __eq__(self, other: object, /) -> bool"), "Whether both rules are alike.")
        .def("__hash__", [](const Rules& r) { return state_hash<Rules>(r, &rules_state); }, "A hash of the values.")
        .def("__repr__", &rules_repr)
        .def("__copy__", [](const Rules& r) { return r; }, "A copy.")
        .def("__deepcopy__", [](const Rules& r, nb::handle) { return r; }, "memo"_a,
             nb::sig("def __deepcopy__(self, memo: dict[int, object], /) -> Rules"), "A copy.")
        .def("__getstate__", &rules_state, nb::sig("def __getstate__(self) -> tuple[int, int, int, bool, int | None, int | None, int]"),
             "The pickle state: the values in constructor order.")
        .def("__setstate__", [](Unmade<Rules> self, nb::handle state) { new (self.place()) Rules(parse_state("Rules", [&] { return rules_from_state(state); })); }, "state"_a,
             nb::sig("def __setstate__(self, state: tuple[int, int, int, bool, int | None, int | None, int], /) -> None"),
             "Restore pickled rules (ValueError for a state that is not one).");
    nb::list table;
    for (const std::uint32_t entry : velmo::kMarginTargetPoints) table.append(entry);
    m.attr("MARGIN_TARGET_POINTS") = nb::tuple(table);
    m.attr("ALL_CLEAR_BONUS") = velmo::kAllClearBonus;
}

const char* timing_signature() {
    static const std::string text = [] {
        const Timing d;
        const std::string sequence = ": collections.abc.Sequence[int] = ";
        return "def __init__(self, *, spawn_delay: int = " + std::to_string(d.spawn_delay) + ", move_frames" + sequence +
               counts_text(d.move_frames) + ", drop_frames_per_row: int = " + std::to_string(d.drop_frames_per_row) +
               ", landing_frames: int = " + std::to_string(d.landing_frames) + ", slow_fall_frames" + sequence +
               counts_text(d.slow_fall_frames) + ", vanish_frames: int = " + std::to_string(d.vanish_frames) +
               ", chain_fall_frames_per_row: int = " + std::to_string(d.chain_fall_frames_per_row) +
               ", chain_landing_frames: int = " + std::to_string(d.chain_landing_frames) + ", ojama_landing_thresholds" + sequence +
               counts_text(d.ojama_landing_thresholds) + ", ojama_landing_frames" + sequence + counts_text(d.ojama_landing_frames) +
               ") -> None";
    }();
    return text.c_str();
}

void bind_timing(nb::module_& m) {
    const Timing defaults;
    nb::class_<Timing>(m, "Timing",
        "The frame counts of a match (60 frames per second). The defaults are the commonly used\n"
        "measurements of the arcade's timing: approximate, and meant to be replaced at will.\n\n"
        "A frozen value: compare with ``==``, hash, copy and pickle it.")
        .def("__init__",
             [](Unmade<Timing> self, nb::handle spawn_delay, nb::handle move_frames, nb::handle drop_frames_per_row, nb::handle landing_frames,
                nb::handle slow_fall_frames, nb::handle vanish_frames, nb::handle chain_fall_frames_per_row,
                nb::handle chain_landing_frames, nb::handle ojama_landing_thresholds, nb::handle ojama_landing_frames) {
                 new (self.place()) Timing(make_timing(spawn_delay, move_frames, drop_frames_per_row, landing_frames, slow_fall_frames,
                                               vanish_frames, chain_fall_frames_per_row, chain_landing_frames,
                                               ojama_landing_thresholds, ojama_landing_frames));
             },
             nb::kw_only(), "spawn_delay"_a = defaults.spawn_delay, "move_frames"_a = counts_tuple(defaults.move_frames),
             "drop_frames_per_row"_a = defaults.drop_frames_per_row, "landing_frames"_a = defaults.landing_frames,
             "slow_fall_frames"_a = counts_tuple(defaults.slow_fall_frames), "vanish_frames"_a = defaults.vanish_frames,
             "chain_fall_frames_per_row"_a = defaults.chain_fall_frames_per_row, "chain_landing_frames"_a = defaults.chain_landing_frames,
             "ojama_landing_thresholds"_a = counts_tuple(defaults.ojama_landing_thresholds),
             "ojama_landing_frames"_a = counts_tuple(defaults.ojama_landing_frames), nb::sig(timing_signature()),
             "Frame counts with the given values (each 0..1,000,000).\n\n"
             "Args:\n"
             "    spawn_delay: frames from a turn's settling to the next pair's appearance.\n"
             "    move_frames: 6 counts: moving the pair 0..5 columns sideways.\n"
             "    drop_frames_per_row: per row of the pair's fall with the drop button held.\n"
             "    landing_frames: a landing (grounding): the pair's, and a split pair's second puyo's.\n"
             "    slow_fall_frames: 16 counts: a lone puyo's fall of 0..15 rows (the second puyo of\n"
             "        a split pair, falling ojama).\n"
             "    vanish_frames: the vanishing of a chain step.\n"
             "    chain_fall_frames_per_row: per row of the longest fall after a vanishing.\n"
             "    chain_landing_frames: the landing after that fall, if anything fell.\n"
             "    ojama_landing_thresholds: 2 ascending counts splitting the ojama landings.\n"
             "    ojama_landing_frames: 3 counts: landing of up to the first threshold of ojama, up\n"
             "        to the second, more.\n\n"
             "Raises:\n"
             "    ValueError: a count out of range, thresholds out of order.\n"
             "    TypeError: a value of the wrong type or a sequence of the wrong length.")
        .def_prop_ro("spawn_delay", [](const Timing& t) { return t.spawn_delay; }, "Frames from settling to the next pair.")
        .def_prop_ro("move_frames", [](const Timing& t) { return counts_tuple(t.move_frames); },
                     nb::sig("def move_frames(self) -> tuple[int, ...]"), "Frames of 0..5 columns of sideways travel.")
        .def_prop_ro("drop_frames_per_row", [](const Timing& t) { return t.drop_frames_per_row; }, "Frames per row of a pair's drop.")
        .def_prop_ro("landing_frames", [](const Timing& t) { return t.landing_frames; }, "Frames of a pair's landing.")
        .def_prop_ro("slow_fall_frames", [](const Timing& t) { return counts_tuple(t.slow_fall_frames); },
                     nb::sig("def slow_fall_frames(self) -> tuple[int, ...]"), "Frames of a lone puyo's fall of 0..15 rows.")
        .def_prop_ro("vanish_frames", [](const Timing& t) { return t.vanish_frames; }, "Frames of a chain step's vanishing.")
        .def_prop_ro("chain_fall_frames_per_row", [](const Timing& t) { return t.chain_fall_frames_per_row; },
                     "Frames per row of the longest fall in a chain step.")
        .def_prop_ro("chain_landing_frames", [](const Timing& t) { return t.chain_landing_frames; },
                     "Frames of a chain step's landing, if anything fell.")
        .def_prop_ro("ojama_landing_thresholds", [](const Timing& t) { return counts_tuple(t.ojama_landing_thresholds); },
                     nb::sig("def ojama_landing_thresholds(self) -> tuple[int, ...]"), "The ojama counts splitting the landings.")
        .def_prop_ro("ojama_landing_frames", [](const Timing& t) { return counts_tuple(t.ojama_landing_frames); },
                     nb::sig("def ojama_landing_frames(self) -> tuple[int, ...]"), "Frames of the three ojama landings.")
        .def("placement_frames",
             [](const Timing& t, nb::handle field, nb::handle move) {
                 const velmo::BitField f = field_from_python(field, "field");
                 const auto m = static_cast<unsigned>(int_in_range(move, "move", 0, velmo::kNumMoves - 1));
                 if (((velmo::legal_move_mask(f) >> m) & 1U) == 0) {
                     raise_value_error("move " + std::to_string(m) + " (" + hand_text(m) + ") is not legal on this field");
                 }
                 return Match::placement_frames(f, m, t);
             },
             "field"_a, "move"_a, nb::sig("def placement_frames(self, field: velmo.Field, move: int) -> int"),
             "The frames a placement of ``move`` takes on ``field``: sideways travel, the drop,\n"
             "the landing, and on a split the second puyo's fall and landing (ValueError for an\n"
             "illegal move).")
        .def("__eq__", &value_eq<Timing>, nb::sig("def __eq__(self, other: object, /) -> bool"), "Whether both timings are alike.")
        .def("__hash__", [](const Timing& t) { return state_hash<Timing>(t, &timing_state); }, "A hash of the values.")
        .def("__repr__", &timing_repr)
        .def("__copy__", [](const Timing& t) { return t; }, "A copy.")
        .def("__deepcopy__", [](const Timing& t, nb::handle) { return t; }, "memo"_a,
             nb::sig("def __deepcopy__(self, memo: dict[int, object], /) -> Timing"), "A copy.")
        .def("__getstate__", &timing_state,
             nb::sig("def __getstate__(self) -> tuple[int, tuple[int, ...], int, int, tuple[int, ...], int, int, int, "
                     "tuple[int, ...], tuple[int, ...]]"),
             "The pickle state: the values in constructor order.")
        .def("__setstate__", [](Unmade<Timing> self, nb::handle state) { new (self.place()) Timing(parse_state("Timing", [&] { return timing_from_state(state); })); }, "state"_a,
             nb::sig("def __setstate__(self, state: tuple[int, tuple[int, ...], int, int, tuple[int, ...], int, int, int, "
                     "tuple[int, ...], tuple[int, ...]], /) -> None"),
             "Restore a pickled timing (ValueError for a state that is not one).");
}

// --- the match ----------------------------------------------------------------------------------

template <class T>
std::array<T, kNumPlayers> per_player(nb::handle values, const char* argument, T (*convert)(nb::handle, const char*)) {
    if (nb::isinstance<nb::str>(values) || !PySequence_Check(values.ptr()) || nb::len(values) != kNumPlayers) {
        raise_type_error(std::string(argument) + " must be a sequence of one value per player (2), not " + python_type_name(values));
    }
    return {convert(values[0], argument), convert(values[1], argument)};
}

PyMatch make_match(nb::handle seed, nb::handle rules, nb::handle timing, nb::handle fields, nb::handle sequences, nb::handle colors,
                   nb::handle visible) {
    const std::uint64_t seed_value = seed_from_python(seed, "seed");
    const auto shown = static_cast<unsigned>(int_in_range(visible, "visible", 0, velmo::kMaxVisiblePairs));
    if (!rules.is_none() && !nb::isinstance<Rules>(rules)) raise_type_error("rules must be a Rules, not " + python_type_name(rules));
    if (!timing.is_none() && !nb::isinstance<Timing>(timing)) raise_type_error("timing must be a Timing, not " + python_type_name(timing));
    const Rules match_rules = rules.is_none() ? Rules{} : nb::cast<const Rules&>(rules);
    const Timing match_timing = timing.is_none() ? Timing{} : nb::cast<const Timing&>(timing);

    std::array<velmo::BitField, kNumPlayers> starts{};
    if (!fields.is_none()) starts = per_player<velmo::BitField>(fields, "fields", &field_from_python);
    std::array<velmo::PairSequence, kNumPlayers> pairs;
    if (sequences.is_none()) {
        pairs.fill(make_seeded(seed, colors, "balanced"));
    } else {
        pairs = per_player<velmo::PairSequence>(sequences, "sequences", &sequence_from_python);
    }
    return PyMatch{Match(starts, pairs, velmo::derive_seed(seed_value, 1), match_rules, match_timing), shown};
}

nb::list players_list(unsigned mask) {
    nb::list out;
    for (unsigned p = 0; p < kNumPlayers; ++p) {
        if (((mask >> p) & 1U) != 0) out.append(p);
    }
    return out;
}

nb::list move_list(velmo::MoveMask mask) {
    nb::list out;
    for (std::size_t move = 0; move < velmo::kNumMoves; ++move) {
        if (((mask >> move) & 1U) != 0) out.append(move);
    }
    return out;
}

std::string due_text(const Match& match) {
    std::string out = "[";
    for (unsigned p = 0; p < kNumPlayers; ++p) {
        if (match.is_due(p)) out += (out.size() > 1 ? ", " : "") + std::to_string(p);
    }
    return out + "]";
}

std::array<std::optional<unsigned>, kNumPlayers> moves_from_python(const Match& match, nb::handle moves) {
    if (!PyMapping_Check(moves.ptr()) || nb::isinstance<nb::str>(moves) || PySequence_Check(moves.ptr())) {
        raise_type_error("moves must be a mapping {player: move}, not " + python_type_name(moves));
    }
    std::array<std::optional<unsigned>, kNumPlayers> out;
    for (nb::handle item : nb::iter(moves.attr("items")())) {
        const nb::tuple pair = nb::borrow<nb::tuple>(item);
        const auto p = static_cast<unsigned>(int_in_range(pair[0], "player", 0, kNumPlayers - 1));
        const std::string name = "player " + std::to_string(p) + "'s move";
        out[p] = static_cast<unsigned>(int_in_range(pair[1], name.c_str(), 0, velmo::kNumMoves - 1));
    }
    (void)match;
    return out;
}

StepResult step(PyMatch& self, nb::handle moves_argument) {
    Match& match = self.match;
    if (match.is_over()) raise_value_error("the match is over: no move can be played");
    const auto moves = moves_from_python(match, moves_argument);
    auto outcome = match.step(moves);
    if (!outcome) {
        const velmo::StepError error = outcome.error();
        const std::string player = "player " + std::to_string(error.player);
        const std::string frame = std::to_string(match.frame());
        switch (error.kind) {
            case velmo::StepErrorKind::NotDue:
                raise_value_error(player + " is not due to move at frame " + frame + " (match.to_move() is " + due_text(match) + ")");
            case velmo::StepErrorKind::MissingMove:
                raise_value_error(player + " must move at frame " + frame + ": give a move for every player in match.to_move() (" +
                                  due_text(match) + ")");
            case velmo::StepErrorKind::Illegal: {
                const unsigned move = *moves[error.player];
                raise_value_error(player + "'s move " + std::to_string(move) + " (" + hand_text(move) + ") is not legal here; match.players[" +
                                  std::to_string(error.player) + "].legal_moves() lists the legal ones");
            }
            case velmo::StepErrorKind::OutOfRange:
            case velmo::StepErrorKind::MatchOver: break;
        }
        raise_value_error("the move is not valid here");
    }
    return StepResult{outcome.value(), match.winner()};
}

nb::object winner_to_python(int winner) { return winner == velmo::kNoWinner ? nb::object(nb::none()) : nb::object(nb::int_(winner)); }

using FieldArray = nb::ndarray<nb::numpy, std::uint8_t, nb::shape<14, 6>>;
using PairsArray = nb::ndarray<nb::numpy, std::uint8_t, nb::shape<-1, 2>>;
using CountsArray = nb::ndarray<nb::numpy, std::uint32_t, nb::shape<2>>;

template <class Array, class T, std::size_t N>
Array owned_array(const std::array<std::size_t, N>& shape, std::size_t size, auto&& fill) {
    auto* data = new T[size > 0 ? size : 1]{};
    nb::capsule owner(data, [](void* p) noexcept { delete[] static_cast<T*>(p); });
    fill(data);
    return Array(data, N, shape.data(), owner);
}

nb::dict observation(const PyMatch& self, nb::handle player_argument) {
    const auto p = static_cast<unsigned>(int_in_range(player_argument, "player", 0, kNumPlayers - 1));
    const Match& match = self.match;
    const unsigned q = 1 - p;
    const std::size_t rows = 1 + self.visible;
    const auto field_of = [&](unsigned who) {
        return owned_array<FieldArray, std::uint8_t, 2>({14, 6}, kFieldCells,
                                                        [&](std::uint8_t* data) { write_field_cells(match.player(who).field, data); });
    };
    const auto pairs_of = [&](unsigned who) {
        return owned_array<PairsArray, std::uint8_t, 2>({rows, 2}, 2 * rows,
                                                        [&](std::uint8_t* data) { write_match_pairs(match, who, self.visible, data); });
    };
    nb::dict out;
    out["field"] = field_of(p);
    out["pairs"] = pairs_of(p);
    out["opponent_field"] = field_of(q);
    out["opponent_pairs"] = pairs_of(q);
    out["pending_ojama"] = owned_array<CountsArray, std::uint32_t, 1>({2}, 2, [&](std::uint32_t* data) {
        data[0] = match.player(p).pending_ojama;
        data[1] = match.player(q).pending_ojama;
    });
    return out;
}

// --- pickling ------------------------------------------------------------------------------------

nb::tuple player_state(const velmo::MatchPlayer& pl) {
    const auto field = velmo::encode_state(pl.field);
    return nb::make_tuple(nb::bytes(field.bytes().data(), field.bytes().size()), sequence_state(pl.sequence), pl.turn, pl.score,
                          pl.leftover, pl.pending_ojama, pl.ojama_in_flight, pl.all_clear, pl.lost, static_cast<int>(pl.phase),
                          pl.event_frame);
}

velmo::MatchPlayer player_from_state(nb::handle state, std::uint64_t frame) {
    if (!nb::isinstance<nb::tuple>(state) || nb::len(state) != 11 || !nb::isinstance<nb::bytes>(state[0]) ||
        !nb::isinstance<nb::bool_>(state[7]) || !nb::isinstance<nb::bool_>(state[8])) {
        raise_value_error("invalid Match state: a player's state is not the tuple Match.__getstate__ writes");
    }
    const auto field_bytes = nb::cast<nb::bytes>(state[0]);
    const auto* data = static_cast<const std::uint8_t*>(static_cast<const void*>(field_bytes.c_str()));
    const bool has_plane_length = field_bytes.size() == velmo::kBitFieldStateSize && data[0] == velmo::kBitFieldPlaneBytes &&
                                  std::all_of(data + 1, data + 8, [](std::uint8_t b) { return b == 0; });
    if (!has_plane_length) raise_value_error("invalid Match state: a field is not the 56-byte state of a velmo.Field");
    auto field = velmo::decode_bit_field_state({data, field_bytes.size()});
    if (!field || !velmo::is_playable_field(field.value())) raise_value_error("invalid Match state: not a playable field");
    velmo::MatchPlayer pl;
    pl.field = field.value();
    pl.sequence = sequence_from_state(state[1]);
    pl.turn = seed_from_python(state[2], "turn");
    pl.score = seed_from_python(state[3], "score");
    pl.leftover = static_cast<std::uint32_t>(int_in_range(state[4], "leftover", 0, kMaxCount));
    pl.pending_ojama = static_cast<std::uint32_t>(int_in_range(state[5], "pending_ojama", 0, std::numeric_limits<std::uint32_t>::max()));
    pl.ojama_in_flight = static_cast<std::uint32_t>(int_in_range(state[6], "ojama_in_flight", 0, std::numeric_limits<std::uint32_t>::max()));
    pl.all_clear = nb::cast<bool>(state[7]);
    pl.lost = nb::cast<bool>(state[8]);
    pl.phase = static_cast<velmo::TurnPhase>(int_in_range(state[9], "phase", 0, 3));
    pl.event_frame = static_cast<std::uint64_t>(int_in_range(state[10], "event_frame", 0, kMaxFrameLimit));
    if (pl.event_frame < frame) raise_value_error("invalid Match state: a player's next event lies before the match frame");
    return pl;
}

nb::tuple match_state(const PyMatch& self) {
    const Match& m = self.match;
    return nb::make_tuple(kMatchStateVersion, rules_state(m.rules()), timing_state(m.timing()), self.visible, m.frame(), m.is_over(),
                          winner_to_python(m.winner()), m.ojama_generator_state(),
                          nb::make_tuple(player_state(m.player(0)), player_state(m.player(1))));
}

PyMatch match_from_state(nb::handle state) {
    if (!nb::isinstance<nb::tuple>(state) || nb::len(state) != 9 || !nb::isinstance<nb::int_>(state[0]) ||
        nb::cast<int>(state[0]) != kMatchStateVersion || !nb::isinstance<nb::bool_>(state[5]) || !nb::isinstance<nb::tuple>(state[8]) ||
        nb::len(nb::handle(state[8])) != kNumPlayers) {
        const bool old = nb::isinstance<nb::tuple>(state) && nb::len(state) > 0 && nb::isinstance<nb::int_>(state[0]) &&
                         nb::cast<int>(state[0]) == 1;
        if (old) {
            raise_value_error("invalid Match state: version 1 was written before margin time and the all-clear bonus in "
                              "points, and cannot be restored; expected version 2");
        }
        raise_value_error("invalid Match state: expected the tuple of Match.__getstate__ (version 2)");
    }
    const Rules rules = rules_from_state(state[1]);
    const Timing timing = timing_from_state(state[2]);
    const auto visible = static_cast<unsigned>(int_in_range(state[3], "visible", 0, velmo::kMaxVisiblePairs));
    const auto frame = static_cast<std::uint64_t>(int_in_range(state[4], "frame", 0, kMaxFrameLimit));
    const bool over = nb::cast<bool>(state[5]);
    const int winner = state[6].is_none() ? velmo::kNoWinner : static_cast<int>(int_in_range(state[6], "winner", 0, kNumPlayers - 1));
    const std::uint64_t ojama_state = seed_from_python(state[7], "ojama generator state");
    const nb::handle players = state[8];
    const std::array<velmo::MatchPlayer, kNumPlayers> restored = {player_from_state(players[0], frame),
                                                                   player_from_state(players[1], frame)};
    return PyMatch{Match::restore(restored, ojama_state, rules, timing, frame, over, winner), visible};
}

// The pairs of a match: the seed when both players deal the seed's own sequence.
std::string match_origin(const Match& m) {
    const velmo::PairSequence& first = m.player(0).sequence;
    const velmo::PairSequence& second = m.player(1).sequence;
    if (first == second) return sequence_origin(first);
    return "sequences=(" + sequence_origin(first) + ", " + sequence_origin(second) + ")";
}

std::string match_repr(const PyMatch& self) {
    const Match& m = self.match;
    std::string out = "Match(" + match_origin(m) + ", frame=" + std::to_string(m.frame()) + ", scores=(" +
                      std::to_string(m.player(0).score) + ", " + std::to_string(m.player(1).score) + "), pending_ojama=(" +
                      std::to_string(m.player(0).pending_ojama) + ", " + std::to_string(m.player(1).pending_ojama) + ")";
    if (!m.is_over()) return out + ", to_move=" + due_text(m) + ")";
    return out + ", winner=" + (m.winner() == velmo::kNoWinner ? std::string("None") : std::to_string(m.winner())) + ")";
}

// --- views ---------------------------------------------------------------------------------------

nb::tuple pair_tuple(const velmo::MatchPlayer& pl, unsigned visible) {
    nb::list out;
    for (unsigned k = 1; k <= visible; ++k) out.append(pair_to_python(pl.sequence.at(pl.turn + k)));
    return nb::tuple(out);
}

nb::object optional_frame(std::optional<std::uint64_t> frame) { return frame ? nb::object(nb::int_(*frame)) : nb::none(); }

void bind_player_view(nb::module_& m) {
    nb::class_<PlayerView>(m, "MatchPlayer",
        "One player of a match, read live from it (``match.players[i]``); the match holds the state.")
        .def_prop_ro("index", [](const PlayerView& v) { return v.index; }, "The player's index, 0 or 1.")
        .def_prop_ro("field", [](const PlayerView& v) { return field_to_python(v.player().field); },
                     nb::sig("def field(self) -> velmo.Field"),
                     "A copy of the field as a ``velmo.Field`` (during a chain: the field after the whole chain).")
        .def_prop_ro("current_pair", [](const PlayerView& v) { return pair_to_python(v.player().sequence.at(v.player().turn)); },
                     nb::sig("def current_pair(self) -> velmo.Pair"), "The pair the player places next.")
        .def_prop_ro("next_pairs", [](const PlayerView& v) { return pair_tuple(v.player(), v.py().visible); },
                     nb::sig("def next_pairs(self) -> tuple[velmo.Pair, ...]"), "The visible pairs after the current one, nearest first.")
        .def_prop_ro("sequence", [](const PlayerView& v) { return v.player().sequence; }, "The player's pair sequence (a copy).")
        .def_prop_ro("turn", [](const PlayerView& v) { return v.player().turn; }, "The number of pairs placed.")
        .def_prop_ro("score", [](const PlayerView& v) { return v.player().score; }, "The total score.")
        .def_prop_ro("leftover", [](const PlayerView& v) { return v.player().leftover; },
                     "Score not yet converted to ojama (less than the target points).")
        .def_prop_ro("pending_ojama", [](const PlayerView& v) { return v.player().pending_ojama; },
                     "Ojama committed against this player that has not fallen yet.")
        .def_prop_ro("ojama_in_flight", [](const PlayerView& v) { return v.player().ojama_in_flight; },
                     "Ojama the player's running chain has produced; committed when the chain ends.")
        .def_prop_ro("all_clear", [](const PlayerView& v) { return v.player().all_clear; },
                     "Whether the player holds an all-clear bonus for its next chain.")
        .def_prop_ro("lost", [](const PlayerView& v) { return v.player().lost; }, "Whether the player has topped out.")
        .def_prop_ro("is_due", [](const PlayerView& v) { return v.py().match.is_due(v.index); }, "Whether the player must move now.")
        .def_prop_ro("next_decision_frame", [](const PlayerView& v) { return optional_frame(v.py().match.next_decision_frame(v.index)); },
                     nb::sig("def next_decision_frame(self) -> int | None"),
                     "The frame the player next needs a move (the current frame when due), or None while\n"
                     "its chain or ojama fall is still to come (or once the match is over).")
        .def_prop_ro("chain_end_frame", [](const PlayerView& v) { return optional_frame(v.py().match.chain_end_frame(v.index)); },
                     nb::sig("def chain_end_frame(self) -> int | None"),
                     "The frame the player's running chain ends and its ojama is committed, or None.")
        .def("legal_moves", [](const PlayerView& v) { return move_list(v.py().match.legal_moves(v.index)); },
             nb::sig("def legal_moves(self) -> list[int]"), "The legal moves now, ascending (empty unless the player is due).")
        .def("action_mask", [](const PlayerView& v) {
                 using MaskArray = nb::ndarray<nb::numpy, std::int8_t, nb::shape<22>>;
                 const velmo::MoveMask mask = v.py().match.legal_moves(v.index);
                 return owned_array<MaskArray, std::uint8_t, 1>({velmo::kNumMoves}, velmo::kNumMoves,
                                                                 [&](std::uint8_t* data) { write_action_mask(mask, data); });
             },
             nb::sig("def action_mask(self) -> numpy.typing.NDArray[numpy.int8]"),
             "A ``(22,)`` int8 array: 1 where the move is legal now (all 0 unless due).")
        .def("__repr__", [](const PlayerView& v) {
            const velmo::MatchPlayer& pl = v.player();
            return "MatchPlayer(index=" + std::to_string(v.index) + ", turn=" + std::to_string(pl.turn) + ", score=" +
                   std::to_string(pl.score) + ", pending_ojama=" + std::to_string(pl.pending_ojama) +
                   (pl.lost ? ", lost=True)" : ")");
        });
}

nb::tuple frames_tuple(const PlayerEventsView& v) {
    const velmo::PlayerEvents& e = v.events;
    nb::list out;
    for (std::size_t i = 0; i < e.chain.step_scores.size(); ++i) out.append(e.chain_step_frames[i]);
    return nb::tuple(out);
}

nb::tuple scores_tuple(const PlayerEventsView& v) {
    const velmo::PlayerEvents& e = v.events;
    nb::list out;
    for (const std::uint32_t s : e.chain.step_scores) out.append(s);
    return nb::tuple(out);
}

std::string events_repr(const PlayerEventsView& v) {
    const velmo::PlayerEvents& e = v.events;
    std::string out = "PlayerEvents(player=" + std::to_string(v.player);
    if (e.moved) {
        out += ", move=" + std::to_string(e.move) + ", placement_frames=" + std::to_string(e.placement_frames) +
               ", chain=" + std::to_string(e.chain.chain) + ", score=" + std::to_string(e.chain.score + std::uint64_t{e.all_clear_bonus}) +
               ", chain_frames=" + std::to_string(e.chain_frames) + ", ojama_produced=" + std::to_string(e.ojama_produced);
        if (e.all_clear) out += ", all_clear=True";
        if (e.all_clear_bonus_used) out += ", all_clear_bonus=" + std::to_string(e.all_clear_bonus);
    }
    if (e.offset != 0) out += ", offset=" + std::to_string(e.offset);
    if (e.ojama_sent != 0) out += ", ojama_sent=" + std::to_string(e.ojama_sent);
    if (e.ojama_received != 0 || e.ojama_discarded != 0) {
        out += ", ojama_received=" + std::to_string(e.ojama_received) + ", ojama_discarded=" + std::to_string(e.ojama_discarded) +
               ", ojama_fall_frames=" + std::to_string(e.ojama_fall_frames);
    }
    if (e.lost) out += ", lost=True";
    return out + ")";
}

void bind_events(nb::module_& m) {
    nb::class_<PlayerEventsView>(m, "PlayerEvents",
        "What happened to one player during one ``Match.step``: its move, if it moved, resolved\n"
        "at once (placement and whole chain, with their frames), and whatever of its turns fell in\n"
        "the step's time: ojama committed (offset, sent) and ojama fallen on its field.")
        .def_prop_ro("player", [](const PlayerEventsView& v) { return v.player; }, "The player's index.")
        .def_prop_ro("moved", [](const PlayerEventsView& v) { return v.events.moved; }, "Whether the player moved in the step.")
        .def_prop_ro("move", [](const PlayerEventsView& v) { return v.events.moved ? nb::object(nb::int_(v.events.move)) : nb::none(); },
                     nb::sig("def move(self) -> int | None"), "The move made, or None.")
        .def_prop_ro("placement_frames", [](const PlayerEventsView& v) { return v.events.placement_frames; },
                     "Frames of the placement: sideways travel, drop, landing, split.")
        .def_prop_ro("chain", [](const PlayerEventsView& v) { return v.events.chain.chain; }, "Chain steps the move fired (0: none).")
        .def_prop_ro("score", [](const PlayerEventsView& v) { return v.events.chain.score + std::uint64_t{v.events.all_clear_bonus}; },
                     "The move's score: the chain's, and the all-clear bonus it used.")
        .def_prop_ro("step_scores", &scores_tuple, nb::sig("def step_scores(self) -> tuple[int, ...]"), "The score of each chain step.")
        .def_prop_ro("chain_step_frames", &frames_tuple, nb::sig("def chain_step_frames(self) -> tuple[int, ...]"),
                     "Frames of each chain step: vanishing, the longest fall, landing.")
        .def_prop_ro("chain_frames", [](const PlayerEventsView& v) { return v.events.chain_frames; }, "Frames of the whole chain.")
        .def_prop_ro("all_clear", [](const PlayerEventsView& v) { return v.events.all_clear; },
                     "Whether the move left the counted area empty (earning the bonus).")
        .def_prop_ro("all_clear_bonus_used", [](const PlayerEventsView& v) { return v.events.all_clear_bonus_used; },
                     "Whether the move's chain used a held all-clear bonus.")
        .def_prop_ro("all_clear_bonus", [](const PlayerEventsView& v) { return v.events.all_clear_bonus; },
                     "Points a held all-clear bonus added to the move's chain (0 if none).")
        .def_prop_ro("ojama_produced", [](const PlayerEventsView& v) { return v.events.ojama_produced; },
                     "Ojama the move's chain produced, bonus included; committed when the chain ends.")
        .def_prop_ro("offset", [](const PlayerEventsView& v) { return v.events.offset; },
                     "Ojama committed in the step that cancelled the player's own pending ojama.")
        .def_prop_ro("ojama_sent", [](const PlayerEventsView& v) { return v.events.ojama_sent; },
                     "Ojama committed in the step that went to the opponent's pending count.")
        .def_prop_ro("ojama_received", [](const PlayerEventsView& v) { return v.events.ojama_received; },
                     "Ojama that fell on the player's field in the step.")
        .def_prop_ro("ojama_discarded", [](const PlayerEventsView& v) { return v.events.ojama_discarded; },
                     "Ojama of a fall that found no room below the 14th row.")
        .def_prop_ro("ojama_fall_frames", [](const PlayerEventsView& v) { return v.events.ojama_fall_frames; },
                     "Frames of the ojama fall.")
        .def_prop_ro("lost", [](const PlayerEventsView& v) { return v.events.lost; }, "Whether the player topped out in the step.")
        .def("__repr__", &events_repr);

    nb::class_<StepResult>(m, "StepResult", "What one ``Match.step`` did: per-player events and the time it covered.")
        .def_prop_ro("players", [](const StepResult& r) {
                 return nb::make_tuple(PlayerEventsView{r.outcome.players[0], 0}, PlayerEventsView{r.outcome.players[1], 1});
             },
             nb::sig("def players(self) -> tuple[PlayerEvents, PlayerEvents]"), "The events of player 0 and player 1.")
        .def("__getitem__", [](const StepResult& r, nb::handle player) {
                 const auto p = static_cast<unsigned>(int_in_range(player, "player", 0, kNumPlayers - 1));
                 return PlayerEventsView{r.outcome.players[p], p};
             },
             "player"_a, nb::sig("def __getitem__(self, player: int, /) -> PlayerEvents"), "The events of one player.")
        .def_prop_ro("frame_before", [](const StepResult& r) { return r.outcome.frame_before; }, "The match frame the step started at.")
        .def_prop_ro("frame", [](const StepResult& r) { return r.outcome.frame; }, "The match frame after the step.")
        .def_prop_ro("frames", [](const StepResult& r) { return r.outcome.frame - r.outcome.frame_before; },
                     "The frames the step covered.")
        .def_prop_ro("is_over", [](const StepResult& r) { return r.outcome.over; }, "Whether the match ended in the step.")
        .def_prop_ro("winner", [](const StepResult& r) { return winner_to_python(r.winner); }, nb::sig("def winner(self) -> int | None"),
                     "The winner once the match is over (None: a draw, or not over).")
        .def("__repr__", [](const StepResult& r) {
            std::string out = "StepResult(frame_before=" + std::to_string(r.outcome.frame_before) + ", frame=" +
                              std::to_string(r.outcome.frame) + ", players=(" + events_repr({r.outcome.players[0], 0}) + ", " +
                              events_repr({r.outcome.players[1], 1}) + ")";
            if (r.outcome.over) out += r.winner == velmo::kNoWinner ? ", draw" : ", winner=" + std::to_string(r.winner);
            return out + ")";
        });
    m.attr("StepResult").attr("__iter__") = nb::none();
}

}  // namespace

void bind_match(nb::module_& m) {
    bind_rules(m);
    bind_timing(m);
    bind_player_view(m);
    bind_events(m);
    nb::class_<PyMatch>(m, "Match",
        "A versus match of two players in frames of time: ojama, offsetting, the all-clear bonus.\n\n"
        "``to_move()`` names the players who must choose now; ``step({player: move})`` takes a\n"
        "move (an index into ``velmo.Hand.enumerate()``) for exactly those, advances time to the\n"
        "next decision and returns a ``StepResult``. A match is a plain value: ``clone()``,\n"
        "``copy``, ``deepcopy`` and ``pickle`` reproduce it exactly.")
        .def("__init__",
             [](Unmade<PyMatch> self, nb::handle seed, nb::handle rules, nb::handle timing, nb::handle fields, nb::handle sequences,
                nb::handle colors, nb::handle visible) {
                 new (self.place()) PyMatch(make_match(seed, rules, timing, fields, sequences, colors, visible));
             },
             "seed"_a = 0, nb::kw_only(), "rules"_a.none() = nb::none(), "timing"_a.none() = nb::none(),
             "fields"_a.none() = nb::none(), "sequences"_a.none() = nb::none(), "colors"_a = 4, "visible"_a = 2,
             nb::sig("def __init__(self, seed: int = 0, *, rules: Rules | None = None, timing: Timing | None = None, "
                     "fields: collections.abc.Sequence[velmo.Field] | None = None, "
                     "sequences: collections.abc.Sequence[PairSequence | collections.abc.Sequence[velmo.Pair]] | None = None, "
                     "colors: int = 4, visible: int = 2) -> None"),
             "A new match at frame 0, both players due.\n\n"
             "Args:\n"
             "    seed: seeds both players' pairs, ``PairSequence(seed, colors=colors)`` (the pairs of\n"
             "        ``Game(seed)``), and the columns of falling ojama.\n"
             "    rules, timing: ``Rules()`` and ``Timing()`` by default.\n"
             "    fields: one ``velmo.Field`` per player to start from (empty fields by default); a\n"
             "        field that is not settled is settled first: gravity, then any chain it holds\n"
             "        runs unscored.\n"
             "    sequences: one ``PairSequence`` or list of ``velmo.Pair`` per player.\n"
             "    visible: how many next pairs the views and observations show.\n\n"
             "Raises:\n"
             "    ValueError: a negative seed, colors other than 3 or 4, visible outside 0..128, a\n"
             "        field no game can play on.\n"
             "    TypeError: arguments of the wrong type, or not one per player.")
        .def_prop_ro("players", [](nb::handle self) {
                 if (!nb::inst_ready(self)) raise_type_error("the Match is not initialised");
                 return nb::make_tuple(PlayerView{nb::borrow(self), 0}, PlayerView{nb::borrow(self), 1});
             },
             nb::sig("def players(self) -> tuple[MatchPlayer, MatchPlayer]"), "The two players, as live read-only views.")
        .def_prop_ro("frame", [](const PyMatch& s) { return s.match.frame(); }, "The current frame (60 per second).")
        .def_prop_ro("is_over", [](const PyMatch& s) { return s.match.is_over(); }, "Whether the match has ended.")
        .def_prop_ro("winner", [](const PyMatch& s) { return winner_to_python(s.match.winner()); }, nb::sig("def winner(self) -> int | None"),
                     "0 or 1 once a player has won; None for a draw or a match not over.")
        .def_prop_ro("rules", [](const PyMatch& s) { return s.match.rules(); }, "The match's rules.")
        .def_prop_ro("timing", [](const PyMatch& s) { return s.match.timing(); }, "The match's timing.")
        .def_prop_ro("visible", [](const PyMatch& s) { return s.visible; }, "How many next pairs are shown.")
        .def("to_move", [](const PyMatch& s) { return players_list(s.match.due_players()); }, nb::sig("def to_move(self) -> list[int]"),
             "The players who must move now, ascending (empty once the match is over).")
        .def("legal_moves", [](const PyMatch& s, nb::handle player) {
                 return move_list(s.match.legal_moves(static_cast<unsigned>(int_in_range(player, "player", 0, kNumPlayers - 1))));
             },
             "player"_a, nb::sig("def legal_moves(self, player: int) -> list[int]"),
             "Player ``player``'s legal moves now, ascending (empty unless it is due); the same as\n"
             "``match.players[player].legal_moves()``.")
        .def("step", &step, "moves"_a, nb::sig("def step(self, moves: collections.abc.Mapping[int, int]) -> StepResult"),
             "Make the moves ``{player: move}`` of exactly the players in ``to_move()`` and advance\n"
             "to the next decision or the end.\n\n"
             "Raises:\n"
             "    ValueError: a move for a player not due, a missing move, a move outside 0..21, an\n"
             "        illegal move, or any move once the match is over; the match is then unchanged.\n"
             "    TypeError: moves that are not a mapping of ints.")
        .def("observation", &observation, "player"_a,
             nb::sig("def observation(self, player: int) -> dict[str, numpy.typing.NDArray[typing.Any]]"),
             "Player ``player``'s view as NumPy arrays: ``field`` and ``opponent_field`` ``(14, 6)``\n"
             "uint8 (``PuyoType`` numbers, row 0 the 14th row), ``pairs`` and ``opponent_pairs``\n"
             "``(1 + visible, 2)`` uint8 (child, axis), ``pending_ojama`` ``(2,)`` uint32 (against\n"
             "the player, against the opponent).")
        .def("clone", [](const PyMatch& s) { return s; }, "An independent copy (a match is a plain value).")
        .def("__copy__", [](const PyMatch& s) { return s; }, "An independent copy.")
        .def("__deepcopy__", [](const PyMatch& s, nb::handle) { return s; }, "memo"_a,
             nb::sig("def __deepcopy__(self, memo: dict[int, object], /) -> Match"), "An independent copy.")
        .def("__getstate__", &match_state,
             nb::sig("def __getstate__(self) -> tuple[int, tuple[object, ...], tuple[object, ...], int, int, bool, int | None, int, "
                     "tuple[tuple[object, ...], tuple[object, ...]]]"),
             "The pickle state: (version, rules, timing, visible, frame, is_over, winner, ojama\n"
             "generator state, the two players' states).")
        .def("__setstate__", [](Unmade<PyMatch> self, nb::handle state) { new (self.place()) PyMatch(parse_state("Match", [&] { return match_from_state(state); })); }, "state"_a,
             nb::sig("def __setstate__(self, state: tuple[int, tuple[object, ...], tuple[object, ...], int, int, bool, int | None, int, "
                     "tuple[tuple[object, ...], tuple[object, ...]]], /) -> None"),
             "Restore a pickled match (ValueError for a state that is not one).")
        .def("__eq__", [](const PyMatch& a, nb::handle b) -> nb::object {
                 if (!nb::isinstance<PyMatch>(b)) return nb::borrow(Py_NotImplemented);
                 const auto& other = nb::cast<const PyMatch&>(b);
                 return nb::bool_(a.match == other.match && a.visible == other.visible);
             }, nb::sig("def __eq__(self, other: object, /) -> bool"), "Whether both matches stand exactly alike.")
        .def("__repr__", &match_repr);
    m.attr("Match").attr("__hash__") = nb::none();
}

}  // namespace velmo_game

// The search primitives for Python: potential chains, pair expansion (one field, or a batch in
// NumPy buffers without the interpreter lock) and the field hash. The Python module
// velmo_game.search shapes the results into named records.
#include <nanobind/ndarray.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <string>
#include <thread>

#include "bindings.hpp"
#include "interop.hpp"
#include "game/moves.hpp"
#include "game/ojama.hpp"
#include "search/beam_search.hpp"
#include "search/legacy_beam_search.hpp"
#include "search/search.hpp"

namespace velmo_game {
namespace {

using namespace nb::literals;

constexpr std::size_t kPlaneWords = 6;

unsigned max_added_from_python(nb::handle value) {
    return static_cast<unsigned>(int_in_range(value, "max_added", 1, velmo::kMaxAddedPuyos));
}

nb::tuple chain_record(const velmo::PotentialChain& found, bool build_field) {
    return nb::make_tuple(found.column - 1, velmo::bit_code(found.color), found.added, found.chain, found.score,
                          build_field ? field_to_python(found.field) : nb::none());
}

nb::list detect_chains(nb::handle field, nb::handle max_added, bool build_fields) {
    const velmo::BitField start = field_from_python(field, "field");
    velmo::PotentialChains found;
    velmo::detect_potential_chains(start, max_added_from_python(max_added), found);
    nb::list out;
    for (std::size_t i = 0; i < found.count; ++i) out.append(chain_record(found.items[i], build_fields));
    return out;
}

nb::object best_chain(nb::handle field, nb::handle max_added) {
    const velmo::BitField start = field_from_python(field, "field");
    const auto best = velmo::best_potential_chain(start, max_added_from_python(max_added));
    if (!best) return nb::none();
    return nb::make_tuple(best->column - 1, velmo::bit_code(best->color), best->added, best->chain, best->score);
}

nb::tuple expand_one(nb::handle field, nb::handle pair) {
    const velmo::BitField start = field_from_python(field, "field");
    const velmo::GamePair placed = pair_from_python(pair, "pair");
    velmo::Children children;
    velmo::expand(start, placed, children);
    nb::list moves, fields, chains, scores, over;
    for (std::size_t i = 0; i < children.count; ++i) {
        const velmo::Child& child = children.items[i];
        moves.append(child.move);
        fields.append(field_to_python(child.field));
        chains.append(child.chain);
        scores.append(child.score);
        over.append(child.game_over);
    }
    return nb::make_tuple(nb::tuple(moves), nb::tuple(fields), nb::tuple(chains), nb::tuple(scores), nb::tuple(over));
}

using Planes = nb::ndarray<const std::uint64_t, nb::shape<-1, 6>, nb::c_contig, nb::device::cpu>;
using Pairs = nb::ndarray<const std::uint8_t, nb::shape<-1, 2>, nb::c_contig, nb::device::cpu>;
using OutPlanes = nb::ndarray<std::uint64_t, nb::shape<-1, 22, 6>, nb::c_contig, nb::device::cpu>;
using OutBools = nb::ndarray<bool, nb::shape<-1, 22>, nb::c_contig, nb::device::cpu>;
using OutCounts = nb::ndarray<std::uint32_t, nb::shape<-1, 22>, nb::c_contig, nb::device::cpu>;

bool is_game_color(std::uint8_t code) { return code >= 4 && code <= 7; }

// The whole batch runs without the interpreter lock and touches only the buffers. Returns -1,
// or the index of the first row whose field (or pair) cannot be expanded; rows before it are
// written, it and later rows are not.
std::int64_t expand_rows(const std::uint64_t* in, const std::uint8_t* pairs, std::size_t n, std::uint64_t* out_planes,
                         bool* legal, std::uint32_t* chains, std::uint32_t* scores, bool* over) {
    velmo::Children children;
    for (std::size_t row = 0; row < n; ++row) {
        const std::uint64_t* w = in + kPlaneWords * row;
        const auto field = velmo::BitField::from_planes(velmo::make_u128(w[1], w[0]), velmo::make_u128(w[3], w[2]),
                                                        velmo::make_u128(w[5], w[4]));
        const std::uint8_t child_code = pairs[2 * row], axis_code = pairs[2 * row + 1];
        if (!velmo::is_playable_field(field) || !is_game_color(child_code) || !is_game_color(axis_code)) {
            return static_cast<std::int64_t>(row);
        }
        const velmo::GamePair pair{static_cast<velmo::BitPuyoType>(child_code), static_cast<velmo::BitPuyoType>(axis_code)};
        velmo::expand(field, pair, children);
        const std::size_t base = velmo::kNumMoves * row;
        for (std::size_t move = 0; move < velmo::kNumMoves; ++move) {
            // An illegal slot keeps the parent field and no chain.
            for (std::size_t k = 0; k < kPlaneWords; ++k) out_planes[kPlaneWords * (base + move) + k] = w[k];
            legal[base + move] = false;
            chains[base + move] = 0;
            scores[base + move] = 0;
            over[base + move] = false;
        }
        for (std::size_t i = 0; i < children.count; ++i) {
            const velmo::Child& child = children.items[i];
            const std::size_t slot = base + child.move;
            std::size_t k = 0;
            for (const velmo::u128 plane : child.field.planes()) {
                out_planes[kPlaneWords * slot + k++] = velmo::low64(plane);
                out_planes[kPlaneWords * slot + k++] = velmo::high64(plane);
            }
            legal[slot] = true;
            chains[slot] = child.chain;
            scores[slot] = child.score;
            over[slot] = child.game_over;
        }
    }
    return -1;
}

std::int64_t expand_batch(const Planes& fields, const Pairs& pairs, OutPlanes& out_fields, OutBools& legal,
                          OutCounts& chains, OutCounts& scores, OutBools& over) {
    const std::size_t n = fields.shape(0);
    if (pairs.shape(0) != n || out_fields.shape(0) != n || legal.shape(0) != n || chains.shape(0) != n ||
        scores.shape(0) != n || over.shape(0) != n) {
        raise_value_error("the batch arrays must all have the same number of rows");
    }
    // In blocks of some milliseconds, so that Ctrl-C stops a large batch (the outputs then hold
    // the rows done so far).
    constexpr std::size_t kBlockRows = 1024;
    std::int64_t bad = -1;
    run_interruptible([&](const velmo::StopCheck& stop) {
        for (std::size_t begin = 0; begin < n; begin += kBlockRows) {
            const std::size_t rows = std::min(kBlockRows, n - begin);
            bad = expand_rows(fields.data() + kPlaneWords * begin, pairs.data() + 2 * begin, rows,
                              out_fields.data() + kPlaneWords * velmo::kNumMoves * begin, legal.data() + velmo::kNumMoves * begin,
                              chains.data() + velmo::kNumMoves * begin, scores.data() + velmo::kNumMoves * begin,
                              over.data() + velmo::kNumMoves * begin);
            if (bad >= 0) {
                bad += static_cast<std::int64_t>(begin);
                return true;
            }
            if (begin + rows < n && stop()) return false;
        }
        return true;
    }, [] {});
    return bad;
}

// The evaluation's weights from a {name: number} mapping; names not given keep the defaults.
velmo::EvalWeights weights_from_python(nb::handle mapping) {
    velmo::EvalWeights weights;
    if (mapping.is_none()) return weights;
    if (!nb::isinstance<nb::dict>(mapping)) raise_value_error("weights must be a dict of names to numbers");
    for (auto [key, value] : nb::borrow<nb::dict>(mapping)) {
        if (!nb::isinstance<nb::str>(key)) raise_value_error("weights must be a dict of names to numbers");
        const std::string name = nb::cast<std::string>(key);
        const auto* field = std::find_if(std::begin(velmo::kEvalWeightFields), std::end(velmo::kEvalWeightFields),
                                         [&](const velmo::EvalWeightField& f) { return name == f.name; });
        if (field == std::end(velmo::kEvalWeightFields)) raise_value_error("unknown weight " + name);
        double number = 0;
        if (!nb::try_cast<double>(value, number) || !std::isfinite(number)) {
            raise_value_error("weight " + name + " must be a finite number");
        }
        weights.*(field->member) = number;
    }
    return weights;
}

nb::dict weights_to_python(const velmo::EvalWeights& weights) {
    nb::dict out;
    for (const velmo::EvalWeightField& f : velmo::kEvalWeightFields) out[f.name] = weights.*(f.member);
    return out;
}

// The core's defaults of the beam player, for the Python front to show and start from.
nb::dict beam_defaults() {
    const velmo::BeamConfig config;
    nb::dict out;
    out["width"] = config.width;
    out["depth"] = config.depth;
    out["fire_score"] = config.fire_score;
    out["max_added"] = config.max_added;
    out["queues"] = config.queues;
    out["match_queues"] = config.match_queues;
    out["discount"] = config.discount;
    out["fixed_queues"] = config.fixed_queues;
    out["settle_queues"] = config.settle_queues;
    out["weights"] = weights_to_python(config.weights);
    return out;
}

// Runs the search without the interpreter lock on this thread's behalf, in a worker thread, while
// this thread checks for Ctrl-C every few milliseconds: a signal stops the search (it returns the
// move of what it searched so far) and its exception is raised once the worker has finished.
int search_interruptibly(const velmo::Game& position, velmo::BeamConfig config, bool legacy, velmo::BeamStats& stats) {
    std::atomic<bool> stop{false};
    config.stop = &stop;
    std::atomic<bool> done{false};
    int move = -1;
    bool interrupted = false;
    std::exception_ptr failure;
    {
        nb::gil_scoped_release unlocked;
        std::jthread worker([&] {
            try {
                move = legacy ? velmo::legacy_beam_search_move(position, config, &stats)
                              : velmo::beam_search_move(position, config, &stats);
            } catch (...) {
                failure = std::current_exception();  // rethrown on the calling thread (out of memory)
            }
            done.store(true, std::memory_order_release);
            done.notify_one();
        });
        while (!done.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (done.load(std::memory_order_acquire) || interrupted) continue;
            nb::gil_scoped_acquire locked;
            if (PyErr_CheckSignals() != 0) {
                interrupted = true;
                stop.store(true, std::memory_order_relaxed);
            }
        }
    }
    if (interrupted) throw nb::python_error();
    if (failure) std::rethrow_exception(failure);
    return move;
}

nb::tuple beam_move(const velmo::Game& game, unsigned width, unsigned depth, nb::handle seed, nb::handle node_budget,
                    double time_budget_ms, std::uint32_t fire_score, nb::handle last_turn, nb::handle end_turn,
                    nb::handle max_added, unsigned queues, unsigned threads, double discount, nb::handle weights,
                    bool legacy, bool fixed_queues, unsigned settle_queues, std::uint32_t incoming_ojama,
                    unsigned incoming_level, std::uint32_t target_points, std::uint32_t max_ojama_per_fall, bool in_match) {
    if (!(time_budget_ms >= 0)) raise_value_error("time_budget_ms must be a number >= 0, not " + std::to_string(time_budget_ms));
    velmo::BeamConfig config;
    config.width = width;
    config.depth = depth;
    config.seed = seed_from_python(seed, "seed");
    config.node_budget = seed_from_python(node_budget, "node_budget");
    config.time_budget_ms = time_budget_ms;
    config.fire_score = fire_score;
    config.last_turn = last_turn.is_none() ? ~std::uint64_t{0} : seed_from_python(last_turn, "last_turn");
    config.end_turn = end_turn.is_none() ? ~std::uint64_t{0} : seed_from_python(end_turn, "end_turn");
    config.max_added = max_added_from_python(max_added);
    config.queues = std::max(1u, queues);
    config.threads = std::max(1u, threads);
    config.discount = discount;
    config.fixed_queues = fixed_queues;
    config.settle_queues = settle_queues;
    config.weights = weights_from_python(weights);
    config.incoming_ojama = incoming_ojama;
    config.incoming_level = incoming_level;
    config.target_points = target_points;
    config.max_ojama_per_fall = max_ojama_per_fall;
    config.match = in_match;
    const velmo::Game position = game;  // searched without the lock, so on a copy of our own
    velmo::BeamStats stats;
    const int move = search_interruptibly(position, config, legacy, stats);
    return nb::make_tuple(move, stats.nodes, stats.depth_reached);
}

nb::dict features_of(nb::handle field, nb::handle max_added, nb::handle weights) {
    const velmo::BitField start = field_from_python(field, "field");
    const unsigned added = max_added_from_python(max_added);
    const velmo::EvalWeights w = weights_from_python(weights);
    const velmo::EvalFeatures f = velmo::evaluate_features(start, added, w);
    nb::dict out;
    out["chain"] = f.chain;
    out["score"] = f.score;
    out["added"] = f.added;
    out["trigger_height"] = f.trigger_height;
    out["trigger_room"] = f.trigger_room;
    out["link2"] = f.link2;
    out["link3"] = f.link3;
    out["template_match"] = f.template_match;
    out["wells"] = f.wells;
    out["bumps"] = f.bumps;
    out["profile"] = f.profile;
    out["hidden"] = f.hidden;
    out["left"] = f.left;
    out["value"] = velmo::evaluate_position(start, added, w);
    return out;
}

std::uint64_t hash_of(nb::handle field) { return velmo::field_hash(field_from_python(field, "field")); }

// The field with the groups of its next chain step emptied and nothing fallen yet: pictures of a
// chain show what vanishes before they show the fall.
nb::object vanish_groups(nb::handle field) {
    velmo::BitField result = field_from_python(field, "field");
    result.vanish(nullptr);
    return field_to_python(result);
}

}  // namespace

void bind_search(nb::module_& m) {
    m.def("detect_chains", &detect_chains, "field"_a, "max_added"_a, "build_fields"_a,
          nb::sig("def detect_chains(field: velmo.Field, max_added: int, build_fields: bool) -> "
                  "list[tuple[int, int, int, int, int, velmo.Field | None]]"),
          "The potential chains of a field as (column, color, added, chain, score, field) tuples, by column "
          "then colour (velmo_game.search.detect_chains shapes them).");
    m.def("best_chain", &best_chain, "field"_a, "max_added"_a,
          nb::sig("def best_chain(field: velmo.Field, max_added: int) -> tuple[int, int, int, int, int] | None"),
          "The best potential chain as (column, color, added, chain, score), or None.");
    m.def("expand", &expand_one, "field"_a, "pair"_a,
          nb::sig("def expand(field: velmo.Field, pair: velmo.Pair) -> tuple[tuple[int, ...], tuple[velmo.Field, ...], "
                  "tuple[int, ...], tuple[int, ...], tuple[bool, ...]]"),
          "The legal children of a pair placement as (moves, fields, chains, scores, game_over) tuples.");
    // No conversion of any argument: an output of the wrong dtype or layout would otherwise be
    // written as a temporary copy and the caller's array left as it was.
    m.def("expand_batch_planes", &expand_batch, "fields"_a.noconvert(), "pairs"_a.noconvert(), "out_fields"_a.noconvert(),
          "out_legal"_a.noconvert(), "out_chains"_a.noconvert(), "out_scores"_a.noconvert(), "out_game_over"_a.noconvert(),
          nb::sig("def expand_batch_planes(fields: numpy.typing.NDArray[numpy.uint64], "
                  "pairs: numpy.typing.NDArray[numpy.uint8], "
                  "out_fields: numpy.typing.NDArray[numpy.uint64], "
                  "out_legal: numpy.typing.NDArray[numpy.bool_], "
                  "out_chains: numpy.typing.NDArray[numpy.uint32], "
                  "out_scores: numpy.typing.NDArray[numpy.uint32], "
                  "out_game_over: numpy.typing.NDArray[numpy.bool_]) -> int"),
          "Expands every row into the output buffers with the interpreter lock released; returns -1, or the first "
          "row whose field or pair is invalid (that row and later ones are not written). Every array must already "
          "have its dtype and be C-contiguous (TypeError otherwise).");
    m.def("beam_search_move", &beam_move, "game"_a, "width"_a, "depth"_a, "seed"_a, "node_budget"_a, "time_budget_ms"_a,
          "fire_score"_a, "last_turn"_a.none(), "end_turn"_a.none(), "max_added"_a, "queues"_a, "threads"_a,
          "discount"_a, "weights"_a.none(), "legacy"_a, "fixed_queues"_a,
          "settle_queues"_a = velmo::BeamConfig{}.settle_queues, "incoming_ojama"_a = 0u, "incoming_level"_a = 0u,
          "target_points"_a = velmo::Rules{}.target_points,
          "max_ojama_per_fall"_a = velmo::Rules{}.max_ojama_per_fall, "in_match"_a = false,
          nb::sig("def beam_search_move(game: Game, width: int, depth: int, seed: int, node_budget: int, "
                  "time_budget_ms: float, fire_score: int, last_turn: int | None, end_turn: int | None, "
                  "max_added: int, queues: int, threads: int, discount: float, weights: dict[str, float] | None, "
                  "legacy: bool, fixed_queues: bool, settle_queues: int = ..., incoming_ojama: int = 0, "
                  "incoming_level: int = 0, target_points: int = ..., max_ojama_per_fall: int = ..., in_match: bool = False) "
                  "-> tuple[int, int, int]"),
          "The beam-search player's move for a game (-1 when none), the children evaluated and the depth reached; "
          "runs without the interpreter lock and stops early on Ctrl-C. In a match, ``incoming_ojama`` fall after "
          "the placement ``incoming_level`` placements from now (0: this one), less what chains fired before then "
          "offset at ``target_points`` each, at most ``max_ojama_per_fall`` at once; ``in_match`` weighs the spawn "
          "column's costs by the ``match_spawn`` weight.");
    m.def("beam_defaults", &beam_defaults, nb::sig("def beam_defaults() -> dict[str, Any]"),
          "The beam player's default options and evaluation weights.");
    m.def("evaluate_features", &features_of, "field"_a, "max_added"_a, "weights"_a.none(),
          nb::sig("def evaluate_features(field: velmo.Field, max_added: int, weights: dict[str, float] | None) -> "
                  "dict[str, float]"),
          "The beam player's evaluation of a quiet field, feature by feature, with its value.");
    // The beam player's defaults, for the Python front's signature: they live in BeamConfig only.
    const velmo::BeamConfig beam;
    m.attr("BEAM_WIDTH") = beam.width;
    m.attr("BEAM_DEPTH") = beam.depth;
    m.attr("BEAM_SEED") = beam.seed;
    m.attr("BEAM_NODE_BUDGET") = beam.node_budget;
    m.attr("BEAM_TIME_BUDGET_MS") = beam.time_budget_ms;
    m.attr("BEAM_FIRE_SCORE") = beam.fire_score;
    m.attr("BEAM_MAX_ADDED") = beam.max_added;
    m.attr("BEAM_QUEUES") = beam.queues;
    m.attr("BEAM_THREADS") = beam.threads;
    m.attr("BEAM_DISCOUNT") = beam.discount;
    m.attr("BEAM_FIXED_QUEUES") = beam.fixed_queues;
    m.attr("BEAM_SETTLE_QUEUES") = beam.settle_queues;
    // The field's and the match's rules the player's versus reading needs, from the core.
    m.attr("SPAWN_COLUMN") = velmo::kSpawnColumn - velmo::kFirstPlayableColumn;
    m.attr("DEATH_HEIGHT") = velmo::kDeathHeight;
    m.attr("OJAMA_PER_ROW") = velmo::kPlayableColumns;
    m.attr("SPAWN_DROP_MOVE") = velmo::kSpawnDropMove;
    m.attr("THREAT_OJAMA") = velmo::kThreatOjama;
    m.attr("SPENT_OJAMA") = velmo::kSpentOjama;
    m.def("field_hash", &hash_of, "field"_a, nb::sig("def field_hash(field: velmo.Field) -> int"),
          "The stable 64-bit hash of a field's planes.");
    m.def("vanish_groups", &vanish_groups, "field"_a, nb::sig("def vanish_groups(field: velmo.Field) -> velmo.Field"),
          "A copy of the field with the groups of its next chain step (and the ojama they touch) emptied, before "
          "anything falls.");
    m.def("death_cell", [] { return std::make_pair(velmo::kDeathColumn - 1, velmo::kDeathRow - 1); },
          nb::sig("def death_cell() -> tuple[int, int]"),
          "The cell whose filling ends a game, as (x, y) of velmo.Field (y = 0 is the 14th row).");
}

}  // namespace velmo_game

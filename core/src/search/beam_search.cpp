#include "beam_search.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <limits>
#include <span>
#include <thread>
#include <vector>

#include "../game/ojama.hpp"
#include "search.hpp"

namespace velmo {
namespace {

// Added to the value of a chain the player may fire: such an outcome beats every quiet one.
constexpr double kFiredBonus = 1e7;
// Taken from a quiet leaf when the game ends within the horizon: only a chain fired counts then,
// but the leaves still order the moves that fire nothing.
constexpr double kEndedLeafCost = 1e6;
constexpr double kMissing = -std::numeric_limits<double>::infinity();

// Groups of exactly two and exactly three same-coloured puyos in the connection region. Counted
// from the group-size masks where a colour has no group of four (every settled field the search
// evaluates), grown one group at a time where it has.
void count_small_groups(const BitField& field, unsigned& twos, unsigned& threes) {
    const BitPlanes& p = field.bit_planes();
    for (const BitPuyoType color : kGameColors) {
        u128 rest = cells_of_color(p, color);
        const GroupSizes sizes = group_sizes(rest);
        if (sizes.below_four) {
            twos += popcount128(sizes.pair) / 2;
            threes += popcount128(sizes.triple) / 3;
            continue;
        }
        while (rest != 0) {
            u128 group = rest & (~rest + 1);  // the lowest cell
            for (;;) {
                const u128 grown = rest & neighbours(group);
                if (grown == group) break;
                group = grown;
            }
            rest &= ~group;
            const unsigned size = popcount128(group);
            twos += size == 2 ? 1 : 0;
            threes += size == 3 ? 1 : 0;
        }
    }
}

// The height profile the builder aims at, relative to the mean height: high at the edges, low in
// the middle, the spawn column lowest, so the chain's stairs have walls and the pair room.
constexpr double kProfile[kFieldWidth] = {0, 2.0, 0.5, -1.5, -1.0, 0.0, 2.0, 0};

// Chain bases at the left of the field, rows from the bottom, columns from the left wall: equal
// letters want one colour, neighbouring different letters different colours ('.' is free).
struct Template {
    std::array<const char*, 4> rows;
};

// The templates cover the 4 x 4 cells at the bottom left; cell (x, row), both from 1, is bit
// (x - 1) * 4 + row - 1 of a 16-bit corner word, so a cell's upper neighbour is the next bit and its
// right neighbour the bit four above.
constexpr unsigned kCornerSize = 4;
constexpr unsigned corner_cell(unsigned x, unsigned row) { return (x - 1) * kCornerSize + row - 1; }

// A template read once, at compile time, as masks of the corner: the cells of each letter (every
// two of them want one colour), and the cells whose upper or right neighbour holds another letter
// (those two want different colours). Scoring a field is then a count per colour, not a walk over
// the template's pairs of cells.
struct TemplateMasks {
    std::array<unsigned, 4> letters{};
    std::size_t num_letters = 0;
    unsigned differs_above = 0;
    unsigned differs_right = 0;
};

constexpr TemplateMasks template_masks(const Template& t) {
    std::array<char, kCornerSize * kCornerSize> letter_at{};
    TemplateMasks out;
    std::array<char, 4> seen{};
    for (unsigned row = 0; row < t.rows.size(); ++row) {
        for (unsigned x = 0; t.rows[row][x] != '\0'; ++x) {
            const char letter = t.rows[row][x];
            if (letter == '.') continue;
            const unsigned cell = corner_cell(x + 1, row + 1);
            letter_at[cell] = letter;
            std::size_t i = 0;
            while (i < out.num_letters && seen[i] != letter) ++i;
            if (i == out.num_letters) seen[out.num_letters++] = letter;
            out.letters[i] |= 1u << cell;
        }
    }
    for (unsigned cell = 0; cell < kCornerSize * kCornerSize; ++cell) {
        if (letter_at[cell] == '\0') continue;
        const bool has_above = cell % kCornerSize != kCornerSize - 1;
        if (has_above && letter_at[cell + 1] != '\0' && letter_at[cell + 1] != letter_at[cell]) out.differs_above |= 1u << cell;
        const bool has_right = cell + kCornerSize < kCornerSize * kCornerSize;
        if (has_right && letter_at[cell + kCornerSize] != '\0' && letter_at[cell + kCornerSize] != letter_at[cell]) {
            out.differs_right |= 1u << cell;
        }
    }
    return out;
}

constexpr std::array<TemplateMasks, 2> kTemplates = {
    template_masks({{"ABB", "AAB", "B..", ""}}),          // a GTR-style base: the A group's fall joins the B
    template_masks({{"AABC", "ABC.", ".BC.", ".BC."}}),  // stairs: each colour's fall completes the next
};

// The corner's cells of each colour, one 16-bit word each, read once per field: every leaf is
// scored against the templates.
struct Corner {
    std::array<unsigned, 4> colors{};
    unsigned colored = 0;
};

Corner corner_of(const BitField& field) {
    static_assert(kCornerSize == 4, "a column's four cells are one nibble of the corner");
    const auto gather = [](u128 plane) {
        unsigned word = 0;
        for (unsigned x = 1; x <= kCornerSize; ++x) {
            // Row r from the bottom is the bit r of the column's lane.
            word |= static_cast<unsigned>((plane >> (x * bit_layout::kLaneBits + 1)) & 0xF) << corner_cell(x, 1);
        }
        return word;
    };
    const BitPlanes& p = field.bit_planes();
    const unsigned p0 = gather(p.p0), p1 = gather(p.p1), p2 = gather(p.p2);
    Corner corner;
    for (std::size_t i = 0; i < kGameColors.size(); ++i) {
        const unsigned code = bit_code(kGameColors[i]);
        corner.colors[i] = p2 & ((code & 1) != 0 ? p0 : ~p0) & ((code & 2) != 0 ? p1 : ~p1) & 0xFFFF;
        corner.colored |= corner.colors[i];
    }
    return corner;
}

unsigned pairs_among(unsigned n) { return n * (n - 1) / 2; }

// Template pairs satisfied minus pairs broken, over the pairs whose cells both hold a colour.
int template_score(const Corner& corner, const TemplateMasks& t) {
    int score = 0;
    for (std::size_t i = 0; i < t.num_letters; ++i) {
        int same = 0;
        for (const unsigned color : corner.colors) same += static_cast<int>(pairs_among(popcount64(t.letters[i] & color)));
        score += 2 * same - static_cast<int>(pairs_among(popcount64(t.letters[i] & corner.colored)));
    }
    const auto side_by_side = [&](unsigned cells) {
        return popcount64(cells & (cells >> 1) & t.differs_above) + popcount64(cells & (cells >> kCornerSize) & t.differs_right);
    };
    int equal = 0;
    for (const unsigned color : corner.colors) equal += static_cast<int>(side_by_side(color));
    score += static_cast<int>(side_by_side(corner.colored)) - 2 * equal;
    return score;
}

// 0 while building, 1 from the end stage on, linear between.
double stage_progress(const EvalWeights& w, double puyos) {
    if (puyos <= w.build_end) return 0;
    if (puyos >= w.end_start) return 1;
    return (puyos - w.build_end) / (w.end_start - w.build_end);
}

// How much the chain terms count at this puyo count: less while building, more near the end.
double chain_stage(const EvalWeights& w, double puyos) {
    return w.build_chain + stage_progress(w, puyos) * (w.end_chain - w.build_chain);
}

double chain_value(const EvalWeights& w, const PotentialChain& c) {
    return w.chain * c.chain + w.chain_squared * c.chain * c.chain + w.score * c.score - w.added * c.added;
}

}  // namespace

EvalFeatures evaluate_features(const BitField& field, unsigned max_added, const EvalWeights& weights) {
    EvalFeatures f;
    std::array<std::uint64_t, kFieldWidth> height{};
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) height[x] = field.get_height(x);

    // Only a trigger the pair can reach fires: a chain whose trigger column lies past a column
    // too high to cross is no chain of this field's, however long (the player built on such
    // chains behind a column of 13 and popped small groups until the game ended).
    PotentialChains found;
    detect_potential_chains(field, max_added, found, reachable_columns(field));
    const PotentialChain* best = nullptr;
    double best_value = 0;
    for (std::size_t i = 0; i < found.count; ++i) {
        const double value = chain_value(weights, found.items[i]);
        if (best == nullptr || value > best_value) {
            best = &found.items[i];
            best_value = value;
        }
    }
    if (best != nullptr) {
        f.chain = best->chain;
        f.score = best->score;
        f.added = best->added;
        f.trigger_height = static_cast<unsigned>(height[best->column]);
        for (const std::uint64_t x : {best->column - 1, best->column + 1}) {
            if (x >= kFirstPlayableColumn && x <= kLastPlayableColumn && height[x] < 12) f.trigger_room += static_cast<unsigned>(12 - height[x]);
        }
        count_small_groups(best->field, f.link2, f.link3);
        f.left = static_cast<unsigned>(best->field.get_num_puyos());
    } else {
        f.left = static_cast<unsigned>(field.get_num_puyos());
        count_small_groups(field, f.link2, f.link3);
    }
    f.template_match = std::numeric_limits<int>::min();
    const Corner corner = corner_of(field);
    for (const TemplateMasks& t : kTemplates) f.template_match = std::max(f.template_match, template_score(corner, t));

    double mean = 0;
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) mean += static_cast<double>(height[x]);
    mean /= static_cast<double>(kLastPlayableColumn);
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        const double off = static_cast<double>(height[x]) - mean - kProfile[x];
        f.profile += off * off;
        const std::uint64_t left = x > kFirstPlayableColumn ? height[x - 1] : 14;
        const std::uint64_t right = x < kLastPlayableColumn ? height[x + 1] : 14;
        const std::uint64_t rim = std::min(left, right);
        if (rim >= height[x] + 2) f.wells += static_cast<unsigned>(rim - height[x] - 1);
        if (x < kLastPlayableColumn) {
            const std::uint64_t step = height[x] > height[x + 1] ? height[x] - height[x + 1] : height[x + 1] - height[x];
            if (step > 1) f.bumps += static_cast<unsigned>(step - 1);
        }
    }
    const BitPlanes& p = field.bit_planes();
    f.hidden = popcount128((p.p0 | p.p2) & bit_layout::lanes(0, 0x6000));
    return f;
}

namespace {

// A quiet position's value and the score of the potential chain it counts on.
struct Evaluation {
    double value = 0;
    std::uint32_t chain_score = 0;
};

Evaluation evaluation_of(const BitField& field, unsigned max_added, const EvalWeights& w) {
    const EvalFeatures f = evaluate_features(field, max_added, w);
    const auto puyos = static_cast<double>(field.get_num_puyos());
    const double stage = chain_stage(w, puyos);
    double value = 0;
    if (f.chain > 0) {
        value += stage * (w.chain * f.chain + w.chain_squared * f.chain * f.chain + w.score * f.score - w.added * f.added +
                          w.trigger_height * f.trigger_height + w.trigger_room * f.trigger_room);
    }
    value += w.link2 * f.link2 + w.link3 * f.link3 + w.template_match * f.template_match / stage;
    value -= w.well * f.wells + w.bump * f.bumps + w.profile * f.profile + w.hidden * f.hidden;
    value -= w.left * stage_progress(w, puyos) * f.left;
    // The spawn column and its neighbours must stay low: past 10 the pair has no room.
    const auto h3 = static_cast<double>(field.get_height(kDeathColumn));
    if (h3 > 8) value -= w.spawn * (h3 - 8) * (h3 - 8);
    for (const std::uint64_t x : {kDeathColumn - 1, kDeathColumn + 1}) {
        const auto h = static_cast<double>(field.get_height(x));
        if (h > 9) value -= w.spawn_side * (h - 9) * (h - 9);
    }
    return Evaluation{value, f.score};
}

}  // namespace

double evaluate_position(const BitField& field, unsigned max_added, const EvalWeights& w) {
    return evaluation_of(field, max_added, w).value;
}

namespace {

// Whether the field is so close to the top that the biggest chain in reach beats losing the game
// (the spawn column at 12 has lost already: there the rule never fires, and the search steers
// clear of the top).
bool near_the_top(const BitField& field, const EvalWeights& w) {
    return static_cast<double>(field.get_height(kDeathColumn)) >= w.fire_height ||
           static_cast<double>(field.get_height(kDeathColumn + 1)) >= w.fire_side_height;
}

// The smallest score worth firing on `field` (before the fire). `near_top`: whether the position
// the player moves from is near the top. Only that position's height counts: judged on each
// position searched, the rule paid a move for stacking a column up to the top, since any chain
// fired after it then outranked every quiet outcome (the player walled off its own trigger to
// cash a chain of a few hundred points).
std::uint32_t worth_firing(const BitField& field, std::uint32_t fire_score, const EvalWeights& w, bool near_top) {
    if (near_top) return 1;
    const auto puyos = static_cast<double>(field.get_num_puyos());
    if (puyos <= w.crowded) return fire_score;
    if (puyos >= w.full) return 1;
    return static_cast<std::uint32_t>(static_cast<double>(fire_score) * (w.full - puyos) / (w.full - w.crowded));
}

// Evaluations already made in one future, by field hash: equal fields are reached often (the
// two orders of a pair of one colour, moves in separate columns), and evaluating is most of the
// search's time. Direct-mapped; an entry holds the full hash, so a hit is the same field's value.
class EvalMemo {
public:
    EvalMemo() : entries_(kSize) {}
    template <class Evaluate>
    Evaluation value(std::uint64_t hash, Evaluate&& evaluate) {
        Entry& e = entries_[hash & (kSize - 1)];
        if (e.used && e.hash == hash) return e.value;
        e = Entry{hash, evaluate(), true};
        return e.value;
    }

private:
    static constexpr std::size_t kSize = std::size_t{1} << 14;
    struct Entry {
        std::uint64_t hash = 0;
        Evaluation value{};
        bool used = false;
    };
    std::vector<Entry> entries_;
};

// Every pair of two different colours, in rounds of pairs that share no colour (a round-robin
// schedule, by the circle method): with four colours each round of two pairs holds all four. With
// one colour there is none, and the pairs are drawn.
std::vector<GamePair> mixed_pair_cycle(std::span<const BitPuyoType> game_colors) {
    const std::span<const BitPuyoType> source = game_colors.empty() ? std::span<const BitPuyoType>(kGameColors) : game_colors;
    const std::vector<BitPuyoType> colors(source.begin(), source.end());
    const std::size_t n = colors.size() + colors.size() % 2;  // an odd count sits one out each round
    std::vector<std::size_t> seat(n);
    for (std::size_t i = 0; i < n; ++i) seat[i] = i;
    std::vector<GamePair> cycle;
    for (std::size_t round = 0; round + 1 < n; ++round) {
        for (std::size_t i = 0; i < n / 2; ++i) {
            const std::size_t a = seat[i], b = seat[n - 1 - i];
            if (a < colors.size() && b < colors.size()) cycle.push_back(GamePair{colors[a], colors[b]});
        }
        std::rotate(seat.begin() + 1, seat.end() - 1, seat.end());  // the first seat stays, the others turn
    }
    return cycle;
}

struct Node {
    BitField field;
    double value;
    std::uint64_t hash;
    std::uint8_t root;
    std::uint32_t incoming;     // ojama still on its way to this position
    std::uint32_t chain_score;  // the score of the potential chain its evaluation counts on
};

// What one future gives each first move: the best chain fired below it and its best quiet leaf.
using RootValues = std::array<double, kNumMoves>;

class Search {
public:
    Search(const Game& game, const BeamConfig& config)
        : game_(game), config_(config), weights_(config.weights), started_(Clock::now()), width_(std::max(1u, config.width)),
          max_added_(std::clamp(config.max_added, 1u, kMaxAddedPuyos)), turn_(game.turn()) {
        near_top_ = near_the_top(game.field(), weights_);
        depth_ = std::max(1u, config.depth);
        if (config.end_turn > turn_ && config.end_turn - turn_ < depth_) depth_ = static_cast<unsigned>(config.end_turn - turn_);
        queues_ = std::max(1u, config.queues);
        if (config.match) {
            queues_ = std::min(queues_, std::max(1u, config.match_queues));
            weights_.spawn *= weights_.match_spawn;
            weights_.spawn_side *= weights_.match_spawn;
        }
        settle_ = config.settle_queues < queues_ ? config.settle_queues : 0;
        queue_budget_ = config.node_budget == 0 ? 0 : std::max<std::uint64_t>(1, config.node_budget / queues_);
    }

    int choose(BeamStats* stats) {
        if (game_.legal_moves() == 0) return -1;
        std::vector<Node> roots;
        RootValues now{};
        now.fill(kMissing);
        const std::uint64_t root_nodes = expand_roots(roots, now);
        if (roots.empty()) {
            // Every quiet move loses: the best chain now, else the first legal move.
            if (stats != nullptr) stats->nodes = root_nodes, stats->depth_reached = 1;
            const int fired = best_root(now);
            return fired >= 0 ? fired : __builtin_ctz(game_.legal_moves());
        }
        const Frontier known = search_known_pairs(roots, now);
        std::vector<RootValues> per_queue(queues_);
        std::vector<std::uint64_t> nodes(queues_, 0);
        std::vector<unsigned> reached(queues_, 1);
        const auto run_queues = [&](unsigned begin, unsigned end) {
            const unsigned threads = std::clamp(config_.threads, 1u, end - begin);
            const auto run = [&](unsigned first) {
                for (unsigned q = first; q < end; q += threads) per_queue[q] = search_future(q, known, nodes[q], reached[q]);
            };
            if (threads == 1) {
                run(begin);
                return;
            }
            std::vector<std::jthread> workers;
            workers.reserve(threads - 1);
            for (unsigned t = 1; t < threads; ++t) workers.emplace_back(run, begin + t);
            run(begin);
        };  // the workers join at its end
        // The first `settle_` futures, and the others only where those differ on the first move.
        unsigned searched = settle_ > 0 ? settle_ : queues_;
        run_queues(0, searched);
        if (searched < queues_ && !unanimous(per_queue, searched)) {
            run_queues(searched, queues_);
            searched = queues_;
        }
        per_queue.resize(searched);
        RootValues combined{};
        combined.fill(kMissing);
        for (std::size_t move = 0; move < kNumMoves; ++move) {
            if (now[move] == kMissing && !has_root(roots, move)) continue;
            double sum = 0;
            for (const RootValues& values : per_queue) sum += values[move] == kMissing ? floor_of(values) : values[move];
            combined[move] = sum / searched;
        }
        if (stats != nullptr) {
            stats->nodes = root_nodes + known.nodes;
            for (const std::uint64_t n : nodes) stats->nodes += n;
            stats->depth_reached = *std::max_element(reached.begin(), reached.end());
        }
        return best_root(combined);
    }

private:
    using Clock = std::chrono::steady_clock;

    static bool has_root(const std::vector<Node>& roots, std::size_t move) {
        return std::any_of(roots.begin(), roots.end(), [&](const Node& n) { return n.root == move; });
    }

    // Below the worst first move this future reached: where a move was lost in it.
    static double floor_of(const RootValues& values) {
        double low = std::numeric_limits<double>::infinity();
        for (const double v : values) {
            if (v != kMissing) low = std::min(low, v);
        }
        return low == std::numeric_limits<double>::infinity() ? 0.0 : low - kFiredBonus;
    }

    // Whether the first `count` futures each choose the same first move.
    static bool unanimous(const std::vector<RootValues>& per_queue, unsigned count) {
        const int first = best_root(per_queue[0]);
        for (unsigned q = 1; q < count; ++q) {
            if (best_root(per_queue[q]) != first) return false;
        }
        return true;
    }

    static int best_root(const RootValues& values) {
        int best = -1;
        for (std::size_t move = 0; move < kNumMoves; ++move) {
            if (values[move] == kMissing) continue;
            if (best < 0 || values[move] > values[static_cast<std::size_t>(best)]) best = static_cast<int>(move);
        }
        return best;
    }

    bool out_of_budget(std::uint64_t nodes) const {
        if (queue_budget_ != 0 && nodes >= queue_budget_) return true;
        if (config_.stop != nullptr && config_.stop->load(std::memory_order_relaxed)) return true;
        if (config_.time_budget_ms > 0) {
            const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - started_).count();
            if (elapsed >= config_.time_budget_ms) return true;
        }
        return false;
    }

    // Any chain may be fired on a level at or past last_turn, or on the game's last placement.
    bool any_chain_fires(unsigned level) const {
        const std::uint64_t at = turn_ + level;
        return at >= config_.last_turn || (config_.end_turn != ~std::uint64_t{0} && at + 1 >= config_.end_turn);
    }

    bool game_ends_within_horizon() const {
        return config_.end_turn != ~std::uint64_t{0} && turn_ + depth_ >= config_.end_turn;
    }

    // `value` of a chain fired (or held) on `level`: past the pairs the player sees, the `drawn`
    // share of it, discounted per drawn level.
    double on_drawn_pairs(double value, unsigned level) const {
        const unsigned drawn_levels = level > game_.visible() ? level - game_.visible() : 0;
        if (drawn_levels > 0) value *= weights_.drawn;
        for (unsigned i = 0; i < drawn_levels; ++i) value *= config_.discount;
        return value;
    }

    // The value of a chain of `score` fired on `level` from a position holding `parent`.
    double fired_value(std::uint32_t score, unsigned level, const BitField& parent) const {
        const double value = on_drawn_pairs(static_cast<double>(score), level);
        // When the game ends within the horizon, only the chains fired count, whenever they are fired.
        const bool any = any_chain_fires(level) || game_ends_within_horizon();
        const std::uint32_t threshold = any ? 1 : worth_firing(parent, config_.fire_score, weights_, near_top_);
        return score >= threshold ? value + kFiredBonus : value;
    }

    // A leaf whose potential chain is worth firing counts as that chain fired just past the
    // horizon (by `leaf_chain` of its score, discounted one level more): a future whose pairs
    // missed the trigger within the horizon says little against building on.
    double held_chain_value(const Node& leaf, unsigned levels) const {
        const EvalWeights& w = weights_;
        if (w.leaf_chain <= 0 || leaf.chain_score < worth_firing(leaf.field, config_.fire_score, w, near_top_)) return kMissing;
        return on_drawn_pairs(w.leaf_chain * static_cast<double>(leaf.chain_score), levels) + kFiredBonus;
    }

    // The cost a move pays on top of its child's evaluation: a split pair, puyos of a small chain.
    double move_cost(const BitField& parent, const Child& child) const {
        const EvalWeights& w = weights_;
        double cost = 0;
        const Hand hand = kAllHands[child.move];
        if (hand.rotation == Rotation::Left || hand.rotation == Rotation::Right) {
            const std::uint64_t side = hand.rotation == Rotation::Left ? hand.x - 1 : hand.x + 1;
            if (parent.get_height(hand.x) != parent.get_height(side)) cost += w.split;
        }
        if (child.chain > 0) {
            const double popped = static_cast<double>(parent.get_num_puyos() + 2) - static_cast<double>(child.field.get_num_puyos());
            cost += w.popped * popped;
        }
        return cost;
    }

    // The ojama still to come after a child fired `score` (offsetting what it can), with the fall
    // due on `level` placed on `field`; false when that fall ends the game.
    bool receive_ojama(BitField& field, std::uint32_t& incoming, std::uint32_t score, unsigned level) const {
        if (incoming == 0) return true;
        incoming -= std::min(incoming, score / std::max(1u, config_.target_points));
        if (level < config_.incoming_level || incoming == 0) return true;
        const std::uint32_t count = std::min(incoming, std::max(1u, config_.max_ojama_per_fall));
        incoming -= count;
        place_ojama(field, worst_case_shares(count));
        return !is_death_cell_occupied(field);
    }

    // The children of the current pair: quiet ones seed every future's beam, chains fired are
    // valued in `now` (the same in every future).
    std::uint64_t expand_roots(std::vector<Node>& roots, RootValues& now) const {
        Children children;
        const BitField& field = game_.field();
        expand(field, game_.current_pair(), children);
        for (std::size_t i = 0; i < children.count; ++i) {
            const Child& child = children.items[i];
            if (child.game_over) continue;
            if (child.chain > 0) now[child.move] = fired_value(child.score, 0, field);
            BitField after = child.field;
            std::uint32_t incoming = config_.incoming_ojama;
            if (!receive_ojama(after, incoming, child.score, 0)) continue;
            const Evaluation e = evaluation_of(after, max_added_, weights_);
            roots.push_back(Node{after, e.value - move_cost(field, child), field_hash(after), child.move, incoming, e.chain_score});
        }
        return children.count;
    }

    void keep_best(std::vector<Node>& level_nodes) const {
        const auto better = [](const Node& a, const Node& b) {
            if (a.value != b.value) return a.value > b.value;
            if (a.hash != b.hash) return a.hash < b.hash;
            return a.root < b.root;
        };
        // Equal fields reached by different moves: keep the first (the best-valued, lowest hash, lowest root).
        const std::size_t room = std::min<std::size_t>(level_nodes.size(), static_cast<std::size_t>(width_) * 2);
        std::partial_sort(level_nodes.begin(), level_nodes.begin() + static_cast<std::ptrdiff_t>(room), level_nodes.end(),
                          better);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < room && kept < width_; ++i) {
            if (kept > 0 && level_nodes[kept - 1].hash == level_nodes[i].hash) continue;
            level_nodes[kept++] = level_nodes[i];
        }
        level_nodes.resize(kept);
    }

    // A beam part-way down the tree: the positions of its last full level, the best chain fired
    // below each first move so far, and the children evaluated to get there.
    struct Frontier {
        std::vector<Node> beam;
        RootValues fired{};
        std::uint64_t nodes = 0;
        unsigned reached = 1;  // levels searched in full
        bool stopped = false;  // the budget or a stop request ended the search
    };

    // One level: every child of `pair` on the frontier's positions, the chains fired recorded,
    // the quiet ones evaluated and the best `width` kept.
    void search_level(Frontier& at, const GamePair& pair, unsigned level, EvalMemo& memo, std::vector<Node>& next) const {
        next.clear();
        Children children;
        for (const Node& node : at.beam) {
            if (out_of_budget(at.nodes)) {
                at.stopped = true;
                return;
            }
            expand(node.field, pair, children);
            for (std::size_t i = 0; i < children.count; ++i) {
                const Child& child = children.items[i];
                ++at.nodes;
                if (child.game_over) continue;
                if (child.chain > 0) {
                    double& best = at.fired[node.root];
                    best = std::max(best, fired_value(child.score, level, node.field));
                }
                BitField after = child.field;
                std::uint32_t incoming = node.incoming;
                if (!receive_ojama(after, incoming, child.score, level)) continue;
                const std::uint64_t hash = field_hash(after);
                const Evaluation e = memo.value(hash, [&] { return evaluation_of(after, max_added_, weights_); });
                next.push_back(Node{after, e.value - move_cost(node.field, child), hash, node.root, incoming, e.chain_score});
            }
        }
        if (next.empty()) {
            at.stopped = true;
            return;
        }
        keep_best(next);
        at.beam.swap(next);
        at.reached = level + 1;
    }

    std::vector<Node> level_buffer() const {
        std::vector<Node> next;
        next.reserve(static_cast<std::size_t>(std::min(width_, 4096u)) * kNumMoves);
        return next;
    }

    // The beam over the pairs the player can see: the same in every future, so searched once.
    Frontier search_known_pairs(const std::vector<Node>& roots, const RootValues& now) const {
        Frontier at{roots, now};
        keep_best(at.beam);
        EvalMemo memo;
        std::vector<Node> next = level_buffer();
        for (unsigned level = 1; level < depth_ && level <= game_.visible() && !at.stopped; ++level) {
            search_level(at, game_.next_pair(level - 1), level, memo, next);
        }
        return at;
    }

    // One future: from the beam over the known pairs, on over pairs drawn for future `q`.
    // Returns each first move's value in it, and the children it evaluated past the known pairs.
    RootValues search_future(unsigned q, const Frontier& known, std::uint64_t& nodes, unsigned& reached) const {
        Frontier at = known;  // the future's budget counts the known pairs' children, as if it had searched them
        RootValues leaf{};
        leaf.fill(kMissing);
        SplitMix64 sampler(derive_seed(derive_seed(config_.seed, turn_), q));
        const auto colors = game_.sequence().colors();
        const auto draw_color = [&] {
            return colors.empty() ? kGameColors[sampler.below(4)] : colors[sampler.below(colors.size())];
        };
        const std::vector<GamePair> cycle = config_.fixed_queues ? mixed_pair_cycle(colors) : std::vector<GamePair>{};
        const auto future_pair = [&](unsigned level) {
            if (cycle.empty()) return GamePair{draw_color(), draw_color()};
            const std::size_t start = q * cycle.size() / queues_;
            return cycle[(start + level - game_.visible() - 1) % cycle.size()];
        };
        EvalMemo memo;
        std::vector<Node> next = level_buffer();
        for (unsigned level = at.reached; level < depth_ && !at.stopped; ++level) {
            search_level(at, future_pair(level), level, memo, next);
        }
        nodes = at.nodes - known.nodes;
        reached = at.reached;
        // The last full level's leaves: their evaluation stands for what the move builds.
        const double ended = game_ends_within_horizon() ? kEndedLeafCost : 0.0;
        for (const Node& node : at.beam) {
            leaf[node.root] = std::max(leaf[node.root], node.value - ended);
            if (ended == 0) at.fired[node.root] = std::max(at.fired[node.root], held_chain_value(node, at.reached));
        }
        RootValues values{};
        for (std::size_t move = 0; move < kNumMoves; ++move) values[move] = std::max(at.fired[move], leaf[move]);
        return values;
    }

    const Game& game_;
    const BeamConfig& config_;
    EvalWeights weights_;  // the configuration's, with the match's spawn costs in a match
    Clock::time_point started_;
    unsigned width_;
    unsigned max_added_;
    std::uint64_t turn_;
    unsigned depth_ = 1;
    unsigned queues_ = 1;
    unsigned settle_ = 0;
    std::uint64_t queue_budget_ = 0;
    bool near_top_ = false;  // the field moved from is near the top: any chain is worth firing
};

}  // namespace

int beam_search_move(const Game& game, const BeamConfig& config, BeamStats* stats) {
    return Search(game, config).choose(stats);
}

}  // namespace velmo

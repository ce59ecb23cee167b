#include "legacy_beam_search.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

#include "search.hpp"

namespace velmo {
namespace {

// Added to the value of a path that fired a chain it may fire: such a path beats every quiet one.
constexpr double kFiredBonus = 1e7;
// Taken from the value of a position reached by firing a chain too small to be worth it: the
// material is lost, but a move that clears a blocked column must stay open to the search.
constexpr double kSmallFireCost = 15000;

struct Node {
    BitField field;
    double value;
    std::uint64_t hash;
    std::uint32_t fired;  // the score of the chain this path ended with; 0: still quiet
    std::uint8_t root;
};



// Same-coloured neighbours in the connection region, counted once per link.
unsigned count_links(const BitField& field) {
    const BitPlanes& p = field.bit_planes();
    unsigned links = 0;
    for (const BitPuyoType color : kGameColors) {
        const u128 cells = cells_of_color(p, color);
        links += popcount128(cells & (cells >> 1)) + popcount128(cells & (cells >> 16));
    }
    return links;
}

// The height profile the builder aims at, relative to the mean height: high at the edges, low in
// the middle, the spawn column (3) lowest, so the chain's stairs have walls and the pair room.
constexpr double kProfile[kFieldWidth] = {0, 2.0, 0.5, -1.5, -1.0, 0.0, 2.0, 0};
constexpr double kProfileWeight = 150;

// The smallest score worth firing on `field` (before the fire).
std::uint32_t worth_firing(const BitField& field, std::uint32_t fire_score) {
    // Close to the top the biggest chain in reach beats losing the game.
    if (field.get_height(kDeathColumn) >= 11 || field.get_height(kDeathColumn + 1) >= 12) return 1;
    const std::uint64_t puyos = field.get_num_puyos();
    if (puyos <= kCrowdedPuyos) return fire_score;
    if (puyos >= kFullPuyos) return 1;
    return static_cast<std::uint32_t>(static_cast<double>(fire_score) * static_cast<double>(kFullPuyos - puyos) /
                                      static_cast<double>(kFullPuyos - kCrowdedPuyos));
}

}  // namespace

double legacy_evaluate_position(const BitField& field, unsigned max_added) {
    double value = 0;
    if (const auto best = best_potential_chain(field, max_added)) {
        value += best->score + 300.0 * best->chain * best->chain - 200.0 * best->added;
    }
    value += 40.0 * count_links(field);
    double heights[kFieldWidth]{};
    double mean = 0;
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        heights[x] = static_cast<double>(field.get_height(x));
        mean += heights[x];
    }
    mean /= static_cast<double>(kLastPlayableColumn);
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
        const double off = heights[x] - mean - kProfile[x];
        value -= kProfileWeight * off * off;
    }
    for (std::uint64_t x = kFirstPlayableColumn; x < kLastPlayableColumn; ++x) {
        const double step = heights[x] - heights[x + 1];
        if (step > 2 || step < -2) value -= 60.0 * (step * step - 4);
    }
    // The spawn column and its neighbours must stay low: past 10 the pair has no room.
    if (heights[kDeathColumn] > 8) value -= 10000.0 * (heights[kDeathColumn] - 8) * (heights[kDeathColumn] - 8);
    for (const std::uint64_t x : {kDeathColumn - 1, kDeathColumn + 1}) {
        if (heights[x] > 9) value -= 5000.0 * (heights[x] - 9) * (heights[x] - 9);
    }
    // Cells in the 13th and 14th rows cannot join a group and block the columns they sit on.
    const BitPlanes& p = field.bit_planes();
    value -= 800.0 * popcount128((p.p0 | p.p2) & bit_layout::lanes(0, 0x6000));
    return value;
}

int legacy_beam_search_move(const Game& game, const BeamConfig& config, BeamStats* stats) {
    const MoveMask legal = game.legal_moves();
    if (legal == 0) return -1;
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    const auto out_of_budget = [&](std::uint64_t nodes) {
        if (config.node_budget != 0 && nodes >= config.node_budget) return true;
        if (config.time_budget_ms > 0) {
            const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
            if (elapsed >= config.time_budget_ms) return true;
        }
        return false;
    };

    const unsigned width = std::max(1u, config.width);
    const std::uint64_t turn = game.turn();
    // The levels searched: no placement at or past the game's end.
    unsigned depth = std::max(1u, config.depth);
    if (config.end_turn > turn && config.end_turn - turn < depth) depth = static_cast<unsigned>(config.end_turn - turn);
    const unsigned max_added = std::clamp(config.max_added, 1u, kMaxAddedPuyos);
    SplitMix64 sampler(derive_seed(config.seed, turn));
    const auto colors = game.sequence().colors();
    const auto draw_color = [&] {
        return colors.empty() ? kGameColors[sampler.below(4)] : colors[sampler.below(colors.size())];
    };
    // Any chain may be fired on a level at or past last_turn, or on the game's last placement.
    const auto any_chain_fires = [&](unsigned level) {
        const std::uint64_t at = turn + level;
        return at >= config.last_turn || (config.end_turn != ~std::uint64_t{0} && at + 1 >= config.end_turn);
    };

    std::uint64_t nodes = 0;
    Children children;
    // The first move: its own fire, and the quiet children that seed the beam.
    int best_fire_move = -1;
    std::uint32_t best_fire_score = 0;
    std::vector<Node> beam, next;
    // Room for the usual widths up front; a very wide beam grows as it fills.
    const std::size_t level_room = static_cast<std::size_t>(std::min(width, 4096u)) * kNumMoves;
    beam.reserve(level_room);
    next.reserve(level_room);
    const BitField& now = game.field();
    expand(now, game.current_pair(), children);
    for (std::size_t i = 0; i < children.count; ++i) {
        const Child& child = children.items[i];
        ++nodes;
        if (child.game_over) continue;
        double value = legacy_evaluate_position(child.field, max_added);
        if (child.chain > 0) {
            if (child.score > best_fire_score) best_fire_score = child.score, best_fire_move = child.move;
            value -= kSmallFireCost;
        }
        beam.push_back(Node{child.field, value, field_hash(child.field), 0, child.move});
    }
    const bool fire_now = best_fire_move >= 0 && (best_fire_score >= worth_firing(now, config.fire_score) || beam.empty() ||
                                                  any_chain_fires(0));
    if (stats != nullptr) stats->depth_reached = 1;
    if (fire_now) {
        if (stats != nullptr) stats->nodes = nodes;
        return best_fire_move;
    }
    if (beam.empty()) return __builtin_ctz(legal);  // every move loses: take the first

    const auto keep_best = [&](std::vector<Node>& nodes_at_level) {
        const auto better = [](const Node& a, const Node& b) {
            if (a.value != b.value) return a.value > b.value;
            if (a.hash != b.hash) return a.hash < b.hash;
            return a.root < b.root;
        };
        // Equal fields reached by different moves: keep the first (the best-valued, lowest hash, lowest root).
        const std::size_t room = std::min<std::size_t>(nodes_at_level.size(), static_cast<std::size_t>(width) * 2);
        std::partial_sort(nodes_at_level.begin(), nodes_at_level.begin() + static_cast<std::ptrdiff_t>(room),
                          nodes_at_level.end(), better);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < room && kept < width; ++i) {
            if (kept > 0 && nodes_at_level[kept - 1].hash == nodes_at_level[i].hash) continue;
            nodes_at_level[kept++] = nodes_at_level[i];
        }
        nodes_at_level.resize(kept);
    };
    keep_best(beam);

    for (unsigned level = 1; level < depth && !out_of_budget(nodes); ++level) {
        const GamePair pair = level <= game.visible() ? game.next_pair(level - 1) : GamePair{draw_color(), draw_color()};
        const bool fire_any = any_chain_fires(level);
        next.clear();
        bool stopped = false;
        for (const Node& node : beam) {
            if (node.fired != 0) {
                next.push_back(node);  // a path that fired is done
                continue;
            }
            if (out_of_budget(nodes)) {
                stopped = true;
                break;
            }
            expand(node.field, pair, children);
            const std::uint32_t threshold = fire_any ? 1 : worth_firing(node.field, config.fire_score);
            for (std::size_t i = 0; i < children.count; ++i) {
                const Child& child = children.items[i];
                ++nodes;
                if (child.game_over) continue;
                if (child.chain > 0 && child.score >= threshold) {
                    next.push_back(Node{child.field, kFiredBonus + child.score, field_hash(child.field), child.score, node.root});
                    continue;
                }
                const double value = legacy_evaluate_position(child.field, max_added) - (child.chain > 0 ? kSmallFireCost : 0.0);
                next.push_back(Node{child.field, value, field_hash(child.field), 0, node.root});
            }
        }
        if (next.empty() || stopped) break;
        keep_best(next);
        beam.swap(next);
        if (stats != nullptr) stats->depth_reached = level + 1;
    }
    if (stats != nullptr) stats->nodes = nodes;
    // On the game's last placements a path that cannot fire any more is worth nothing: fire now.
    if (beam.front().fired == 0 && best_fire_move >= 0 && config.end_turn != ~std::uint64_t{0} && turn + depth >= config.end_turn) {
        return best_fire_move;
    }
    return beam.front().root;
}

}  // namespace velmo

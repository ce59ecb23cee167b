#include "beam_search.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

#include "search.hpp"

namespace velmo {
namespace {

// Puyos on the field (of 78 cells) from which the player takes any chain it can fire.
constexpr std::uint64_t kDangerPuyos = 60;

struct Node {
    BitField field;
    double value;
    std::uint64_t hash;
    std::uint8_t root;
};

// Same-coloured neighbours in the connection region, counted once per link.
unsigned count_links(const BitField& field) {
    const BitPlanes& p = field.bit_planes();
    unsigned links = 0;
    for (const BitPuyoType color : kGameColors) {
        const unsigned code = bit_code(color);
        const u128 cells = ((code & 1) != 0 ? p.p0 : ~p.p0) & ((code & 2) != 0 ? p.p1 : ~p.p1) & p.p2 & bit_layout::kConnectionRegion;
        const u128 vertical = cells & (cells >> 1);
        const u128 horizontal = cells & (cells >> 16);
        links += static_cast<unsigned>(__builtin_popcountll(low64(vertical)) + __builtin_popcountll(high64(vertical)) +
                                       __builtin_popcountll(low64(horizontal)) + __builtin_popcountll(high64(horizontal)));
    }
    return links;
}

}  // namespace

double evaluate_position(const BitField& field) {
    double value = 0;
    if (const auto best = best_potential_chain(field, 2)) value += best->score + 300.0 * best->chain * best->chain;
    value += 40.0 * count_links(field);
    std::uint64_t heights[kFieldWidth]{};
    for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) heights[x] = field.get_height(x);
    for (std::uint64_t x = kFirstPlayableColumn; x < kLastPlayableColumn; ++x) {
        const double step = static_cast<double>(heights[x]) - static_cast<double>(heights[x + 1]);
        value -= 25.0 * step * step;
    }
    // The spawn column and its neighbours must stay low: past 10 the pair has no room.
    for (const std::uint64_t x : {kDeathColumn, kDeathColumn + 1}) {
        if (heights[x] > 9) value -= 4000.0 * static_cast<double>(heights[x] - 9);
    }
    // Cells in the 13th and 14th rows cannot join a group and block the columns they sit on.
    const BitPlanes& p = field.bit_planes();
    const u128 hidden = (p.p0 | p.p2) & bit_layout::lanes(0, 0x6000);
    value -= 800.0 * (__builtin_popcountll(low64(hidden)) + __builtin_popcountll(high64(hidden)));
    return value;
}

int beam_search_move(const Game& game, const BeamConfig& config, BeamStats* stats) {
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
    const unsigned depth = std::max(1u, config.depth);
    SplitMix64 sampler(derive_seed(config.seed, game.turn()));
    const auto colors = game.sequence().colors();
    const auto draw_color = [&] {
        return colors.empty() ? kGameColors[sampler.below(4)] : colors[sampler.below(colors.size())];
    };

    std::uint64_t nodes = 0;
    Children children;
    // The first move: its own fire, and the quiet children that seed the beam.
    int best_fire_move = -1;
    std::uint32_t best_fire_score = 0;
    std::vector<Node> beam, next;
    beam.reserve(static_cast<std::size_t>(width) * kNumMoves);
    next.reserve(static_cast<std::size_t>(width) * kNumMoves);
    expand(game.field(), game.current_pair(), children);
    for (std::size_t i = 0; i < children.count; ++i) {
        const Child& child = children.items[i];
        ++nodes;
        if (child.game_over) continue;
        if (child.chain > 0) {
            if (child.score > best_fire_score) best_fire_score = child.score, best_fire_move = child.move;
            continue;
        }
        beam.push_back(Node{child.field, evaluate_position(child.field), field_hash(child.field), child.move});
    }
    // Close to the top the biggest chain at hand beats losing the game.
    const BitField& now = game.field();
    const bool in_danger = now.get_height(kDeathColumn) >= 9 || now.get_height(kDeathColumn + 1) >= 10 ||
                           now.get_num_puyos() >= kDangerPuyos;
    const bool must_fire = beam.empty() || in_danger;
    const bool fire_now = best_fire_move >= 0 &&
                          (best_fire_score >= config.fire_score || must_fire || game.turn() >= config.last_turn);
    if (stats != nullptr) stats->depth_reached = 1;
    if (fire_now) {
        if (stats != nullptr) stats->nodes = nodes;
        return best_fire_move;
    }
    if (beam.empty()) return __builtin_ctz(legal);  // every move loses: take the first

    const auto keep_best = [&](std::vector<Node>& nodes_at_level) {
        std::sort(nodes_at_level.begin(), nodes_at_level.end(), [](const Node& a, const Node& b) {
            if (a.value != b.value) return a.value > b.value;
            if (a.hash != b.hash) return a.hash < b.hash;
            return a.root < b.root;
        });
        // Equal fields reached by different moves: keep the first (the best-valued, lowest hash, lowest root).
        std::size_t kept = 0;
        for (std::size_t i = 0; i < nodes_at_level.size() && kept < width; ++i) {
            if (kept > 0 && nodes_at_level[kept - 1].hash == nodes_at_level[i].hash) continue;
            nodes_at_level[kept++] = nodes_at_level[i];
        }
        nodes_at_level.resize(kept);
    };
    keep_best(beam);

    for (unsigned level = 1; level < depth && !out_of_budget(nodes); ++level) {
        const GamePair pair = level <= game.visible() ? game.next_pair(level - 1) : GamePair{draw_color(), draw_color()};
        next.clear();
        bool stopped = false;
        for (const Node& node : beam) {
            if (out_of_budget(nodes)) {
                stopped = true;
                break;
            }
            expand(node.field, pair, children);
            for (std::size_t i = 0; i < children.count; ++i) {
                const Child& child = children.items[i];
                ++nodes;
                if (child.game_over) continue;
                // A chain fired later is worth its score to the first move that leads there, when it is
                // worth firing at all; a small one only wastes material.
                if (child.chain > 0 && child.score < config.fire_score) continue;
                const double value = child.chain > 0 ? static_cast<double>(child.score) : evaluate_position(child.field);
                next.push_back(Node{child.field, value, field_hash(child.field), node.root});
            }
        }
        if (next.empty() || stopped) break;
        keep_best(next);
        beam.swap(next);
        if (stats != nullptr) stats->depth_reached = level + 1;
    }
    if (stats != nullptr) stats->nodes = nodes;
    return beam.front().root;
}

}  // namespace velmo

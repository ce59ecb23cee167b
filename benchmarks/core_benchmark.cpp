// Core benchmark of the bit field: every processor path of this build and machine side by side in
// one run. Build with -DVELMO_BUILD_BENCHMARKS=ON (see docs/performance.md) and run
//
//   velmo_core_benchmark [BATCHES [FIELDS]]          every path, each beside the run's fastest
//   velmo_core_benchmark --raw [BATCHES [FIELDS]]    the same figures, one "row|path|ns" line each
//   velmo_core_benchmark --compare OTHER [ROUNDS [BATCHES [FIELDS]]]
//                                                    this build against OTHER (another build of this
//                                                    benchmark, e.g. on an older core), alternately
//
// FIELDS, the number of random fields, defaults to 4096. Each figure is the best of several timed
// batches, in nanoseconds per call and in processor cycles of the clock that a dependent-add chain
// measures in the same run.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "chain/chain.hpp"
#include "field/bit_field.hpp"
#include "field/bit_kernels.hpp"
#include "field/cpu_path.hpp"
#include "field/field.hpp"
#include "hand.hpp"
#include "pair.hpp"

using namespace velmo;

namespace {

using Clock = std::chrono::steady_clock;

volatile std::uint64_t g_sink = 0;
int g_batches = 15;
// The 19-chain figures are timed in short batches, many of them: on a loaded machine a batch of
// 20,000 calls (about 10 ms) is rarely left alone to the end, while batches of 2,000 give a
// steady best. kChainBatchFactor times the batches of the other figures.
constexpr int kChainCallsPerBatch = 2000;
constexpr int kChainBatchFactor = 8;
// Enough distinct random fields that the branch predictor cannot learn the set: on 256 fields
// the random-field figures come out markedly too fast (see docs/performance.md).
std::size_t g_random_fields = 4096;

// Rounds for a figure over the random fields: `at_4096` rounds of 4,096 fields, the same number
// of calls for another count.
int rounds_for(int at_4096) {
    return std::max(1, static_cast<int>(static_cast<std::size_t>(at_4096) * 4096 / g_random_fields));
}

// Nanoseconds per processor cycle over a short stretch: a chain of dependent additions runs at
// one per cycle.
double ns_per_cycle_now() {
    constexpr int kAdds = 64, kRounds = 2000;
    std::uint64_t x = g_sink;
    const auto start = Clock::now();
    for (int r = 0; r < kRounds; ++r) {
        for (int i = 0; i < kAdds; ++i) {
            x += 1;
            __asm__ volatile("" : "+r"(x));  // keeps each addition and its order
        }
    }
    const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
    g_sink = x;
    return elapsed.count() / (kAdds * kRounds);
}

struct Timing {
    double ns;      // best batch, nanoseconds per call
    double cycles;  // the same in cycles of the fastest clock measured in the run
};

// Best of the timed batches of `action(kernels)` on every path (each round performs
// `calls_per_round` calls), in nanoseconds per call. The paths take turns batch by batch, so a
// change in the machine's load or clock touches all of them alike and their ratios hold.
template <class F>
std::vector<Timing> best_of(int rounds, int calls_per_round, F&& action, int batches = g_batches) {
    const auto paths = supported_cpu_paths();
    std::vector<Timing> best(paths.size(), Timing{1e300, 0});
    for (const CpuPath path : paths) {  // warm up
        (void)force_cpu_path(path);
        for (int i = 0; i < rounds / 4 + 1; ++i) action(bit_kernels::active_kernels());
    }
    for (int batch = 0; batch < batches; ++batch) {
        for (std::size_t p = 0; p < paths.size(); ++p) {
            (void)force_cpu_path(paths[p]);
            const auto& kernels = bit_kernels::active_kernels();
            const auto start = Clock::now();
            for (int i = 0; i < rounds; ++i) action(kernels);
            const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
            best[p].ns = std::min(best[p].ns, elapsed.count() / (static_cast<double>(rounds) * calls_per_round));
        }
    }
    return best;
}

double ns_per_cycle() {
    double best = 1e300;
    for (int i = 0; i < 200; ++i) best = std::min(best, ns_per_cycle_now());
    return best;
}

BitField field_from_rows(std::initializer_list<std::string_view> rows) {
    std::vector<std::string> text;
    for (const std::string_view row : rows) {
        std::string line(row);
        std::replace(line.begin(), line.end(), '.', '_');
        text.push_back(line);
    }
    const std::vector<std::string_view> list(text.begin(), text.end());
    return unwrap(from_str_array<BitField>(list));
}

// Two settled 19-chain fields (rows from the top, 13 rows).
BitField first_19_chain() {
    return field_from_rows({".G.BRG", "GBRRYR", "RRYYBY", "RGYRBR", "YGYRBY", "YGBGYR", "GRBGYR", "BRBYBY", "RYYBYY",
                            "BRBYBR", "BGBYRR", "YGBGBG", "RBGBGG"});
}
BitField second_19_chain() {
    return field_from_rows({"B.YRGY", "BBBYRB", "GBYRGG", "BGYRGB", "GRGYRB", "RGYRYB", "GRGYRY", "GRGYRY", "GBBGYG",
                            "BYRBGG", "GBYRBY", "GBYRBY", "GBYRBY"});
}

// Seeded random mid-game fields: column heights 3 to 12, RED/BLUE/YELLOW/GREEN uniform with about
// 3% OJAMA, each holding at least one group that vanishes.
std::vector<BitField> random_fields(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    constexpr BitPuyoType kColors[4] = {BitPuyoType::Red, BitPuyoType::Blue, BitPuyoType::Yellow, BitPuyoType::Green};
    std::vector<BitField> fields;
    while (fields.size() < count) {
        BitField field;
        for (std::uint64_t x = kFirstPlayableColumn; x <= kLastPlayableColumn; ++x) {
            const std::uint64_t height = 3 + random() % 10;
            for (std::uint64_t r = 0; r < height; ++r) {
                const BitPuyoType t = random() % 100 < 3 ? BitPuyoType::Ojama : kColors[random() % 4];
                field.set(x, kBottomPlayableRow - r, t);
            }
        }
        BitField probe = field;
        if (bit_kernels::active_kernels().vanish(const_cast<BitPlanes&>(probe.bit_planes()), nullptr)) fields.push_back(field);
    }
    return fields;
}

// The trial fields of the chain search: each colour group touching an empty cell, removed.
std::vector<BitField> removal_trials(const BitField& field) {
    const auto [p0, p1, p2] = field.planes();
    constexpr u128 kNotTop = bit_layout::kLaneNotTopBit, kNotBottom = bit_layout::kLaneNotBottomBit;
    const auto up = [&](u128 v) { return (v >> 1) & kNotTop; };
    const auto down = [&](u128 v) { return (v << 1) & kNotBottom; };
    const auto around = [&](u128 v) { return v | up(v) | down(v) | (v << 16) | (v >> 16); };
    const u128 empty = ~(p0 | p1 | p2);
    u128 candidates = p2 & (up(empty) | down(empty) | (empty << 16) | (empty >> 16));
    std::vector<BitField> trials;
    while (candidates != 0) {
        const std::uint64_t high = high64(candidates), low = low64(candidates);
        const u128 seed = high != 0 ? u128{high & (~high + 1)} << 64 : u128{low & (~low + 1)};
        const u128 same = ((p0 & seed) != 0 ? p0 : ~p0) & ((p1 & seed) != 0 ? p1 : ~p1) & p2;
        u128 group = seed;
        for (u128 next = same & around(group); next != group; next = same & around(group)) group = next;
        candidates &= ~group;
        trials.push_back(BitField::from_planes(p0 & ~group, p1 & ~group, p2 & ~group));
    }
    return trials;
}

struct Row {
    std::string name;
    std::vector<Timing> t;  // per path
};

// --- two builds, alternately ---------------------------------------------------------------------

// ((row, path), ns per call) in the order of the --raw output of one run.
using FigureKey = std::pair<std::string, std::string>;
using RawFigures = std::vector<std::pair<FigureKey, double>>;

// Runs `command` and reads its "row|path|ns" lines; empty when it fails.
RawFigures run_raw(const std::string& command) {
    RawFigures figures;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return figures;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const std::string text(line);
        const std::size_t first = text.find('|');
        const std::size_t second = first == std::string::npos ? first : text.find('|', first + 1);
        if (second == std::string::npos) continue;
        figures.push_back({{text.substr(0, first), text.substr(first + 1, second - first - 1)}, std::atof(text.c_str() + second + 1)});
    }
    if (pclose(pipe) != 0) figures.clear();
    return figures;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Times this build and `other` in alternating runs (ABBA order, so neither always runs first
// after the other) and prints, per figure and path, both builds' best and median run and their
// ratios: this build / the other. A change's gain is the ratio, measured under the same load.
int compare(const std::string& self, const std::string& other, int rounds, const std::string& arguments) {
    std::map<FigureKey, std::vector<double>> mine, theirs;
    std::vector<FigureKey> order;  // first appearance, for printing
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool self_turn = (turn == 0) == (round % 2 == 0);
            const std::string& binary = self_turn ? self : other;
            const RawFigures figures = run_raw("'" + binary + "' --raw " + arguments);
            if (figures.empty()) {
                std::fprintf(stderr, "velmo_core_benchmark: '%s --raw %s' failed\n", binary.c_str(), arguments.c_str());
                return 1;
            }
            for (const auto& [key, ns] : figures) {
                if (!mine.contains(key) && !theirs.contains(key)) order.push_back(key);
                (self_turn ? mine : theirs)[key].push_back(ns);
            }
        }
    }
    // Grouped by path, the figures in the benchmark's order.
    std::stable_sort(order.begin(), order.end(), [](const FigureKey& a, const FigureKey& b) { return a.second < b.second; });
    std::printf("this build: %s\nother build: %s\n%d alternating rounds of each (arguments: %s)\n\n", self.c_str(), other.c_str(), rounds,
                arguments.c_str());
    std::printf("%-40s %-10s %12s %12s %9s %13s\n", "ns per call", "path", "this (best)", "other (best)", "ratio", "ratio (median)");
    for (const auto& key : order) {
        if (!mine.contains(key) || !theirs.contains(key)) continue;  // a path or figure one build lacks
        const std::vector<double>& a = mine[key];
        const std::vector<double>& b = theirs[key];
        const double best_a = *std::min_element(a.begin(), a.end()), best_b = *std::min_element(b.begin(), b.end());
        std::printf("%-40s %-10s %12.1f %12.1f %8.3fx %12.3fx\n", key.first.c_str(), key.second.c_str(), best_a, best_b, best_a / best_b,
                    median(a) / median(b));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--compare") {
        if (args.size() < 2) {
            std::fprintf(stderr, "usage: velmo_core_benchmark --compare OTHER [ROUNDS [BATCHES [FIELDS]]]\n");
            return 2;
        }
        const int rounds = args.size() > 2 ? std::max(1, std::atoi(args[2].c_str())) : 6;
        std::string rest = args.size() > 3 ? args[3] : "5";
        if (args.size() > 4) rest += " " + args[4];
        return compare(argv[0], args[1], rounds, rest);
    }
    const bool raw = !args.empty() && args[0] == "--raw";
    if (raw) args.erase(args.begin());
    if (!args.empty()) g_batches = std::max(3, std::atoi(args[0].c_str()));
    if (args.size() > 1) g_random_fields = static_cast<std::size_t>(std::max(16, std::atoi(args[1].c_str())));
    const BitField chains[2] = {first_19_chain(), second_19_chain()};
    const std::vector<BitField> fields = random_fields(g_random_fields, 2024);
    std::vector<BitField> vanished = fields;  // after one vanish: the holes that drop closes
    for (BitField& f : vanished) f.vanish(nullptr);

    if (!raw) {
        std::printf("velmo core benchmark; best of %d batches (19-chains: %d batches of %d calls); %zu random fields; paths:", g_batches,
                    g_batches * kChainBatchFactor, kChainCallsPerBatch, fields.size());
        for (const CpuPath path : supported_cpu_paths()) std::printf(" %s", std::string(to_text(path)).c_str());
        std::printf("\n");
        for (const BitField& start : chains) {
            BitField copy = start;
            const ChainResult result = velmo::chain(copy);
            std::printf("19-chain field: chain %u, score %u\n", result.chain, result.score);
        }
    }

    double cycle = ns_per_cycle();

    std::vector<Row> rows;
    const auto paths = supported_cpu_paths();
    const auto add = [&](const std::string& name, std::vector<Timing> t) { rows.push_back(Row{name, std::move(t)}); };

    // The search against the sum of its trials' chains, per path.
    std::vector<std::vector<BitField>> trials;
    std::size_t num_trials = 0;
    for (const BitField& f : fields) {
        trials.push_back(removal_trials(f));
        num_trials += trials.back().size();
    }

    using Kernels = bit_kernels::KernelTable;
    const auto n = static_cast<int>(fields.size());
    const char* chain_names[2] = {"chain 19 (first), ChainResult", "chain 19 (second), ChainResult"};
    const char* kernel_names[2] = {"chain 19 (first), kernel only", "chain 19 (second), kernel only"};
    for (int c = 0; c < 2; ++c) {
        const BitField start = chains[c];
        add(chain_names[c], best_of(
                                kChainCallsPerBatch, 1,
                                [&](const Kernels&) {
                                    BitField field = start;
                                    g_sink = g_sink + velmo::chain(field).score;
                                },
                                g_batches * kChainBatchFactor));
        add(kernel_names[c], best_of(
                                 kChainCallsPerBatch, 1,
                                 [&](const Kernels& kernels) {
                                     BitPlanes planes = start.bit_planes();
                                     ChainResult tally;
                                     kernels.chain(planes, tally);
                                     g_sink = g_sink + tally.score;
                                 },
                                 g_batches * kChainBatchFactor));
    }
    add("vanish+drop (random fields)", best_of(rounds_for(12), n, [&](const Kernels& kernels) {
            for (const BitField& f : fields) {
                BitPlanes planes = f.bit_planes();
                kernels.vanish(planes, nullptr);
                kernels.drop(planes);
                g_sink = g_sink + low64(planes.p2);
            }
        }));
    add("vanish (random fields)", best_of(rounds_for(12), n, [&](const Kernels& kernels) {
            for (const BitField& f : fields) {
                BitPlanes planes = f.bit_planes();
                kernels.vanish(planes, nullptr);
                g_sink = g_sink + low64(planes.p2);
            }
        }));
    add("drop (random fields after vanish)", best_of(rounds_for(12), n, [&](const Kernels& kernels) {
            for (const BitField& f : vanished) {
                BitPlanes planes = f.bit_planes();
                kernels.drop(planes);
                g_sink = g_sink + low64(planes.p2);
            }
        }));
    add("chain (random fields), kernel only", best_of(rounds_for(3), n, [&](const Kernels& kernels) {
            for (const BitField& f : fields) {
                BitPlanes planes = f.bit_planes();
                ChainResult tally;
                kernels.chain(planes, tally);
                g_sink = g_sink + tally.score;
            }
        }));
    const std::vector<Timing> search = best_of(rounds_for(1), n, [&](const Kernels&) {
        for (const BitField& f : fields) g_sink = g_sink + f.find_chain_by_removal().size();
    });
    add("find_chain_by_removal (random fields)", search);
    const std::vector<Timing> trial_chains = best_of(rounds_for(1), n, [&](const Kernels& kernels) {
        for (const auto& list : trials) {
            for (const BitField& t : list) {
                BitPlanes planes = t.bit_planes();
                ChainResult tally;
                kernels.chain(planes, tally);
                g_sink = g_sink + tally.score;
            }
        }
    });
    add("  its trials' chains, summed", trial_chains);
    const Pair<BitPuyoType> pair{{BitPuyoType::Red, BitPuyoType::Blue}};
    add("put_pair (22 hands, random fields)", best_of(rounds_for(2), n * 22, [&](const Kernels&) {
            for (const BitField& f : fields) {
                for (const Hand& hand : kAllHands) {
                    BitField field = f;
                    g_sink = g_sink + put_hand(field, hand, pair).ok() + low64(field.bit_planes().p2);
                }
            }
        }));
    (void)force_cpu_path(paths.back());

    if (raw) {
        for (const Row& row : rows) {
            for (std::size_t p = 0; p < paths.size(); ++p) std::printf("%s|%s|%.3f\n", row.name.c_str(), std::string(to_text(paths[p])).c_str(), row.t[p].ns);
        }
        return 0;
    }
    cycle = std::min(cycle, ns_per_cycle());
    std::printf("in-run clock: dependent-add chain %.3f ns per cycle (%.2f GHz)\n", cycle, 1.0 / cycle);
    std::printf("each path: ns per call (cycles) and its ratio to the row's fastest path, all timed in this run\n\n");
    std::printf("%-40s", "");
    for (const CpuPath path : paths) std::printf("  %24s", std::string(to_text(path)).c_str());
    std::printf("\n");
    for (const Row& row : rows) {
        std::printf("%-40s", row.name.c_str());
        double fastest = 1e300;
        for (const Timing& t : row.t) fastest = std::min(fastest, t.ns);
        for (const Timing& t : row.t) {
            char cell[64];
            std::snprintf(cell, sizeof cell, "%.1f (%.0f) %.2fx", t.ns, t.ns / cycle, t.ns / fastest);
            std::printf("  %24s", cell);
        }
        std::printf("\n");
    }
    std::printf("\nchain search: %zu trials on %zu fields (%.1f per field); search / summed trial chains:", num_trials, fields.size(),
                static_cast<double>(num_trials) / static_cast<double>(fields.size()));
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf(" %s %.2fx", std::string(to_text(paths[p])).c_str(), search[p].ns / trial_chains[p].ns);
    }
    std::printf("\n");
    return 0;
}

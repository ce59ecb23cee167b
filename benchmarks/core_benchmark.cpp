// Core benchmark of the bit field: every processor path of this build and machine side by side in
// one run. Build with -DVELMO_BUILD_BENCHMARKS=ON and run velmo_core_benchmark [BATCHES [FIELDS]]
// (see docs/performance.md; FIELDS, the number of random fields, defaults to 4096). Each figure
// is the best of several timed batches, in nanoseconds per call
// and in processor cycles of the clock that a dependent-add chain measures in the same run.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
std::vector<Timing> best_of(int rounds, int calls_per_round, F&& action) {
    const auto paths = supported_cpu_paths();
    std::vector<Timing> best(paths.size(), Timing{1e300, 0});
    for (const CpuPath path : paths) {  // warm up
        (void)force_cpu_path(path);
        for (int i = 0; i < rounds / 4 + 1; ++i) action(bit_kernels::active_kernels());
    }
    for (int batch = 0; batch < g_batches; ++batch) {
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

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_batches = std::max(3, std::atoi(argv[1]));
    if (argc > 2) g_random_fields = static_cast<std::size_t>(std::max(16, std::atoi(argv[2])));
    const BitField chains[2] = {first_19_chain(), second_19_chain()};
    const std::vector<BitField> fields = random_fields(g_random_fields, 2024);
    std::vector<BitField> vanished = fields;  // after one vanish: the holes that drop closes
    for (BitField& f : vanished) f.vanish(nullptr);

    std::printf("velmo core benchmark; best of %d batches; %zu random fields; paths:", g_batches, fields.size());
    for (const CpuPath path : supported_cpu_paths()) std::printf(" %s", std::string(to_text(path)).c_str());
    std::printf("\n");
    for (const BitField& start : chains) {
        BitField copy = start;
        const ChainResult result = velmo::chain(copy);
        std::printf("19-chain field: chain %u, score %u\n", result.chain, result.score);
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
        add(chain_names[c], best_of(20000, 1, [&](const Kernels&) {
                BitField field = start;
                g_sink = g_sink + velmo::chain(field).score;
            }));
        add(kernel_names[c], best_of(20000, 1, [&](const Kernels& kernels) {
                BitPlanes planes = start.bit_planes();
                ChainResult tally;
                kernels.chain(planes, tally);
                g_sink = g_sink + tally.score;
            }));
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

    cycle = std::min(cycle, ns_per_cycle());
    std::printf("in-run clock: dependent-add chain %.3f ns per cycle (%.2f GHz)\n\n", cycle, 1.0 / cycle);
    std::printf("%-40s", "ns per call (cycles)");
    for (const CpuPath path : paths) std::printf("  %18s", std::string(to_text(path)).c_str());
    std::printf("  %s\n", "slowest/fastest");
    for (const Row& row : rows) {
        std::printf("%-40s", row.name.c_str());
        double lo = 1e300, hi = 0;
        for (const Timing& t : row.t) {
            char cell[64];
            std::snprintf(cell, sizeof cell, "%.1f (%.0f)", t.ns, t.ns / cycle);
            std::printf("  %18s", cell);
            lo = std::min(lo, t.ns);
            hi = std::max(hi, t.ns);
        }
        std::printf("  %.2fx\n", hi / lo);
    }
    std::printf("\nchain search: %zu trials on %zu fields (%.1f per field); search / summed trial chains:", num_trials, fields.size(),
                static_cast<double>(num_trials) / static_cast<double>(fields.size()));
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf(" %s %.2fx", std::string(to_text(paths[p])).c_str(), search[p].ns / trial_chains[p].ns);
    }
    std::printf("\n");
    return 0;
}

// Rough timings of the bit field's bulk operations on every processor path of this machine.
// Not a test: run it by hand, e.g. velmo_core_timings.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "chain/chain.hpp"
#include "field/bit_field.hpp"
#include "field/cpu_path.hpp"
#include "test_support.hpp"

using namespace velmo;

namespace {

template <class F>
double nanoseconds_per_call(int calls, F&& action) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) action();
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / calls;
}

BitField longest_generated_chain() {
    std::mt19937_64 random(1);
    BitField best;
    std::uint32_t best_chain = 0;
    for (int i = 0; i < 40; ++i) {
        const BitField candidate = velmo_test::build_chain_field(random, 19, 40000);
        BitField copy = candidate;
        const std::uint32_t length = velmo::chain(copy).chain;
        if (length > best_chain) {
            best_chain = length;
            best = candidate;
        }
    }
    return best;
}

}  // namespace

int main() {
    const BitField start = longest_generated_chain();
    BitField probe = start;
    const ChainResult reference = velmo::chain(probe);
    std::printf("generated field: %u-chain, score %u\n", reference.chain, reference.score);
    volatile std::uint32_t sink = 0;
    for (const CpuPath path : supported_cpu_paths()) {
        (void)force_cpu_path(path);
        const double chain_ns = nanoseconds_per_call(200000, [&] {
            BitField field = start;
            sink = sink + velmo::chain(field).score;
        });
        const double vanish_ns = nanoseconds_per_call(1000000, [&] {
            BitField field = start;
            GradualChainScoreCalculator* none = nullptr;
            field.vanish(none);
            sink = sink + static_cast<std::uint32_t>(field.planes()[2]);
        });
        const double drop_ns = nanoseconds_per_call(1000000, [&] {
            BitField field = probe;  // settled after the chain: the no-hole case
            field.set(3, 5, BitPuyoType::Red);
            field.drop();
            sink = sink + static_cast<std::uint32_t>(field.planes()[2]);
        });
        const double search_ns = nanoseconds_per_call(20000, [&] { sink = sink + static_cast<std::uint32_t>(start.find_chain_by_removal().size()); });
        std::printf("%-10s chain %.0f ns (%.1f ns/step)  vanish %.1f ns  drop %.1f ns  search %.0f ns\n", std::string(to_text(path)).c_str(),
                    chain_ns, chain_ns / reference.chain, vanish_ns, drop_ns, search_ns);
    }
    return 0;
}

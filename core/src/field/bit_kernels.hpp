// The bulk operations of the bit field (gravity, vanishing, the chain loop, the chain search),
// compiled once per processor path. The paths share only plain data records; each path's code
// lives in its own unit and names, and the bit field reaches it through a table of entry points
// chosen once per process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../chain/chain_result.hpp"
#include "../chain/gradual_chain_score_calculator.hpp"
#include "bit_layout.hpp"

namespace velmo::bit_kernels {

// At most 72 cells form groups and a group has at least 4, so a step has at most 18 groups.
inline constexpr std::size_t kMaxGroupsPerStep = 18;
inline constexpr unsigned kMaxChainIterations = 20;

struct VanishedGroup {
    std::uint32_t size;
    std::uint8_t color_code;  // BitPuyoType code, 4..7
};

struct VanishedGroups {
    std::uint32_t count;
    VanishedGroup groups[kMaxGroupsPerStep];
};

struct FoundChainRecord {
    u128 removed;
    std::uint8_t color_code;
    BitPlanes field;
    std::uint32_t score;
    std::uint32_t chain;
};

// Receives each found chain in search order; `context` is the caller's.
using FoundChainSink = void (*)(void* context, const FoundChainRecord& record);

struct KernelTable {
    void (*drop)(BitPlanes& field);
    // Returns whether anything vanished; lists the vanished groups when `groups` is not null.
    bool (*vanish)(BitPlanes& field, VanishedGroups* groups);
    // Fills `result` (constructed by the caller) for the whole chain.
    void (*chain)(BitPlanes& field, ChainResult& result);
    // The chain's totals only, on a field the caller knows gravity would not move: the loop skips
    // its first gravity check and records no step scores (the search's potential-chain trials).
    void (*settled_chain_totals)(BitPlanes& field, ChainTotals& totals);
    void (*find_chain_by_removal)(const BitPlanes& field, FoundChainSink sink, void* context);
};

// Each is null when the build has no code for that path.
const KernelTable* portable_kernels();
const KernelTable* bmi2_avx2_kernels();
const KernelTable* avx512_kernels();

// The table of the active path.
const KernelTable& active_kernels();

}  // namespace velmo::bit_kernels

// ChainResult: what a whole scored chain reports.
#pragma once

#include <cstdint>
#include <vector>

namespace velmo {

struct ChainResult {
    std::vector<std::uint32_t> step_scores;  // one per chain step, in order
    std::uint32_t score = 0;                 // their sum
    std::uint32_t chain = 0;                 // the number of steps
};

}  // namespace velmo

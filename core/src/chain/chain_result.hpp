// ChainResult: what a whole scored chain reports. The step scores are held inline, so a chain
// allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmo {

// No field chains more than 19 steps (the chain loops stop after 20 rounds); one more slot keeps
// a loop that scores every round in bounds.
inline constexpr std::size_t kMaxChainSteps = 20;

// The scores of a chain's steps, in order. Only the first kMaxChainSteps are recorded: a step
// beyond them (outside what any field produces) is dropped, never written past the array. The
// unused slots stay zero, so every value is always initialised. A plain array, so that the bit
// kernels (compiled per processor path) write the slots without calling any shared inline code.
struct StepScores {
    std::uint32_t values[kMaxChainSteps]{};
    std::uint32_t count = 0;  // recorded values, at most kMaxChainSteps

    void push_back(std::uint32_t score) {
        if (count < kMaxChainSteps) values[count++] = score;
    }
    [[nodiscard]] std::size_t size() const { return count < kMaxChainSteps ? count : kMaxChainSteps; }
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] std::uint32_t operator[](std::size_t i) const { return i < kMaxChainSteps ? values[i] : 0; }
    [[nodiscard]] const std::uint32_t* begin() const { return values; }
    [[nodiscard]] const std::uint32_t* end() const { return values + size(); }

    friend bool operator==(const StepScores& a, const StepScores& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a.values[i] != b.values[i]) return false;
        }
        return true;
    }
};

// A chain's totals alone, for the searches that run many and read no step.
struct ChainTotals {
    std::uint32_t score = 0;
    std::uint32_t chain = 0;
};

struct ChainResult {
    StepScores step_scores;   // one per chain step, in order
    std::uint32_t score = 0;  // their sum
    std::uint32_t chain = 0;  // the number of steps
};

}  // namespace velmo

// The chain reaction on any field: `step_chain` is one unscored round of vanish and drop; `chain`
// repeats scored rounds until a round changes nothing (at most 20, more than any field can chain).
// A representation with a loop of its own (the bit field's `run_chain`) is used instead.
#pragma once

#include "../field/field.hpp"
#include "chain_result.hpp"
#include "gradual_chain_score_calculator.hpp"

namespace velmo {

inline constexpr unsigned kMaxChainIterations = 20;

template <Field F>
void step_chain(F& field) {
    field.vanish(nullptr);
    field.drop();
}

template <Field F>
ChainResult chain(F& field) {
    if constexpr (requires { { field.run_chain() } -> std::same_as<ChainResult>; }) {
        return field.run_chain();
    } else {
        GradualChainScoreCalculator calculator;
        for (unsigned iteration = 0; iteration < kMaxChainIterations; ++iteration) {
            const F before = field;
            field.vanish(&calculator);
            field.drop();
            if (field == before) break;
        }
        return calculator.into_result();
    }
}

}  // namespace velmo

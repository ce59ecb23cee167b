#include "gradual_chain_score_calculator.hpp"

namespace velmo {

void GradualChainScoreCalculator::commit_chain_step() {
    if (num_vanished_ == 0) return;
    std::uint32_t num_colors = 0;
    for (const bool used : used_colors_) num_colors += used ? 1 : 0;
    const std::uint32_t step = score_rules::step_score(chain_ + 1, bonus_sum_, num_colors, num_vanished_);
    score_ += step;
    step_scores_.push_back(step);
    ++chain_;
    bonus_sum_ = 0;
    num_vanished_ = 0;
    used_colors_.fill(false);
}

}  // namespace velmo

// Work arrays of the sampling round. Sized once per run on the first round (every size is
// fixed by then) and reused by every later round, so that no round allocates.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace tav {

struct round_work {
  rt::vec3<double> QFORM;               // (n_effects, 2, 2): quadratic forms of the variance draws
  rt::vec1<double> log_likelihood;      // n_grid_points: quadratic sums, then log-likelihoods
  rt::vec1<double> log_det_sum;         // n_grid_points: sum of ln det over the families
  rt::vec1<double> family_log_det;      // n_grid_points: the family under way
  rt::vec1<double> CDF;                 // n_grid_points: cumulative probability of the fine points
  rt::vec1<double> work_rhs;            // n_equations: conditional right-hand sides of the sweep
  rt::vec1<std::int32_t> block_start;   // n_effects: first effect of the block holding e, 0 if none
  rt::vec3<std::int32_t> block_offset;  // (n_effects, 2, 2): equations before e / before member c
  rt::vec3<double> block_ginv_row;      // (n_effects, 2, 1): g_inverse(b, e - b + 1, c)
  rt::vec1<std::int32_t> effect_offset; // n_effects + 1: equations before effect e

  // Prior of the 2 x 2 block draws: set in round 1, kept for the rest of the run.
  rt::vec3<double> type2_prior_scale;   // (2, 2, 1): element (a, b, 1)
  double type2_df_first = 0.0;
  double type2_df_second = 0.0;

  bool sized = false;
};

}  // namespace tav

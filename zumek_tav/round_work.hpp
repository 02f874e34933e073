// Work arrays of the sampling round. Sized once per run on the first round (every size is
// fixed by then) and reused by every later round, so that no round allocates.
#pragma once

#include <cstdint>

#include "numeric/sample_layout.hpp"
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

  // The sweep's paired copy of the sample (sample_layout.hpp), laid out on the first sweep.
  // Each sweep copies the sample in and keeps the copy in step with every draw, so it holds
  // the sample until the round ends (the variance draws read the block's forms from it).
  // layout_min_equations is the smallest system laid out so: the comparison build (and a test
  // that wants the plain sweep) sets it above any system.
  num::sample_layout layout;
#ifdef ZUMEK_LITERAL_ROUNDS
  std::int32_t layout_min_equations = INT32_MAX;
#else
  std::int32_t layout_min_equations = 1;
#endif
  bool layout_built = false;

  // Prior of the 2 x 2 block draws: set in round 1, kept for the rest of the run.
  rt::vec3<double> type2_prior_scale;   // (2, 2, 1): element (a, b, 1)
  double type2_df_first = 0.0;
  double type2_df_second = 0.0;

  // Shared inverses of families with equal link structure (family_classes.hpp), formed once.
  // family_class(f) is the class of family f, 0 when it is inverted on its own. Class c's
  // n x n matrices start at class_start(c) in rinv_at_p and, one per grid point g, at
  // class_start(c) x n_grid_points + (g - 1) n n in grid_rinv.
  std::int32_t n_classes = 0;
  rt::vec1<std::int32_t> family_class;  // n_families
  rt::vec1<std::int32_t> class_family;  // n_classes: the first family of the class
  rt::vec1<std::int64_t> class_start;   // n_classes + 1
  rt::vec1<double> rinv_at_p;
  rt::vec1<std::int32_t> fail_at_p;     // n_classes: 1 when the inverse at p lost rank
  rt::vec1<double> grid_rinv;
  rt::vec1<double> grid_log_det;        // n_classes x n_grid_points: (c - 1) ng + g
  rt::vec1<std::int32_t> grid_fail;     // n_classes: first grid point of rank below n, or 0

  bool sized = false;
};

}  // namespace tav

// The two-stage grid draw of current_p_par: log-likelihood of the within-family correlation
// on the coarse grid, a fine grid around the best coarse point, the cumulative distribution of
// the fine points and its inversion by a uniform deviate. The steps after the likelihood are
// shared with zumek_ro (numeric/grid_draw.hpp); this file evaluates the likelihood.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace tav {

struct run_state;

// Adds the quadratic form u' RINV u of one family to sum, reading the diagonal and the upper
// triangle of RINV (n x n, leading dimension n, at rinv): for i = 1..n, u(i) u(i) RINV(i,i),
// then, except in the rest group, u(l) (2 u(i)) RINV(i,l) for l > i. u points at u(1).
void add_family_quadratic_form(const double* rinv, std::int32_t n, const double* u,
                               bool rest_group, double& sum);

// Stage 6 of the round: the coarse pass (grid holds the coarse grid), the fine grid and its
// pass, the normaliser, the CDF, the draw, current_p_par and its range check.
void draw_p_par(run_state& s, std::int32_t ROUND);

}  // namespace tav

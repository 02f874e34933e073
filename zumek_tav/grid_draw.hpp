// The two-stage grid draw of current_p_par: log-likelihood of the within-family correlation
// on the coarse grid, a fine grid around the best coarse point, the cumulative distribution of
// the fine points and its inversion by a uniform deviate.
//
// The numerical steps are small functions over 1-based arrays so that they can be checked on
// hand-made likelihoods; draw_p_par runs them on the program state.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace tav {

struct run_state;

// Index of the largest log-likelihood among points 1..n, the lowest index among equal values
// (compared exactly); a value that is not a number is never the largest. 0 when no point
// qualifies.
std::int32_t best_grid_point(const rt::vec1<double>& log_likelihood, std::int32_t n);

// grid(k) := centre_value + fine_grid_step x (k - fine_grid_centre), k = 1..n.
void fill_fine_grid(rt::vec1<double>& grid, std::int32_t n, double centre_value,
                    std::int32_t fine_grid_centre, double fine_grid_step);

// Logarithm of the sum of exp(log_likelihood(k)), k = 1..n, accumulated from the first point:
// S := L(1); S := S + ln(exp(L(k) - S) + 1). When that exponential would overflow the two terms
// swap roles, S := L(k) + ln(exp(S - L(k)) + 1), which is the same sum; every other step is the
// plain formula, bit for bit.
double log_normaliser(const rt::vec1<double>& log_likelihood, std::int32_t n);

// CDF(k) := sum over j = 1..k of exp(log_likelihood(j) - S), summed from j = 1.
void fill_cdf(const rt::vec1<double>& log_likelihood, std::int32_t n, double S,
              rt::vec1<double>& CDF);

// The largest k in 1..n with u > CDF(k); 0 when there is none (u <= CDF(1)).
std::int32_t cdf_interval(const rt::vec1<double>& CDF, std::int32_t n, double u);

// The draw that u maps to in interval r: linear interpolation between grid(r) and grid(r + 1);
// r = 0 (u equal to CDF(1)) gives grid(1).
double interpolate_draw(const rt::vec1<double>& grid, const rt::vec1<double>& CDF,
                        std::int32_t r, double u);

// Tries uniform deviates until one lies in [CDF(1), CDF(n)] and returns its interpolated grid
// value. The 20th try prints the truncated-CDF warning, the 1000th stops the run.
double draw_from_cdf(const rt::vec1<double>& grid, const rt::vec1<double>& CDF, std::int32_t n,
                     std::int32_t ROUND, std::int32_t& seed);

// Adds the quadratic form u' RINV u of one family to sum, reading the diagonal and the upper
// triangle of RINV (n x n, leading dimension n, at rinv): for i = 1..n, u(i) u(i) RINV(i,i),
// then, except in the rest group, u(l) (2 u(i)) RINV(i,l) for l > i. u points at u(1).
void add_family_quadratic_form(const double* rinv, std::int32_t n, const double* u,
                               bool rest_group, double& sum);

// Stage 6 of the round: the coarse pass (grid holds the coarse grid), the fine grid and its
// pass, the normaliser, the CDF, the draw, current_p_par and its range check.
void draw_p_par(run_state& s, std::int32_t ROUND);

}  // namespace tav

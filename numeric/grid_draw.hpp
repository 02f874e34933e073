// The numerical steps of the two-stage grid draw of a correlation parameter: best point of a
// likelihood on the coarse grid, the fine grid around it, the normaliser and the cumulative
// distribution of the fine points, and its inversion by uniform deviates.
//
// Both programs evaluate their likelihood on the grid in their own way and share these steps,
// which work on 1-based arrays of n_grid_points values and own nothing.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// The coarse grid of a round: grid(1) := start, grid(k) := grid(k - 1) + step, one addition
// per point, k = 2..n. Nothing when n < 1.
void fill_coarse_grid(rt::vec1<double>& grid, std::int32_t n, double start, double step);

// Index of the largest log-likelihood among points 1..n, the lowest index among equal values
// (compared exactly); a value that is not a number is never the largest. 0 when no point
// qualifies.
std::int32_t best_grid_point(const rt::vec1<double>& log_likelihood, std::int32_t n);

// grid(k) := centre_value + fine_grid_step x (k - fine_grid_centre), k = 1..n.
void fill_fine_grid(rt::vec1<double>& grid, std::int32_t n, double centre_value,
                    std::int32_t fine_grid_centre, double fine_grid_step);

// Replaces the coarse grid by the fine grid centred on the best coarse point. Stops the run
// when no point has a likelihood that is a number (or there is no point at all).
void centre_fine_grid(const rt::vec1<double>& log_likelihood, rt::vec1<double>& grid,
                      std::int32_t n, std::int32_t fine_grid_centre, double fine_grid_step);

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
// value. The 20th try prints the truncated-CDF warning (with ROUND), the 1000th stops the run.
double draw_from_cdf(const rt::vec1<double>& grid, const rt::vec1<double>& CDF, std::int32_t n,
                     std::int32_t ROUND, std::int32_t& seed);

// The steps after the fine pass: normaliser, CDF (into CDF) and the draw.
double draw_from_likelihood(const rt::vec1<double>& log_likelihood, const rt::vec1<double>& grid,
                            rt::vec1<double>& CDF, std::int32_t n, std::int32_t ROUND,
                            std::int32_t& seed);

// Stops the run when a drawn correlation lies outside [-1, 1].
void check_p_par_range(double p);

// Stops the run for a family matrix that is not positive definite at grid point g of the pass
// under way (family number in 3 columns, g in one).
[[noreturn]] void stop_family_not_positive_definite(std::int32_t f, std::int32_t g);

}  // namespace num

// The shared steps of the two-stage grid draw.
#include "numeric/grid_draw.hpp"

#include <cmath>

#include "numeric/random_variates.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace num {

void fill_coarse_grid(rt::vec1<double>& grid, std::int32_t n, double start, double step) {
  if (n < 1) return;
  grid(1) = start;
  for (std::int32_t k = 2; k <= n; ++k) grid(k) = grid(k - 1) + step;  // one addition per point
}

std::int32_t best_grid_point(const rt::vec1<double>& log_likelihood, std::int32_t n) {
  std::int32_t best = 0;
  for (std::int32_t g = 1; g <= n; ++g) {
    const double v = log_likelihood(g);
    if (std::isnan(v)) continue;
    if (best == 0 || v > log_likelihood(best)) best = g;  // strict: ties keep the lower index
  }
  return best;
}

void fill_fine_grid(rt::vec1<double>& grid, std::int32_t n, double centre_value,
                    std::int32_t fine_grid_centre, double fine_grid_step) {
  for (std::int32_t k = 1; k <= n; ++k)
    grid(k) = centre_value + fine_grid_step * static_cast<double>(k - fine_grid_centre);
}

void centre_fine_grid(const rt::vec1<double>& log_likelihood, rt::vec1<double>& grid,
                      std::int32_t n, std::int32_t fine_grid_centre, double fine_grid_step) {
  const std::int32_t best = best_grid_point(log_likelihood, n);
  if (best == 0)
    rt::stop("BEWARE! NO GRID POINT WITH A VALID LIKELIHOOD FOR p_PAR. PROGRAM TERMINATED.",
             rt::exit_error);
  const double c = grid(best);  // taken before the grid is overwritten
  fill_fine_grid(grid, n, c, fine_grid_centre, fine_grid_step);
}

double log_normaliser(const rt::vec1<double>& log_likelihood, std::int32_t n) {
  double S = log_likelihood(1);
  for (std::int32_t k = 2; k <= n; ++k) {
    const double L = log_likelihood(k);
    const double t = std::exp(L - S);
    if (std::isinf(t))
      S = L + std::log(std::exp(S - L) + 1.0);  // L far above S: ln(e^L + e^S) taken from L
    else
      S = S + std::log(t + 1.0);
  }
  return S;
}

void fill_cdf(const rt::vec1<double>& log_likelihood, std::int32_t n, double S,
              rt::vec1<double>& CDF) {
  // A running sum adds the same terms in the same order as summing each CDF(k) from j = 1.
  double sum = 0.0;
  for (std::int32_t k = 1; k <= n; ++k) {
    sum = sum + std::exp(log_likelihood(k) - S);
    CDF(k) = sum;
  }
}

std::int32_t cdf_interval(const rt::vec1<double>& CDF, std::int32_t n, double u) {
  std::int32_t r = 0;
  for (std::int32_t k = 1; k <= n; ++k)  // every k is tested: CDF values may repeat
    if (u > CDF(k)) r = k;
  return r;
}

double interpolate_draw(const rt::vec1<double>& grid, const rt::vec1<double>& CDF,
                        std::int32_t r, double u) {
  if (r == 0) return grid(1);  // u equal to CDF(1): the first fine point itself
  return grid(r) + ((grid(r + 1) - grid(r)) * (u - CDF(r))) / (CDF(r + 1) - CDF(r));
}

double draw_from_cdf(const rt::vec1<double>& grid, const rt::vec1<double>& CDF, std::int32_t n,
                     std::int32_t ROUND, std::int32_t& seed) {
  rt::text_out& con = rt::console();
  std::int32_t tries = 0;
  double u = 0.0;
  for (;;) {
    ++tries;
    u = rand_uniform(seed);
    const bool accepted = CDF(1) <= u && u <= CDF(n);
    if (tries == 20) {
      rt::write(con, {""});
      rt::write(con, {"BEWARE! TRUNCATED CDF AT CYCLE: ", ROUND});
      rt::write(con, {"CDF BETWEEN ", CDF(1), " AND ", CDF(n)});
      rt::write(con, {""});
    }
    if (tries == 1000) rt::stop("FATAL ERROR: PROGRAM TERMINATED", rt::exit_error);
    if (accepted) break;
  }
  return interpolate_draw(grid, CDF, cdf_interval(CDF, n, u), u);
}

double draw_from_likelihood(const rt::vec1<double>& log_likelihood, const rt::vec1<double>& grid,
                            rt::vec1<double>& CDF, std::int32_t n, std::int32_t ROUND,
                            std::int32_t& seed) {
  const double S = log_normaliser(log_likelihood, n);
  fill_cdf(log_likelihood, n, S, CDF);
  return draw_from_cdf(grid, CDF, n, ROUND, seed);
}

void check_p_par_range(double p) {
  if (p < -1.0 || p > 1.0)
    rt::stop(" BEWARE! p_PAR SAMPLE OUT OF PARAMETRIC SPACE!", rt::exit_error);
}

void stop_family_not_positive_definite(std::int32_t f, std::int32_t g) {
  rt::stop_framed(rt::fixed_line()
                      .A("FATAL ERROR: RINV FOR FAMILY ", 30)
                      .I(f, 3)
                      .A(", GRIDD ", 8)
                      .I(g, 1)
                      .A(", IS NOT POSITIVE DEFINITE.", 27));
}

}  // namespace num

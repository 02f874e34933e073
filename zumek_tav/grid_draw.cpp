// Two-stage grid draw of current_p_par.
#include "zumek_tav/grid_draw.hpp"

#include <cmath>

#include "numeric/random_variates.hpp"
#include "numeric/sym_ginverse.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/run_state.hpp"

namespace tav {

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
    u = num::rand_uniform(seed);
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

void add_family_quadratic_form(const double* rinv, std::int32_t n, const double* u,
                               bool rest_group, double& sum) {
  const rt::col_view R{const_cast<double*>(rinv), n};
  for (std::int32_t i = 1; i <= n; ++i) {  // u[i - 1] is u(i)
    sum = sum + u[i - 1] * u[i - 1] * R(i, i);
    if (rest_group) continue;
    for (std::int32_t l = i + 1; l <= n; ++l)
      sum = sum + u[l - 1] * (2.0 * u[i - 1]) * R(i, l);
  }
}

namespace {

// Equations before the family-correlated effect (effect n_effects - 2): its values, one per
// record in family order, follow them.
std::int32_t type3_offset(const run_state& s) {
  std::int32_t offset = 0;
  for (std::int32_t e = 1; e <= s.n_effects - 3; ++e) offset += s.remaining_levels(e);
  return offset;
}

// The values of every family must lie inside the sample vector.
void check_type3_extent(const run_state& s, std::int32_t offset) {
  std::int64_t records = 0;
  for (std::int32_t f = 1; f <= s.n_families; ++f) records += s.family_block(f).n_records;
  if (offset + records > s.n_equations)
    rt::stop("BEWARE! MORE DATA RECORDS THAN LEVELS OF THE FAMILY-CORRELATED EFFECT",
             rt::exit_error);
}

// One pass over the points of grid: log-likelihood of every point from the quadratic forms and
// log-determinants of all families.
void grid_pass(run_state& s) {
  round_work& w = s.round;
  const std::int32_t ng = s.n_grid_points;
  for (std::int32_t g = 1; g <= ng; ++g) {
    w.log_likelihood(g) = 0.0;
    w.family_log_det(g) = 0.0;
    w.log_det_sum(g) = 0.0;
  }
  std::int32_t offset = type3_offset(s);
  check_type3_extent(s, offset);
  rt::text_out& con = rt::console();

  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    tav::family_block& fb = s.family_block(f);
    const std::int32_t n = fb.n_records;
    const double* u = s.sample.data() + offset;
    if (f < s.n_families) {
      const rt::col_view link{fb.dam_link_matrix.data(), n};
      const rt::col_view resid{fb.residual_matrix.data(), n};
      const rt::col_view rinv{fb.RINV.data(), n};
      for (std::int32_t g = 1; g <= ng; ++g) {
        const double p = s.grid(g);
        for (std::int32_t c = 1; c <= n; ++c)
          for (std::int32_t r = 1; r <= n; ++r) {
            resid(r, c) = (r == c ? 1.0 : 0.0) + p * link(r, c);  // I + p x links
            rinv(r, c) = resid(r, c);
          }
        std::int32_t rank = 0;
        num::sym_ginverse(fb.RINV.data(), n, n, 1.0E-12, rank, w.family_log_det(g));
        if (rank < n) {
          rt::write(con, {""});
          rt::write(con, {"-----------"});
          rt::put(con, rt::fixed_line()
                           .A("FATAL ERROR: RINV FOR FAMILY ", 30)
                           .I(f, 3)
                           .A(", GRIDD ", 8)
                           .I(g, 1)
                           .A(", IS NOT POSITIVE DEFINITE.", 27));
          rt::write(con, {"-----------"});
          rt::write(con, {""});
          rt::stop("", rt::exit_error);
        }
        w.family_log_det(g) = std::log(w.family_log_det(g));
        add_family_quadratic_form(fb.RINV.data(), n, u, false, w.log_likelihood(g));
        w.log_det_sum(g) = w.log_det_sum(g) + w.family_log_det(g);
      }
    } else {
      // The rest group is never inverted: its matrix is the identity (its links are all zero),
      // so only the diagonal 1 + p x 0 enters, and its log-determinant is 0.
      for (std::int32_t g = 1; g <= ng; ++g) {
        const double diag = 1.0 + s.grid(g) * 0.0;
        double sum = w.log_likelihood(g);
        for (std::int32_t i = 0; i < n; ++i) sum = sum + u[i] * u[i] * diag;
        w.log_likelihood(g) = sum;
        w.family_log_det(g) = 0.0;
        w.log_det_sum(g) = w.log_det_sum(g) + w.family_log_det(g);
      }
    }
    offset += n;
  }

  const double r_inverse = s.g_inverse(s.n_effects - 2, 1, 1);
  for (std::int32_t g = 1; g <= ng; ++g)
    w.log_likelihood(g) = -0.5 * (r_inverse * w.log_likelihood(g) + w.log_det_sum(g));
}

}  // namespace

void draw_p_par(run_state& s, std::int32_t ROUND) {
  round_work& w = s.round;
  const std::int32_t ng = s.n_grid_points;

  grid_pass(s);  // coarse grid
  const std::int32_t best = best_grid_point(w.log_likelihood, ng);
  if (best == 0)
    rt::stop("BEWARE! NO GRID POINT WITH A VALID LIKELIHOOD FOR p_PAR. PROGRAM TERMINATED.",
             rt::exit_error);
  fill_fine_grid(s.grid, ng, s.grid(best), s.fine_grid_centre, s.fine_grid_step);
  grid_pass(s);  // fine grid

  const double S = log_normaliser(w.log_likelihood, ng);
  fill_cdf(w.log_likelihood, ng, S, w.CDF);
  const double p = draw_from_cdf(s.grid, w.CDF, ng, ROUND, s.seed);
  s.current_p_par = p;
  if (p < -1.0 || p > 1.0)
    rt::stop(" BEWARE! p_PAR SAMPLE OUT OF PARAMETRIC SPACE!", rt::exit_error);
}

}  // namespace tav

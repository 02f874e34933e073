// Two-stage grid draw of current_p_par.
#include "zumek_tav/grid_draw.hpp"

#include <cmath>

#include "numeric/grid_draw.hpp"
#include "numeric/sym_ginverse.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/family_classes.hpp"
#include "zumek_tav/run_state.hpp"

namespace tav {

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
  invert_classes_on_grid(s);

  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    tav::family_block& fb = s.family_block(f);
    const std::int32_t n = fb.n_records;
    const double* u = s.sample.data() + offset;
    const std::int32_t c = f < s.n_families ? class_of(s, f) : 0;
    if (c > 0) {
      // The class's inverses: the same numbers this family's own inversion would give.
      if (w.grid_fail(c) > 0) num::stop_family_not_positive_definite(f, w.grid_fail(c));
      const std::int64_t nn = static_cast<std::int64_t>(n) * n;
      for (std::int32_t g = 1; g <= ng; ++g) {
        w.family_log_det(g) = w.grid_log_det(static_cast<std::int64_t>(c - 1) * ng + g);
        add_family_quadratic_form(w.grid_rinv.data() + w.class_start(c) * ng + (g - 1) * nn, n,
                                  u, false, w.log_likelihood(g));
        w.log_det_sum(g) = w.log_det_sum(g) + w.family_log_det(g);
      }
    } else if (f < s.n_families) {
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
        if (rank < n) num::stop_family_not_positive_definite(f, g);
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
  num::centre_fine_grid(w.log_likelihood, s.grid, ng, s.fine_grid_centre, s.fine_grid_step);
  grid_pass(s);  // fine grid

  const double p = num::draw_from_likelihood(w.log_likelihood, s.grid, w.CDF, ng, ROUND, s.seed);
  s.current_p_par = p;
  num::check_p_par_range(p);
}

}  // namespace tav

// Grid draw of current_p_par from the family residuals: the likelihood of the residuals under
// current_s2e0 x (I + p x links) at every grid point; the steps after it are shared.
#include <cmath>

#include "numeric/grid_draw.hpp"
#include "numeric/sym_ginverse.hpp"
#include "zumek_ro/family_classes.hpp"
#include "zumek_ro/sample_round.hpp"

namespace ro {

namespace {

// The block's residuals at the current sample, each by successive subtraction from the
// observation. They do not depend on the grid point.
void family_residuals(const run_state& s, family_block& b) {
  for (std::int32_t i = 1; i <= b.n_records; ++i) {
    double r = b.observation(i);
    for (std::int32_t k = 1; k <= s.n_effects; ++k) {
      const std::int32_t q = b.equation(k, i);
      if (q != 0) r = r - b.coefficient(k, i) * s.sample(q);
    }
    b.residual(i) = r;
  }
}

// The inverse, the log-determinant and the first grid point of rank below n of every class of
// equal families, at each point of grid, each formed as for a single family.
void invert_classes_on_grid(run_state& s) {
  const std::int32_t ng = s.n_grid_points;
  for (std::int32_t c = 1; c <= s.n_classes; ++c) {
    const family_block& b = s.family[static_cast<std::size_t>(s.class_family(c) - 1)];
    const std::int32_t n = b.n_records;
    const std::int64_t nn = static_cast<std::int64_t>(n) * n;
    s.class_grid_fail(c) = 0;
    for (std::int32_t g = 1; g <= ng; ++g) {
      double* W = s.class_grid_rinv.data() + s.class_start(c) * ng + (g - 1) * nn;
      fill_residual_matrix(b, s.grid(g), W);
      std::int32_t rank = 0;
      double det = 0.0;
      num::sym_ginverse(W, n, n, 1.0E-12, rank, det);
      if (rank < n && s.class_grid_fail(c) == 0) s.class_grid_fail(c) = g;
      s.class_grid_log_det(static_cast<std::int64_t>(c - 1) * ng + g) = std::log(det);
    }
  }
}

// One pass over the points of grid: quadratic forms and log-determinants of every block, then
// the log-likelihood of each point. The residuals are formed by the first pass of a round; the
// second (fine) pass finds them unchanged in the blocks.
void grid_pass(run_state& s, bool form_residuals) {
  const std::int32_t ng = s.n_grid_points;
  const std::int32_t nf = s.n_families;
  for (std::int32_t g = 1; g <= ng; ++g) {
    s.log_likelihood(g) = 0.0;
    s.family_log_det(g) = 0.0;
    s.log_det_sum(g) = 0.0;
  }
  invert_classes_on_grid(s);
  double* sums = s.log_likelihood.data();           // grid point g + 1's sum at sums[g]
  for (std::int32_t f = 1; f <= nf; ++f) {
    family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    const std::int32_t n = b.n_records;
    if (f + family_prefetch_distance <= nf)
      prefetch_family(s.family[static_cast<std::size_t>(f + family_prefetch_distance - 1)]);
    if (form_residuals && f + family_equations_distance < nf) {   // not the rest group
      const std::int32_t ahead = f + family_equations_distance;
      prefetch_family_equations(s.family[static_cast<std::size_t>(ahead - 1)], s.sample.data(),
                                nullptr, s.sample.size());
    }
    if (form_residuals) family_residuals(s, b);
    const std::int32_t c = f < nf ? class_of(s, f) : 0;
    if (c > 0) {
      // The class's inverses: the same numbers this family's own inversion would give. Each
      // product of two residuals goes to every grid point's sum in turn: the sums of the points
      // are independent of each other and each takes its terms in the order i, j as before,
      // but they no longer wait for one another.
      if (s.class_grid_fail(c) > 0) num::stop_family_not_positive_definite(f, s.class_grid_fail(c));
      const std::int64_t nn = static_cast<std::int64_t>(n) * n;
      const double* inverses = s.class_grid_rinv.data() + s.class_start(c) * ng;
      for (std::int32_t g = 1; g <= ng; ++g) {
        s.family_log_det(g) = s.class_grid_log_det(static_cast<std::int64_t>(c - 1) * ng + g);
        s.log_det_sum(g) = s.log_det_sum(g) + s.family_log_det(g);
      }
      for (std::int32_t i = 1; i <= n; ++i) {
        const double ri = b.residual(i);
        for (std::int32_t j = 1; j <= n; ++j) {
          const double rij = ri * b.residual(j);
          const double* w = inverses + (i - 1) + static_cast<std::int64_t>(n) * (j - 1);
          for (std::int32_t g = 0; g < ng; ++g) sums[g] = sums[g] + rij * w[g * nn];
        }
      }
    } else if (f < nf) {
      const std::int64_t nn = static_cast<std::int64_t>(n) * n;
      double* R = b.residual_matrix.data();
      double* W = b.RINV.data();
      for (std::int32_t g = 1; g <= ng; ++g) {
        const double p = s.grid(g);
        for (std::int64_t k = 0; k < nn; ++k) R[k] = 0.0;
        for (std::int32_t l = 1; l <= b.n_links; ++l) {
          b.residual_matrix(b.link_first(l), b.link_second(l)) = p;
          b.residual_matrix(b.link_second(l), b.link_first(l)) = p;
        }
        for (std::int32_t i = 1; i <= n; ++i) b.residual_matrix(i, i) = 1.0;
        for (std::int64_t k = 0; k < nn; ++k) W[k] = R[k];
        if (n > 0) {
          std::int32_t rank = 0;
          num::sym_ginverse(W, n, n, 1.0E-12, rank, s.family_log_det(g));
          if (rank < n) num::stop_family_not_positive_definite(f, g);
          s.family_log_det(g) = std::log(s.family_log_det(g));
        } else {
          s.family_log_det(g) = 0.0;   // the logarithm of the empty determinant 1.0
        }
        double sum = s.log_likelihood(g);
        for (std::int32_t i = 1; i <= n; ++i) {
          const double ri = b.residual(i);
          for (std::int32_t j = 1; j <= n; ++j) sum = sum + ri * b.residual(j) * b.RINV(i, j);
        }
        s.log_likelihood(g) = sum;
        s.log_det_sum(g) = s.log_det_sum(g) + s.family_log_det(g);
      }
    } else {
      // The rest group is not inverted: its RINV is its residual matrix, the identity plus
      // its links at the grid point; the zero elements add nothing. As for the classes, each
      // product of residuals goes to every grid point's sum in turn, times that point's link
      // element p (times the diagonal's 1.0).
      const double* point = s.grid.data();          // grid point g + 1 at point[g]
      for (std::int32_t i = 1; i <= n; ++i) {
        const double ri = b.residual(i);
        const std::int32_t end = b.link_row_start(i + 1);
        std::int32_t k = b.link_row_start(i);
        for (; k < end && b.link_partner(k) < i; ++k) {
          const double t = ri * b.residual(b.link_partner(k));
          for (std::int32_t g = 0; g < ng; ++g) sums[g] = sums[g] + t * point[g];
        }
        const double t = ri * ri;
        for (std::int32_t g = 0; g < ng; ++g) sums[g] = sums[g] + t * 1.0;
        for (; k < end; ++k) {
          const double t2 = ri * b.residual(b.link_partner(k));
          for (std::int32_t g = 0; g < ng; ++g) sums[g] = sums[g] + t2 * point[g];
        }
      }
      for (std::int32_t g = 1; g <= ng; ++g) {
        s.family_log_det(g) = 0.0;
        s.log_det_sum(g) = s.log_det_sum(g) + s.family_log_det(g);
      }
      // The block's matrices as the last grid point leaves them.
      for (std::int32_t l = 1; l <= b.n_links; ++l) {
        b.rest_residual_link(l) = s.grid(ng);
        b.rest_rinv_link(l) = s.grid(ng);
      }
      for (std::int32_t i = 1; i <= n; ++i) {
        b.rest_residual_diag(i) = 1.0;
        b.rest_rinv_diag(i) = 1.0;
      }
    }
  }
  for (std::int32_t g = 1; g <= ng; ++g)
    s.log_likelihood(g) = -0.5 * (s.log_likelihood(g) / s.current_s2e0 + s.log_det_sum(g));
}

}  // namespace

void draw_p_par(run_state& s, std::int32_t ROUND) {
  const std::int32_t ng = s.n_grid_points;
  grid_pass(s, true);  // coarse grid
  num::centre_fine_grid(s.log_likelihood, s.grid, ng, s.fine_grid_centre, s.fine_grid_step);
  grid_pass(s, false);  // fine grid
  const double p = num::draw_from_likelihood(s.log_likelihood, s.grid, s.CDF, ng, ROUND, s.seed);
  s.current_p_par = p;
  num::check_p_par_range(p);
}

}  // namespace ro

// Classes of ordinary families with equal link structure, and their inverses.
#include "zumek_tav/family_classes.hpp"

#include <bit>
#include <cmath>
#include <vector>

#include "numeric/family_classes.hpp"
#include "numeric/sym_ginverse.hpp"

namespace tav {

void form_family_classes(run_state& s) {
  round_work& w = s.round;
  const std::int32_t nf = s.n_families;
#ifdef ZUMEK_LITERAL_ROUNDS
  const bool share = false;   // comparison build: every family inverted on its own
#else
  const bool share = true;
#endif

  // Key: the number of records followed by the bits of every element of dam_link_matrix.
  num::family_class_builder builder;
  num::class_builder_start(builder, nf);
  std::vector<std::uint64_t> key;
  for (std::int32_t f = 1; f < nf; ++f) {   // the rest group (family nf) is never inverted
    const family_block& fb = s.family_block(f);
    const std::int32_t n = fb.n_records;
    if (n <= 0 || !share) continue;
    key.assign(1, static_cast<std::uint64_t>(n));
    const std::int64_t nn = static_cast<std::int64_t>(n) * n;
    for (std::int64_t k = 1; k <= nn; ++k)
      key.push_back(std::bit_cast<std::uint64_t>(fb.dam_link_matrix(k)));
    num::class_builder_add(builder, f, key);
  }
  w.n_classes = num::class_builder_finish(builder, nf, w.family_class, w.class_family);

  const std::int32_t nc = w.n_classes;
  const std::int64_t ng = s.n_grid_points > 0 ? s.n_grid_points : 0;
  w.class_start.assign(static_cast<std::int64_t>(nc) + 1, 0);
  for (std::int32_t c = 1; c <= nc; ++c) {
    const std::int64_t n = s.family_block(w.class_family(c)).n_records;
    w.class_start(c + 1) = w.class_start(c) + n * n;
  }
  w.rinv_at_p.assign(w.class_start(nc + 1), 0.0);
  w.fail_at_p.assign(nc, 0);
  w.grid_rinv.assign(w.class_start(nc + 1) * ng, 0.0);
  w.grid_log_det.assign(static_cast<std::int64_t>(nc) * ng, 0.0);
  w.grid_fail.assign(nc, 0);
}

void fill_residual_matrix(const family_block& fb, double p, double* R) {
  const std::int32_t n = fb.n_records;
  const rt::col_view r{R, n};
  const rt::col_view link{const_cast<double*>(fb.dam_link_matrix.data()), n};
  for (std::int32_t c = 1; c <= n; ++c)
    for (std::int32_t i = 1; i <= n; ++i) r(i, c) = (i == c ? 1.0 : 0.0) + p * link(i, c);
}

void invert_classes_on_grid(run_state& s) {
  round_work& w = s.round;
  const std::int32_t ng = s.n_grid_points;
  for (std::int32_t c = 1; c <= w.n_classes; ++c) {
    const family_block& fb = s.family_block(w.class_family(c));
    const std::int32_t n = fb.n_records;
    const std::int64_t nn = static_cast<std::int64_t>(n) * n;
    w.grid_fail(c) = 0;
    for (std::int32_t g = 1; g <= ng; ++g) {
      double* W = w.grid_rinv.data() + w.class_start(c) * ng + (g - 1) * nn;
      fill_residual_matrix(fb, s.grid(g), W);
      std::int32_t rank = 0;
      double det = 0.0;
      num::sym_ginverse(W, n, n, 1.0E-12, rank, det);
      if (rank < n && w.grid_fail(c) == 0) w.grid_fail(c) = g;
      w.grid_log_det(static_cast<std::int64_t>(c - 1) * ng + g) = std::log(det);
    }
  }
}

void invert_classes(run_state& s, double p) {
  round_work& w = s.round;
  for (std::int32_t c = 1; c <= w.n_classes; ++c) {
    const family_block& fb = s.family_block(w.class_family(c));
    const std::int32_t n = fb.n_records;
    double* W = w.rinv_at_p.data() + w.class_start(c);
    fill_residual_matrix(fb, p, W);
    std::int32_t rank = 0;
    num::sym_ginverse(W, n, n, 1.0E-12, rank);
    w.fail_at_p(c) = rank < n ? 1 : 0;
  }
}

}  // namespace tav

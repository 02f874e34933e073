// Classes of ordinary families with equal residual structure, and their inverses.
#include "zumek_ro/family_classes.hpp"

#include <vector>

#include "numeric/family_classes.hpp"
#include "numeric/sym_ginverse.hpp"

namespace ro {

void form_family_classes(run_state& s) {
  const std::int32_t nf = s.n_families;
#ifdef ZUMEK_LITERAL_ROUNDS
  const bool share = false;   // comparison build: every family inverted on its own
#else
  const bool share = true;
#endif

  // Key: the number of records followed by the linked pairs in their stored order.
  num::family_class_builder builder;
  num::class_builder_start(builder, nf);
  std::vector<std::uint64_t> key;
  for (std::int32_t f = 1; f < nf; ++f) {   // the rest group (block nf) is never inverted
    const family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    if (b.n_records <= 0 || !share) continue;
    key.assign(1, static_cast<std::uint64_t>(b.n_records));
    for (std::int32_t l = 1; l <= b.n_links; ++l) {
      key.push_back(static_cast<std::uint64_t>(b.link_first(l)));
      key.push_back(static_cast<std::uint64_t>(b.link_second(l)));
    }
    num::class_builder_add(builder, f, key);
  }
  s.n_classes = num::class_builder_finish(builder, nf, s.family_class, s.class_family);

  const std::int32_t nc = s.n_classes;
  const std::int64_t ng = s.n_grid_points > 0 ? s.n_grid_points : 0;
  s.class_start.assign(static_cast<std::int64_t>(nc) + 1, 0);
  for (std::int32_t c = 1; c <= nc; ++c) {
    const std::int64_t n = s.family[static_cast<std::size_t>(s.class_family(c) - 1)].n_records;
    s.class_start(c + 1) = s.class_start(c) + n * n;
  }
  s.class_rinv.assign(s.class_start(nc + 1), 0.0);
  s.class_grid_rinv.assign(s.class_start(nc + 1) * ng, 0.0);
  s.class_grid_log_det.assign(static_cast<std::int64_t>(nc) * ng, 0.0);
  s.class_grid_fail.assign(nc, 0);
}

void fill_residual_matrix(const family_block& b, double p, double* R) {
  const std::int32_t n = b.n_records;
  const rt::col_view r{R, n};
  const std::int64_t nn = static_cast<std::int64_t>(n) * n;
  for (std::int64_t k = 0; k < nn; ++k) R[k] = 0.0;
  for (std::int32_t i = 1; i <= n; ++i) r(i, i) = 1.0;
  for (std::int32_t l = 1; l <= b.n_links; ++l) {
    r(b.link_first(l), b.link_second(l)) = p;
    r(b.link_second(l), b.link_first(l)) = p;
  }
}

void invert_classes(run_state& s, double p) {
  for (std::int32_t c = 1; c <= s.n_classes; ++c) {
    const family_block& b = s.family[static_cast<std::size_t>(s.class_family(c) - 1)];
    double* W = s.class_rinv.data() + s.class_start(c);
    fill_residual_matrix(b, p, W);
    std::int32_t rank = 0;
    num::sym_ginverse(W, b.n_records, b.n_records, 1.0E-12, rank);
  }
}

}  // namespace ro

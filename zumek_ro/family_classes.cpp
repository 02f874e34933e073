// Classes of ordinary families with equal residual structure, and their inverses.
#include "zumek_ro/family_classes.hpp"

#include <map>
#include <vector>

#include "numeric/sym_ginverse.hpp"

namespace ro {

void form_family_classes(run_state& s) {
  const std::int32_t nf = s.n_families;
  s.family_class.assign(nf > 0 ? nf : 0, 0);
  s.n_classes = 0;
#ifdef ZUMEK_LITERAL_ROUNDS
  const bool share = false;   // comparison build: every family inverted on its own
#else
  const bool share = true;
#endif

  // Key: the number of records followed by the linked pairs in their stored order.
  std::map<std::vector<std::int32_t>, std::int32_t> first_of;  // key -> first family
  std::vector<std::int32_t> count(static_cast<std::size_t>(nf > 0 ? nf : 0) + 1, 0);
  std::vector<std::int32_t> key;
  for (std::int32_t f = 1; f < nf; ++f) {   // the rest group (block nf) is never inverted
    const family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    if (b.n_records <= 0 || !share) continue;
    key.assign(1, b.n_records);
    for (std::int32_t l = 1; l <= b.n_links; ++l) {
      key.push_back(b.link_first(l));
      key.push_back(b.link_second(l));
    }
    auto [it, is_new] = first_of.try_emplace(key, f);
    count[static_cast<std::size_t>(it->second)] += 1;
    s.family_class(f) = it->second;   // the first family for now
  }
  // Number the shared classes in order of their first family.
  std::vector<std::int32_t> number(count.size(), 0);
  std::vector<std::int32_t> members;
  for (std::int32_t f = 1; f < nf; ++f)
    if (count[static_cast<std::size_t>(f)] >= 2) {
      number[static_cast<std::size_t>(f)] = ++s.n_classes;
      members.push_back(f);
    }
  for (std::int32_t f = 1; f < nf; ++f) {
    const std::int32_t first = s.family_class(f);
    s.family_class(f) = first > 0 ? number[static_cast<std::size_t>(first)] : 0;
  }

  const std::int32_t nc = s.n_classes;
  const std::int64_t ng = s.n_grid_points > 0 ? s.n_grid_points : 0;
  s.class_family.assign(nc, 0);
  s.class_start.assign(static_cast<std::int64_t>(nc) + 1, 0);
  for (std::int32_t c = 1; c <= nc; ++c) {
    const std::int32_t f = members[static_cast<std::size_t>(c - 1)];
    const std::int64_t n = s.family[static_cast<std::size_t>(f - 1)].n_records;
    s.class_family(c) = f;
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

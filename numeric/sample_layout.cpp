// The paired layout of the sample for the single-site sweep.
#include "numeric/sample_layout.hpp"

#include "runtime/process.hpp"

namespace num {

void build_sample_layout(sample_layout& L, std::int32_t min_equations, std::int32_t n_effects,
                         std::int32_t n_equations, const rt::vec1<std::int32_t>& TYPO,
                         const rt::vec1<std::int32_t>& CORR,
                         const rt::vec1<std::int32_t>& remaining_levels,
                         const rt::vec1<std::int32_t>& block_start,
                         const rt::vec1<std::int32_t>& effect_offset, std::int32_t pedigree_order,
                         const sparse_store& store) {
  L = sample_layout{};
  if (n_equations < min_equations || n_equations < 1) return;
  const std::int32_t n = n_equations;
  const std::int32_t len = pedigree_order;
  L.place.assign(n, 0);
  L.pair_first.assign(n_effects, -1);

  // Equations keep their order; a paired block starts on an even place, one spare place in
  // front of it when needed, so that no pair straddles a cache line.
  std::int32_t spare = 0;   // spare places so far
  std::int32_t next = 1;    // the next equation to place
  for (std::int32_t b = 1; b < n_effects; ++b) {
    if (block_start(b) != b || CORR(b) != 2 || TYPO(b) != 2 || TYPO(b + 1) != 2 || len < 1 ||
        remaining_levels(b) != len || remaining_levels(b + 1) != len)
      continue;
    const std::int32_t o = effect_offset(b);
    if (o < next - 1 || static_cast<std::int64_t>(o) + 2 * static_cast<std::int64_t>(len) > n)
      continue;
    for (; next <= o; ++next) L.place(next) = next + spare;
    if ((o + spare) % 2 != 0) ++spare;
    const std::int32_t first = o + spare;
    for (std::int32_t l = 1; l <= len; ++l) {
      L.place(o + l) = first + 2 * l - 1;
      L.place(o + len + l) = first + 2 * l;
    }
    next = o + 2 * len + 1;
    L.pair_first(b) = first;
    L.pair_first(b + 1) = first;
  }
  if (next == 1) {   // no block pairs: nothing to gain
    L = sample_layout{};
    return;
  }
  for (; next <= n; ++next) L.place(next) = next + spare;

  const std::int64_t entries = store.order >= 1 ? store.row_start(store.order + 1) - 1 : 0;
  L.column.assign(entries > 0 ? entries : 0, 0);
  for (std::int64_t k = 1; k <= entries; ++k) {
    const std::int32_t c = store.column(k);
    if (c < 1 || c > n) rt::internal_error("sweep store column outside the equations");
    L.column(k) = L.place(c);
  }
  L.value.assign(static_cast<std::int64_t>(n) + spare, 0.0);
  L.active = true;
}

}  // namespace num

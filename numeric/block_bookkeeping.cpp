// Effect offsets and block bookkeeping of the sampling round.
#include "numeric/block_bookkeeping.hpp"

#include "runtime/process.hpp"

namespace num {

void size_block_bookkeeping(std::int32_t n_effects, rt::vec1<std::int32_t>& effect_offset,
                            rt::vec1<std::int32_t>& block_start,
                            rt::vec3<std::int32_t>& block_offset,
                            rt::vec3<double>& block_ginv_row) {
  block_start.assign(n_effects, 0);
  block_offset.resize(n_effects, 2, 2);
  block_ginv_row.resize(n_effects, 2, 1);
  effect_offset.assign(static_cast<std::int64_t>(n_effects) + 1, 0);
}

void build_block_bookkeeping(std::int32_t n_effects, const rt::vec1<std::int32_t>& remaining_levels,
                             const rt::vec1<std::int32_t>& CORR, const rt::vec3<double>& g_inverse,
                             rt::vec1<std::int32_t>& effect_offset,
                             rt::vec1<std::int32_t>& block_start,
                             rt::vec3<std::int32_t>& block_offset,
                             rt::vec3<double>& block_ginv_row) {
  const std::int32_t ne = n_effects;
  effect_offset(1) = 0;
  for (std::int32_t e = 1; e <= ne; ++e)
    effect_offset(e + 1) = effect_offset(e) + remaining_levels(e);

  for (std::int32_t e = 1; e <= ne; ++e) block_start(e) = 0;
  std::int32_t e = 1;
  while (e <= ne) {
    const std::int32_t corr = CORR(e);
    if (corr > 0) {
      // A block is 1 x 1 or 2 x 2 and must end at the last effect at the latest.
      if (corr > 2 || e + corr - 1 > ne)
        rt::stop("BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION", rt::exit_error);
      for (std::int32_t k = e + corr - 1; k >= e; --k) block_start(k) = e;
      e += corr;
    } else {
      e += 1;
    }
  }

  for (std::int32_t k = 1; k <= ne; ++k) {
    const std::int32_t b = block_start(k);
    if (b == 0) continue;
    for (std::int32_t c = 1; c <= CORR(b); ++c) {
      block_offset(k, c, 1) = effect_offset(k);
      block_offset(k, c, 2) = effect_offset(b + c - 1);
      block_ginv_row(k, c, 1) = g_inverse(b, k - b + 1, c);
    }
  }
}

}  // namespace num

// W' RINV W and W' RINV y of one family block.
#include "zumek_ro/family_terms.hpp"

#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace ro {

namespace {

// Adds x at (I, J); 701 and 702 end the run after SBSIJ's own message.
inline void add_entry(num::sparse_store& store, std::int32_t I, std::int32_t J, double x,
                      std::int32_t& IER) {
  num::SBSIJ(store, I, J, x, 5, 0, rt::console(), IER);
  if (IER == 701 || IER == 702) rt::stop("", rt::exit_error);
}

}  // namespace

void add_family_block_terms(const family_block& b, std::int32_t n_effects,
                            num::sparse_store& store, rt::vec1<double>& rhs, std::int32_t& IER) {
  const std::int32_t n = b.n_records;
  if (b.is_rest_group != 0) {
    // Independent records: each is crossed only with itself, weight RINV(l, l).
    for (std::int32_t i = 1; i <= n_effects; ++i)
      for (std::int32_t l = 1; l <= n; ++l) {
        const std::int32_t a = b.equation(i, l);
        const double w = b.rest_rinv_diag(l);
        for (std::int32_t k = 1; k <= n_effects; ++k) {
          const std::int32_t c = b.equation(k, l);
          if (a != 0 && c != 0 && a <= c)
            add_entry(store, a, c, (b.coefficient(i, l) * b.coefficient(k, l)) * w, IER);
        }
        if (a != 0) rhs(a) = rhs(a) + (b.observation(l) * b.coefficient(i, l)) * w;
      }
    return;
  }
  for (std::int32_t i = 1; i <= n_effects; ++i)
    for (std::int32_t l = 1; l <= n; ++l) {
      const std::int32_t a = b.equation(i, l);
      if (a == 0) continue;  // an absent effect adds nothing, not even to rhs
      const double cil = b.coefficient(i, l);
      for (std::int32_t k = 1; k <= n_effects; ++k)
        for (std::int32_t m = 1; m <= n; ++m) {
          const std::int32_t c = b.equation(k, m);
          if (c != 0 && a <= c)
            add_entry(store, a, c, (cil * b.coefficient(k, m)) * b.RINV(l, m), IER);
        }
      for (std::int32_t m = 1; m <= n; ++m)
        rhs(a) = rhs(a) + (b.observation(m) * cil) * b.RINV(l, m);
    }
}

}  // namespace ro

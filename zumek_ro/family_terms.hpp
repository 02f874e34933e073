// The terms that one family block adds to a store and its right-hand side: the upper triangle
// of W' RINV W and W' RINV y, W being the block's records coded as equations and coefficients
// and y its observations.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "zumek_ro/run_state.hpp"

namespace ro {

// Runs through the terms of block b in the order in which they are added: for each effect i and
// record l with a = equation(i, l) (effect outer, record inner), first every store term at
// (a, c), c = equation(k, m) for each effect k and record m (only m = l in the rest group), when
// a and c are non-zero and a <= c; then, when a is non-zero, the right-hand side terms at a, one
// per record m. The weight is RINV(l, m) of an ordinary family and rest_rinv_diag(l) of the rest
// group, whose records are not crossed with each other. Zero products are handed on too.
// entry(a, c, x) receives each store term, rhs_term(a, x) each right-hand side term.
template <class Entry, class RhsTerm>
inline void for_each_family_term(const family_block& b, std::int32_t n_effects, Entry&& entry,
                                 RhsTerm&& rhs_term) {
  const std::int32_t n = b.n_records;
  if (b.is_rest_group) {
    for (std::int32_t i = 1; i <= n_effects; ++i)
      for (std::int32_t l = 1; l <= n; ++l) {
        const std::int32_t a = b.equation(i, l);
        if (a == 0) continue;                        // absent: no store and no rhs terms
        const double cil = b.coefficient(i, l);
        const double wll = b.rest_rinv_diag(l);
        for (std::int32_t k = 1; k <= n_effects; ++k) {
          const std::int32_t c = b.equation(k, l);
          if (c != 0 && a <= c) entry(a, c, (cil * b.coefficient(k, l)) * wll);
        }
        rhs_term(a, (b.observation(l) * cil) * wll);
      }
    return;
  }
  for (std::int32_t i = 1; i <= n_effects; ++i)
    for (std::int32_t l = 1; l <= n; ++l) {
      const std::int32_t a = b.equation(i, l);
      if (a == 0) continue;
      const double cil = b.coefficient(i, l);
      for (std::int32_t k = 1; k <= n_effects; ++k)
        for (std::int32_t m = 1; m <= n; ++m) {
          const std::int32_t c = b.equation(k, m);
          if (c != 0 && a <= c) entry(a, c, (cil * b.coefficient(k, m)) * b.RINV(l, m));
        }
      for (std::int32_t m = 1; m <= n; ++m) rhs_term(a, (b.observation(m) * cil) * b.RINV(l, m));
    }
}

// Adds the terms of block b (its equation, coefficient, observation and RINV, or rest_rinv_diag
// for the rest group, filled) into store, in linked form, through SBSIJ (add, message level 0,
// messages to the console), and into rhs. A status of 701 or 702 stops the run with an empty
// stop text after SBSIJ's own message; IER holds the last status.
void add_family_block_terms(const family_block& b, std::int32_t n_effects,
                            num::sparse_store& store, rt::vec1<double>& rhs, std::int32_t& IER);

}  // namespace ro

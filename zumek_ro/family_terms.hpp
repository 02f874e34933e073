// The terms that one family block adds to a store and its right-hand side: the upper triangle
// of W' RINV W and W' RINV y, W being the block's records coded as equations and coefficients
// and y its observations.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "zumek_ro/run_state.hpp"

namespace ro {

// Runs through the store terms of block b in the order in which they are added: for each
// effect i and record l with a = equation(i, l) (effect outer, record inner), every term at
// (a, c), c = equation(k, m) for each effect k and record m (only m = l in the rest group), when
// a and c are non-zero and a <= c. Each comes as entry(a, c, factor, w): the term is
// factor x weight, factor = coefficient(i, l) x coefficient(k, m) and the weight the element w
// (from 0) of the block's weights, RINV in column order ((l - 1) + n (m - 1)) for an ordinary
// family, rest_rinv_diag ((l - 1)) for the rest group, whose records are not crossed with each
// other. The positions and factors are the same every round; only the weights change.
// ahead(i, l), when given, is called before the terms of each (i, l), for hints only.
struct no_term_hint {
  void operator()(std::int32_t, std::int32_t) const {}
};

template <class Entry, class Ahead = no_term_hint>
inline void for_each_store_term(const family_block& b, std::int32_t n_effects, Entry&& entry,
                                Ahead&& ahead = Ahead{}) {
  const std::int32_t n = b.n_records;
  for (std::int32_t i = 1; i <= n_effects; ++i)
    for (std::int32_t l = 1; l <= n; ++l) {
      ahead(i, l);
      const std::int32_t a = b.equation(i, l);
      if (a == 0) continue;                          // absent: no store and no rhs terms
      const double cil = b.coefficient(i, l);
      if (b.is_rest_group) {
        for (std::int32_t k = 1; k <= n_effects; ++k) {
          const std::int32_t c = b.equation(k, l);
          if (c != 0 && a <= c) entry(a, c, cil * b.coefficient(k, l), l - 1);
        }
        continue;
      }
      for (std::int32_t k = 1; k <= n_effects; ++k)
        for (std::int32_t m = 1; m <= n; ++m) {
          const std::int32_t c = b.equation(k, m);
          if (c != 0 && a <= c)
            entry(a, c, cil * b.coefficient(k, m),
                  static_cast<std::int64_t>(l - 1) + static_cast<std::int64_t>(n) * (m - 1));
        }
    }
}

// Adds the right-hand side terms of block b to the elements rhs_at(a) in their order: for each
// effect i and record l with a = equation(i, l) non-zero, once per record m (only m = l in the
// rest group), x = (observation(m) x coefficient(i, l)) x weight of (l, m), each added as
// rhs(a) + x. The terms of one (i, l) are summed in a register and stored once: the same sums
// in the same order, without each addition waiting for the store of the one before.
template <class RhsAt>
inline void add_rhs_terms(const family_block& b, std::int32_t n_effects, RhsAt&& rhs_at) {
  const std::int32_t n = b.n_records;
  for (std::int32_t i = 1; i <= n_effects; ++i)
    for (std::int32_t l = 1; l <= n; ++l) {
      const std::int32_t a = b.equation(i, l);
      if (a == 0) continue;
      const double cil = b.coefficient(i, l);
      double& r = rhs_at(a);
      double sum = r;
      if (b.is_rest_group) {
        sum = sum + (b.observation(l) * cil) * b.rest_rinv_diag(l);
      } else {
        for (std::int32_t m = 1; m <= n; ++m) sum = sum + (b.observation(m) * cil) * b.RINV(l, m);
      }
      r = sum;
    }
}

// Every term of block b: the store terms as entry(a, c, x), x = factor x weight, then the
// right-hand side terms added to rhs_at(a) (add_rhs_terms). Zero products are handed on too.
// The two go to separate sums, so that the store terms come first changes neither.
template <class Entry, class RhsAt, class Ahead = no_term_hint>
inline void for_each_family_term(const family_block& b, std::int32_t n_effects, Entry&& entry,
                                 RhsAt&& rhs_at, Ahead&& ahead = Ahead{}) {
  if (b.is_rest_group)
    for_each_store_term(
        b, n_effects,
        [&](std::int32_t a, std::int32_t c, double factor, std::int64_t w) {
          entry(a, c, factor * b.rest_rinv_diag(w + 1));
        },
        ahead);
  else
    for_each_store_term(
        b, n_effects,
        [&](std::int32_t a, std::int32_t c, double factor, std::int64_t w) {
          entry(a, c, factor * b.RINV.d(w + 1));
        },
        ahead);
  add_rhs_terms(b, n_effects, rhs_at);
}

// Adds the terms of block b (its equation, coefficient, observation and RINV, or rest_rinv_diag
// for the rest group, filled) into store, in linked form, through SBSIJ (add, message level 0,
// messages to the console), and into rhs. A status of 701 or 702 stops the run with an empty
// stop text after SBSIJ's own message; IER holds the last status.
void add_family_block_terms(const family_block& b, std::int32_t n_effects,
                            num::sparse_store& store, rt::vec1<double>& rhs, std::int32_t& IER);

}  // namespace ro

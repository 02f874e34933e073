// Ut D U factorisation of a symmetric matrix in the order chosen by the minimum-degree
// ordering. The order of every floating-point operation below fixes the round-off of the
// solution, so loops run in the given directions and updates are written as they are done.
#include "numeric/sparse_factor.hpp"

#include <limits>

#include "runtime/process.hpp"

namespace num {
namespace {
constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();
}  // namespace

void symbolic_factor(const permuted_matrix& a, factor_structure& f,
                     slice<std::int32_t> last_row_of_column, slice<std::int32_t> column_chain,
                     std::int64_t& FLAG) {
  const std::int32_t n = f.n;
  auto& q = column_chain;                         // q(k) first column, q(c) next; n+1 ends
  const std::int64_t column_capacity = f.factor_column.n;
  for (std::int32_t k = 1; k <= n; ++k) {
    last_row_of_column(k) = 0;
    f.row_list(k) = 0;
  }
  f.factor_row_start(1) = 1;
  std::int64_t s0 = 1, s1 = 0;                    // the run of factor_column written last
  for (std::int32_t k = 1; k <= n; ++k) {
    std::int32_t count = 0;
    q(k) = n + 1;
    const std::int32_t mark_k = last_row_of_column(k);
    // Exactly one row waits for k: row k may be that row without its first column.
    bool shortcut = f.row_list(k) != 0 && f.row_list(f.row_list(k)) == 0;
    const std::int32_t pk = a.permutation(k);
    for (std::int32_t p = a.row_start(pk); p < a.row_start(pk + 1); ++p) {
      const std::int32_t vj = a.inverse_permutation(a.column(p));
      if (vj <= k) continue;
      std::int32_t m = k, qm = k;
      do {
        m = qm;
        qm = q(m);
      } while (qm < vj);
      if (qm == vj) {
        FLAG = 2 * std::int64_t{n} + pk;
        return;
      }
      ++count;
      q(m) = vj;
      q(vj) = qm;
      if (last_row_of_column(vj) != mark_k) shortcut = false;
    }
    bool found = false;                           // row k's columns already lie in place
    if (shortcut) {
      const std::int32_t i = f.row_list(k);
      f.factor_index_start(k) = f.factor_index_start(i) + 1;
      count = f.factor_row_start(i + 1) - f.factor_row_start(i) - 1;
      found = true;
    } else {
      // Merge the rows waiting for k (their columns after the first) into the chain.
      std::int32_t longest = 0;
      f.factor_index_start(k) = static_cast<std::int32_t>(s1);
      for (std::int32_t i = f.row_list(k); i != 0; i = f.row_list(i)) {
        const std::int32_t len = f.factor_row_start(i + 1) - (f.factor_row_start(i) + 1);
        const std::int32_t jmin = f.factor_index_start(i) + 1;
        const std::int32_t jmax = f.factor_index_start(i) + len;
        std::int32_t qm = k;
        for (std::int32_t j = jmin; j <= jmax; ++j) {
          const std::int32_t vj = f.factor_column(j);
          std::int32_t m = qm;
          do {
            m = qm;
            qm = q(m);
          } while (qm < vj);
          if (qm == vj) continue;
          ++count;
          q(m) = vj;
          q(vj) = qm;
          qm = vj;
        }
        if (len > longest) {                      // the first longest row wins
          longest = len;
          f.factor_index_start(k) = jmin;
        }
      }
      if (count == longest) {
        found = true;
      } else {
        // Does the head of row k match the tail of the run written last?
        std::int32_t c = q(k);
        std::int64_t j0 = 0;
        for (std::int64_t j = s0; j <= s1; ++j) {
          if (f.factor_column(j) < c) continue;
          if (f.factor_column(j) == c) j0 = j;
          break;
        }
        if (j0 != 0) {
          f.factor_index_start(k) = static_cast<std::int32_t>(j0);
          bool mismatch = false;
          for (std::int64_t j = j0; j <= s1; ++j) {
            if (f.factor_column(j) != c) {
              mismatch = true;
              break;
            }
            c = q(c);
            if (c > n) {
              found = true;
              break;
            }
          }
          if (!found && !mismatch) s1 = j0 - 1;   // rewrite from j0, extending the match
        }
        if (!found) {
          s0 = s1 + 1;
          s1 = s1 + count;
          if (s1 > column_capacity) {
            FLAG = 6 * std::int64_t{n} + k;
            return;
          }
          if (s1 > int32_max)
            rt::stop("FACTOR TOO LARGE: COLUMN LISTS EXCEED 2147483647 CELLS IN SDRV",
                     rt::exit_error);
          std::int32_t i = k;
          for (std::int64_t j = s0; j <= s1; ++j) {
            i = q(i);
            f.factor_column(j) = i;
            last_row_of_column(i) = k;
          }
          f.factor_index_start(k) = static_cast<std::int32_t>(s0);
          found = true;
        }
      }
    }
    if (count > 1) {                              // k waits for its first column
      const std::int32_t i = f.factor_column(f.factor_index_start(k));
      f.row_list(k) = f.row_list(i);
      f.row_list(i) = k;
    }
    const std::int64_t next_start = std::int64_t{f.factor_row_start(k)} + count;
    if (next_start > int32_max)
      rt::stop("FACTOR TOO LARGE: MORE THAN 2147483646 ENTRIES IN SDRV", rt::exit_error);
    f.factor_row_start(k + 1) = static_cast<std::int32_t>(next_start);
  }
  FLAG = 0;
}

namespace {

// w(t) = x(t) * m + w(t) for t = 0 .. len-1: a row's stretch of consecutive columns added to
// the working row. Every cell receives the same product and the same sum as in the
// one-by-one loop (the cells are distinct, the contraction into fused multiply-adds is off),
// so grouping four cells per step, which the compiler turns into vector instructions,
// changes no rounding.
inline void add_scaled_run(double* __restrict w, const double* __restrict x, double m,
                           std::int32_t len) {
  std::int32_t t = 0;
  for (; t + 4 <= len; t += 4) {
    const double a0 = x[t] * m + w[t];
    const double a1 = x[t + 1] * m + w[t + 1];
    const double a2 = x[t + 2] * m + w[t + 2];
    const double a3 = x[t + 3] * m + w[t + 3];
    w[t] = a0;
    w[t + 1] = a1;
    w[t + 2] = a2;
    w[t + 3] = a3;
  }
  for (; t < len; ++t) w[t] = x[t] * m + w[t];
}

// w_cell(col[t]) = x[t] * m + w_cell(col[t]) for t = 0 .. len-1, where w_cell(c) = w1[c] (w1
// points one cell before the working row, so that columns index it directly). The columns
// of a row are distinct, so the cells may be loaded ahead of the earlier stores.
inline void add_scaled_scatter(double* __restrict w1, const double* __restrict x,
                               const std::int32_t* __restrict col, double m,
                               std::int32_t len) {
  std::int32_t t = 0;
  for (; t + 4 <= len; t += 4) {
    const std::int32_t c0 = col[t], c1 = col[t + 1], c2 = col[t + 2], c3 = col[t + 3];
    const double a0 = x[t] * m + w1[c0];
    const double a1 = x[t + 1] * m + w1[c1];
    const double a2 = x[t + 2] * m + w1[c2];
    const double a3 = x[t + 3] * m + w1[c3];
    w1[c0] = a0;
    w1[c1] = a1;
    w1[c2] = a2;
    w1[c3] = a3;
  }
  for (; t < len; ++t) w1[col[t]] = x[t] * m + w1[col[t]];
}

// The start and the end of row k, shared by both numeric loops. load_row: the stored entries of
// row k at or right of the diagonal into the working row (assignment, not addition).
inline void load_row(const permuted_matrix& a, std::int32_t k, slice<double>& w) {
  const std::int32_t pk = a.permutation(k);
  for (std::int32_t p = a.row_start(pk); p < a.row_start(pk + 1); ++p) {
    const std::int32_t c = a.inverse_permutation(a.column(p));
    if (k <= c) w(c) = a.value(p);
  }
}

// store_row: false on a zero pivot; otherwise the reciprocal pivot, the row's entries moved from
// the working row into the factor (the working cells cleared), and row k put in the list of its
// first column.
inline bool store_row(factor_structure& f, std::int32_t k, double dk, slice<double>& w,
                      slice<std::int32_t>& next_entry, slice<double>& factor_value) {
  if (dk == 0.0) return false;
  w(k) = 1.0 / dk;   // inv_pivot(k): the working row's cell k
  const std::int32_t jmin = f.factor_row_start(k);
  const std::int32_t jmax = f.factor_row_start(k + 1) - 1;
  if (jmin <= jmax) {
    const std::int32_t mu = f.factor_index_start(k) - jmin;
    for (std::int32_t j = jmin; j <= jmax; ++j) {
      const std::int32_t c = f.factor_column(mu + j);
      factor_value(j) = w(c);
      w(c) = 0.0;
    }
    next_entry(k) = jmin;
    const std::int32_t c = f.factor_column(mu + jmin);
    f.row_list(k) = f.row_list(c);
    f.row_list(c) = k;
  }
  return true;
}

}  // namespace

// The same operations as numeric_factor_reference, in the same order for every cell. What
// differs is how they are reached: a row's remaining stretch whose columns are consecutive
// (in the trailing dense part of mixed-model equations most are) is added as a plain dense
// loop, other stretches through their column numbers without re-reading the row's offsets
// per entry, and the first cells of the next waiting row are fetched ahead while the current
// one is added (its entries were last touched long before, so they come from main memory).
void numeric_factor(const permuted_matrix& a, factor_structure& f,
                    slice<std::int32_t> next_entry, slice<double> inv_pivot,
                    slice<double> factor_value, std::int64_t& FLAG) {
  const std::int32_t n = f.n;
  if (std::int64_t{f.factor_row_start(n + 1)} - 1 > factor_value.n) {
    FLAG = 7 * std::int64_t{n} + 1;
    return;
  }
  auto& w = inv_pivot;        // columns >= k: the row being computed; < k: 1/d
  for (std::int32_t k = 1; k <= n; ++k) {
    w(k) = 0.0;
    f.row_list(k) = 0;
  }
  if (n == 0) {
    FLAG = 0;
    return;
  }
  double* const w1 = &w(1) - 1;   // w1[c] is w(c): the inv_pivot cells lie inside real_work
  for (std::int32_t k = 1; k <= n; ++k) {
    load_row(a, k, w);
    double dk = w(k);
    std::int32_t i = f.row_list(k);
    while (i != 0) {
      const std::int32_t next_i = f.row_list(i);
      if (next_i != 0) {
        const std::int32_t pn = next_entry(next_i);
        __builtin_prefetch(&factor_value(pn));
        __builtin_prefetch(&inv_pivot(next_i));
        __builtin_prefetch(
            &f.factor_column(f.factor_index_start(next_i) - f.factor_row_start(next_i) + pn));
      }
      const std::int32_t p = next_entry(i);
      const double u = factor_value(p);
      const double m = -inv_pivot(i) * u;
      factor_value(p) = m;
      const std::int32_t jmax = f.factor_row_start(i + 1) - 1;
      if (p + 1 <= jmax) {
        const std::int32_t mu = f.factor_index_start(i) - f.factor_row_start(i);
        const std::int32_t q0 = p + 1;
        const std::int32_t len = jmax - p;
        const std::int32_t c0 = f.factor_column(mu + q0);
        // The columns of a row increase strictly: the stretch is consecutive exactly when
        // its last column lies len - 1 after its first.
        if (f.factor_column(mu + jmax) - c0 == len - 1) {
          RT_CHECK_INDEX("working row", c0 + std::int64_t{len} - 1, w.n);
          add_scaled_run(&w(c0), &factor_value(q0), m, len);
        } else {
          RT_CHECK_INDEX("factor values", jmax, factor_value.n);
          RT_CHECK_INDEX("factor columns", mu + std::int64_t{jmax}, f.factor_column.n);
          add_scaled_scatter(w1, &factor_value(q0), &f.factor_column(mu + q0), m, len);
        }
        next_entry(i) = q0;
        f.row_list(i) = f.row_list(c0);
        f.row_list(c0) = i;
      }
      dk = dk + u * m;
      i = next_i;
    }
    if (!store_row(f, k, dk, w, next_entry, factor_value)) {
      FLAG = 8 * std::int64_t{n} + k;
      return;
    }
  }
  FLAG = 0;
}

// The numeric stage as plain loops, one entry at a time: the reference the tests hold the
// faster numeric_factor to, digit for digit.
void numeric_factor_reference(const permuted_matrix& a, factor_structure& f,
                              slice<std::int32_t> next_entry, slice<double> inv_pivot,
                              slice<double> factor_value, std::int64_t& FLAG) {
  const std::int32_t n = f.n;
  if (std::int64_t{f.factor_row_start(n + 1)} - 1 > factor_value.n) {
    FLAG = 7 * std::int64_t{n} + 1;
    return;
  }
  auto& w = inv_pivot;        // columns >= k: the row being computed; < k: 1/d
  for (std::int32_t k = 1; k <= n; ++k) {
    w(k) = 0.0;
    f.row_list(k) = 0;
  }
  for (std::int32_t k = 1; k <= n; ++k) {
    load_row(a, k, w);
    double dk = w(k);
    std::int32_t i = f.row_list(k);
    while (i != 0) {
      const std::int32_t next_i = f.row_list(i);
      const std::int32_t p = next_entry(i);
      const double u = factor_value(p);
      const double m = -inv_pivot(i) * u;
      factor_value(p) = m;
      const std::int32_t jmax = f.factor_row_start(i + 1) - 1;
      if (p + 1 <= jmax) {
        const std::int32_t mu = f.factor_index_start(i) - f.factor_row_start(i);
        for (std::int32_t q = p + 1; q <= jmax; ++q) {
          const std::int32_t c = f.factor_column(mu + q);
          w(c) = factor_value(q) * m + w(c);
        }
        next_entry(i) = p + 1;
        const std::int32_t c = f.factor_column(mu + p + 1);
        f.row_list(i) = f.row_list(c);
        f.row_list(c) = i;
      }
      dk = dk + u * m;
      i = next_i;
    }
    if (!store_row(f, k, dk, w, next_entry, factor_value)) {
      FLAG = 8 * std::int64_t{n} + k;
      return;
    }
  }
  FLAG = 0;
}

void factor_solve(const rt::vec1<std::int32_t>& permutation, const factor_structure& f,
                  slice<double> inv_pivot, slice<double> factor_value, slice<double> solve_work,
                  const rt::vec1<double>& b, rt::vec1<double>& solution) {
  const std::int32_t n = f.n;
  auto& s = solve_work;
  for (std::int32_t k = 1; k <= n; ++k) s(k) = b(permutation(k));
  for (std::int32_t k = 1; k <= n; ++k) {         // Ut D y = b
    const double x = s(k);
    const std::int32_t jmin = f.factor_row_start(k);
    const std::int32_t jmax = f.factor_row_start(k + 1) - 1;
    const std::int32_t mu = f.factor_index_start(k) - jmin;
    for (std::int32_t j = jmin; j <= jmax; ++j) {
      const std::int32_t c = f.factor_column(mu + j);
      s(c) = factor_value(j) * x + s(c);
    }
    s(k) = x * inv_pivot(k);
  }
  for (std::int32_t k = n; k >= 1; --k) {         // U x = y
    double y = s(k);
    const std::int32_t jmin = f.factor_row_start(k);
    const std::int32_t jmax = f.factor_row_start(k + 1) - 1;
    const std::int32_t mu = f.factor_index_start(k) - jmin;
    for (std::int32_t j = jmin; j <= jmax; ++j) {
      const std::int32_t c = f.factor_column(mu + j);
      y = y + factor_value(j) * s(c);
    }
    s(k) = y;
    solution(permutation(k)) = y;
  }
}

}  // namespace num

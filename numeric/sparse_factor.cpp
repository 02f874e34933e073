// Ut D U factorisation of a symmetric matrix in the order chosen by the minimum-degree
// ordering. The order of every floating-point operation below fixes the round-off of the
// solution, so loops run in the given directions and updates are written as they are done.
#include "numeric/sparse_factor.hpp"

#include <immintrin.h>

#include <algorithm>
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

// One row's contribution to the working row k: w(c) = x[t] * m + w(c) for the t-th of its
// len remaining columns. run: the columns are c0, c0 + 1, ... (col unused).
struct pending_update {
  const double* x;
  const std::int32_t* col;
  double m;
  std::int32_t len;
  std::int32_t c0;
  bool run;
};

// Rows of k's list taken in one sweep: the multipliers, the pivot sum and the list pushes are
// done row by row in list order; the sweep's updates of the working row follow.
constexpr int sweep_rows = 512;

// Grouped updates: rows g[0..s) that share their remaining columns are added to the working
// row together, a few rows per pass over the columns: each cell is loaded once per pass,
// receives the rows' terms one after the other in list order (product, then sum, exactly as
// one row at a time would give it), and is stored once. Vector lanes hold distinct cells and
// nothing is contracted into fused multiply-adds, so no rounding changes.
//
// The kernels are written once over a vector type of width V doubles and instantiated for
// plain x86-64 (two lanes) and, where the processor has them, 256- and 512-bit vectors.
template <int V>
struct lanes {
  typedef double vec __attribute__((vector_size(V * 8), aligned(8)));
};

template <int V, int R>
__attribute__((always_inline)) inline void add_run_rows(double* __restrict w,
                                                        const pending_update* g,
                                                        std::int32_t len) {
  using vec = typename lanes<V>::vec;
  const double* x[R];
  vec m[R];
  for (int r = 0; r < R; ++r) {
    x[r] = g[r].x;
    m[r] = g[r].m - vec{};   // the multiplier in every lane
  }
  std::int32_t t = 0;
  for (; t + 2 * V <= len; t += 2 * V) {
    vec a0 = *reinterpret_cast<const vec*>(w + t);
    vec a1 = *reinterpret_cast<const vec*>(w + t + V);
    for (int r = 0; r < R; ++r) {
      a0 = *reinterpret_cast<const vec*>(x[r] + t) * m[r] + a0;
      a1 = *reinterpret_cast<const vec*>(x[r] + t + V) * m[r] + a1;
    }
    *reinterpret_cast<vec*>(w + t) = a0;
    *reinterpret_cast<vec*>(w + t + V) = a1;
  }
  for (; t < len; ++t) {
    double a = w[t];
    for (int r = 0; r < R; ++r) a = x[r][t] * g[r].m + a;
    w[t] = a;
  }
}

template <int R>
__attribute__((always_inline)) inline void add_scatter_rows(double* __restrict w1,
                                                            const std::int32_t* __restrict col,
                                                            const pending_update* g,
                                                            std::int32_t len) {
  const double* x[R];
  double m[R];
  for (int r = 0; r < R; ++r) {
    x[r] = g[r].x;
    m[r] = g[r].m;
  }
  for (std::int32_t t = 0; t < len; ++t) {
    const std::int32_t c = col[t];
    double a = w1[c];
    for (int r = 0; r < R; ++r) a = x[r][t] * m[r] + a;
    w1[c] = a;
  }
}

// The same with the working cells gathered and scattered eight at a time (the columns of a
// stretch are distinct, so the lanes never collide).
template <int R>
__attribute__((target("avx512f"), always_inline)) inline void add_scatter_rows_avx512(
    double* __restrict w1, const std::int32_t* __restrict col, const pending_update* g,
    std::int32_t len) {
  const double* x[R];
  __m512d m[R];
  for (int r = 0; r < R; ++r) {
    x[r] = g[r].x;
    m[r] = _mm512_set1_pd(g[r].m);
  }
  std::int32_t t = 0;
  for (; t + 8 <= len; t += 8) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(col + t));
    __m512d a = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, c, w1, 8);
    for (int r = 0; r < R; ++r)
      a = _mm512_add_pd(_mm512_mul_pd(_mm512_loadu_pd(x[r] + t), m[r]), a);
    _mm512_i32scatter_pd(w1, c, a, 8);
  }
  for (; t < len; ++t) {
    const std::int32_t c = col[t];
    double a = w1[c];
    for (int r = 0; r < R; ++r) a = x[r][t] * g[r].m + a;
    w1[c] = a;
  }
}

// The rows of a group in passes of eight, then four, two and one: the passes follow the
// list order, so every cell still receives the rows' terms in that order.
template <int V>
__attribute__((always_inline)) inline void add_group_generic(double* w1,
                                                             const pending_update* g,
                                                             std::int32_t s) {
  const std::int32_t len = g[0].len;
  std::int32_t r = 0;
  if (g[0].run) {
    double* w = w1 + g[0].c0;
    for (; r + 8 <= s; r += 8) add_run_rows<V, 8>(w, g + r, len);
    if (r + 4 <= s) { add_run_rows<V, 4>(w, g + r, len); r += 4; }
    if (r + 2 <= s) { add_run_rows<V, 2>(w, g + r, len); r += 2; }
    if (r < s) add_run_rows<V, 1>(w, g + r, len);
  } else {
    const std::int32_t* col = g[0].col;
    for (; r + 8 <= s; r += 8) add_scatter_rows<8>(w1, col, g + r, len);
    if (r + 4 <= s) { add_scatter_rows<4>(w1, col, g + r, len); r += 4; }
    if (r + 2 <= s) { add_scatter_rows<2>(w1, col, g + r, len); r += 2; }
    if (r < s) add_scatter_rows<1>(w1, col, g + r, len);
  }
}

void add_group_sse2(double* w1, const pending_update* g, std::int32_t s) {
  add_group_generic<2>(w1, g, s);
}
__attribute__((target("avx2"))) void add_group_avx2(double* w1, const pending_update* g,
                                                    std::int32_t s) {
  add_group_generic<4>(w1, g, s);
}
__attribute__((target("avx512f"))) void add_group_avx512(double* w1, const pending_update* g,
                                                         std::int32_t s) {
  if (g[0].run) {
    add_group_generic<8>(w1, g, s);
    return;
  }
  const std::int32_t len = g[0].len;
  const std::int32_t* col = g[0].col;
  std::int32_t r = 0;
  for (; r + 8 <= s; r += 8) add_scatter_rows_avx512<8>(w1, col, g + r, len);
  if (r + 4 <= s) { add_scatter_rows_avx512<4>(w1, col, g + r, len); r += 4; }
  if (r + 2 <= s) { add_scatter_rows<2>(w1, col, g + r, len); r += 2; }
  if (r < s) add_scatter_rows<1>(w1, col, g + r, len);
}

using add_group_kernel = void (*)(double*, const pending_update*, std::int32_t);

bool have_vectors(factor_vectors v) {
  __builtin_cpu_init();
  switch (v) {
    case factor_vectors::avx512: return __builtin_cpu_supports("avx512f");
    case factor_vectors::avx2: return __builtin_cpu_supports("avx2");
    default: return true;
  }
}

add_group_kernel widest_add_group() {
  if (have_vectors(factor_vectors::avx512)) return add_group_avx512;
  if (have_vectors(factor_vectors::avx2)) return add_group_avx2;
  return add_group_sse2;
}

add_group_kernel add_group = widest_add_group();

// Two updates touch the same cells in the same order of columns: equal lengths and either
// the same column list or the same stretch of consecutive columns.
inline bool same_columns(const pending_update& a, const pending_update& b) {
  return a.len == b.len && (a.col == b.col || (a.run && b.run && a.c0 == b.c0));
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

namespace {

// The lists of rows waiting for a column, kept in blocks of a cache line: a list is a chain
// of blocks, each holding up to 14 rows in the order they were pushed, the newest block
// first. Walking a list in last-pushed-first order then reads the rows block by block rather
// than one linked cell at a time (each cell a separate trip to memory). Blocks freed by a
// walked list are reused. Block b is blocks(b); 0 ends a chain.
class row_lists {
 public:
  struct block {
    std::int32_t row[14];
    std::int32_t count;
    std::int32_t next;
  };

  // Blocks are written when taken: no fill.
  explicit row_lists(std::int64_t first_blocks) {
    blocks_.resize_for_overwrite(std::max<std::int64_t>(first_blocks, 64));
  }

  // Puts row at the front of the list whose first block is head (updated); returns the row
  // that was at the front before (0: none), which the linked cells would have as row's link.
  std::int32_t push(std::int32_t& head, std::int32_t row) {
    std::int32_t front = 0;
    if (head != 0) {
      block& h = blocks_(head);
      front = h.row[h.count - 1];
      if (h.count < 14) {
        h.row[h.count++] = row;
        return front;
      }
    }
    const std::int32_t b = take();
    block& nb = blocks_(b);
    nb.row[0] = row;
    nb.count = 1;
    nb.next = head;
    head = b;
    return front;
  }
  // The row at the front of the list whose first block is head (0: none).
  std::int32_t front(std::int32_t head) {
    return head != 0 ? blocks_(head).row[blocks_(head).count - 1] : 0;
  }
  block& operator()(std::int32_t b) { return blocks_(b); }
  void give_back(std::int32_t b) {
    blocks_(b).next = free_;
    free_ = b;
  }

 private:
  std::int32_t take() {
    if (free_ != 0) {
      const std::int32_t b = free_;
      free_ = blocks_(b).next;
      return b;
    }
    if (used_ == blocks_.size()) blocks_.resize_for_overwrite(2 * used_);
    return static_cast<std::int32_t>(++used_);
  }

  rt::vec1<block> blocks_;
  std::int64_t used_ = 0;
  std::int32_t free_ = 0;
};

}  // namespace

bool set_factor_vectors(factor_vectors v) {
  if (!have_vectors(v)) return false;
  switch (v) {
    case factor_vectors::widest: add_group = widest_add_group(); break;
    case factor_vectors::sse2: add_group = add_group_sse2; break;
    case factor_vectors::avx2: add_group = add_group_avx2; break;
    case factor_vectors::avx512: add_group = add_group_avx512; break;
  }
  return true;
}

namespace {

// Start of the numeric stage: checks that the factor fits (FLAG = 7n + 1 when not), clears
// the working row and the row lists. Returns whether the stage may go on.
bool start_numeric_factor(factor_structure& f, slice<double> inv_pivot,
                          slice<double> factor_value, std::int64_t& FLAG) {
  const std::int32_t n = f.n;
  if (std::int64_t{f.factor_row_start(n + 1)} - 1 > factor_value.n) {
    FLAG = 7 * std::int64_t{n} + 1;
    return false;
  }
  for (std::int32_t k = 1; k <= n; ++k) {
    inv_pivot(k) = 0.0;
    f.row_list(k) = 0;
  }
  return true;
}

}  // namespace

// The same operations as numeric_factor_reference, in the same order for every cell. What
// differs is how they are reached. Row k's list is taken in sweeps: first the multipliers,
// the pivot sum and the moves of the rows into their next lists, row by row in list order
// (none of these reads the working row), then the sweep's updates of the working row. Rows
// next to one another in the sweep that share their remaining columns (mixed-model equations
// end in a dense block, where whole runs of rows do) are added together, each cell loaded and
// stored once per few rows; a stretch of consecutive columns is added as a plain dense loop.
// What the walk needs of a row (next position, last position, column offset, last column and
// 1/d) is kept side by side in one record, and the lists of waiting rows in blocks
// (row_lists), so that a row of a list costs one memory access instead of six. The lists
// visit the rows in the same order as the linked row_list cells would. While a column waits,
// its row_list cell holds the first block of its list; every other cell, and next_entry, is
// kept as the linked lists leave it, so the work arrays end as in the plain loop.
void numeric_factor(const permuted_matrix& a, factor_structure& f,
                    slice<std::int32_t> next_entry, slice<double> inv_pivot,
                    slice<double> factor_value, std::int64_t& FLAG) {
  const std::int32_t n = f.n;
  if (!start_numeric_factor(f, inv_pivot, factor_value, FLAG)) return;
  auto& w = inv_pivot;        // columns >= k: the row being computed; < k: 1/d
  if (n == 0) {
    FLAG = 0;
    return;
  }
  struct row_state {
    double inv;            // 1/d of the row
    std::int32_t p;        // next_entry
    std::int32_t jmax;     // last position of the row in factor_value
    std::int32_t mu;       // factor_column(mu + j) is the column of position j
    std::int32_t last;     // last column of the row
  };
  rt::vec1<row_state> rs;   // written when the row is done, before any list holds it
  rs.resize_for_overwrite(n);
  row_lists lists(n / 8);
  double* const w1 = w.p - 1;   // w1[c] is w(c): the inv_pivot cells lie inside real_work
  double* const fv1 = factor_value.p - 1;   // fv1[j] is factor_value(j)
  const std::int32_t* const fc1 = f.factor_column.p - 1;   // may hold no cells at all
  // The end, after row k_done: the cells as the linked lists leave them, next_entry of the
  // rows done and the rows still waiting at the front of each list not yet walked.
  auto finish_lists = [&](std::int32_t k_done, std::int32_t n_rows) {
    for (std::int32_t i = 1; i < k_done; ++i)
      if (f.factor_row_start(i) < f.factor_row_start(i + 1)) next_entry(i) = rs(i).p;
    for (std::int32_t c = k_done + 1; c <= n_rows; ++c) f.row_list(c) = lists.front(f.row_list(c));
  };
  pending_update sweep[sweep_rows];
  std::int32_t ids[sweep_rows];
  for (std::int32_t k = 1; k <= n; ++k) {
    load_row(a, k, w);
    double dk = w(k);
    std::int32_t b = f.row_list(k);
    std::int32_t at = b != 0 ? lists(b).count : 0;   // rows still to take from block b
    f.row_list(k) = lists.front(b);   // from now on the cell is row k's link, as linked
    while (b != 0) {
      // The rows of this sweep, newest first, their records and first cells fetched.
      std::int32_t count = 0;
      while (b != 0 && count < sweep_rows - 14) {
        const row_lists::block& blk = lists(b);
        while (at > 0) {
          const std::int32_t i = blk.row[--at];
          __builtin_prefetch(&rs(i));
          ids[count++] = i;
        }
        const std::int32_t next = blk.next;
        lists.give_back(b);
        b = next;
        at = b != 0 ? lists(b).count : 0;
      }
      for (std::int32_t t = 0; t < count; ++t) {
        const row_state& r = rs(ids[t]);
        __builtin_prefetch(fv1 + r.p);
        __builtin_prefetch(fc1 + r.mu + r.p + 1);
      }
      std::int32_t updates = 0;
      for (std::int32_t t = 0; t < count; ++t) {
        row_state& r = rs(ids[t]);
        const std::int32_t p = r.p;
        const double u = fv1[p];
        const double m = -r.inv * u;
        fv1[p] = m;
        if (p < r.jmax) {
          const std::int32_t q0 = p + 1;
          const std::int32_t len = r.jmax - p;
          // The row waits for k: its columns from position p on are k .. last, consecutive
          // exactly when there are as many positions as columns.
          const bool run = r.last - k == len;
          const std::int32_t c0 = run ? k + 1 : fc1[r.mu + q0];
          RT_CHECK_INDEX("factor values", r.jmax, factor_value.n);
          RT_CHECK_INDEX("factor columns", r.mu + std::int64_t{r.jmax}, f.factor_column.n);
          RT_CHECK_INDEX("working row", c0 + std::int64_t{len} - 1, w.n);
          pending_update& d = sweep[updates++];
          d.x = fv1 + q0;
          d.col = fc1 + r.mu + q0;
          d.m = m;
          d.len = len;
          d.c0 = c0;
          d.run = run;
          r.p = q0;
          f.row_list(ids[t]) = lists.push(f.row_list(c0), ids[t]);
        }
        dk = dk + u * m;
      }
      for (std::int32_t t = 0; t < updates;) {
        std::int32_t e = t + 1;
        while (e < updates && same_columns(sweep[e], sweep[t])) ++e;
        add_group(w1, sweep + t, e - t);
        t = e;
      }
    }
    if (dk == 0.0) {
      finish_lists(k, n);
      FLAG = 8 * std::int64_t{n} + k;
      return;
    }
    const double inv = 1.0 / dk;
    w(k) = inv;   // inv_pivot(k): the working row's cell k
    row_state& r = rs(k);
    r.inv = inv;
    const std::int32_t jmin = f.factor_row_start(k);
    const std::int32_t jmax = f.factor_row_start(k + 1) - 1;
    if (jmin <= jmax) {
      const std::int32_t mu = f.factor_index_start(k) - jmin;
      for (std::int32_t j = jmin; j <= jmax; ++j) {
        const std::int32_t c = fc1[mu + j];
        fv1[j] = w1[c];
        w1[c] = 0.0;
      }
      r.p = jmin;
      r.jmax = jmax;
      r.mu = mu;
      r.last = fc1[mu + jmax];
      f.row_list(k) = lists.push(f.row_list(fc1[mu + jmin]), k);
    }
  }
  finish_lists(n, n);
  FLAG = 0;
}

// The numeric stage as plain loops, one entry at a time: the reference the tests hold the
// faster numeric_factor to, digit for digit.
void numeric_factor_reference(const permuted_matrix& a, factor_structure& f,
                              slice<std::int32_t> next_entry, slice<double> inv_pivot,
                              slice<double> factor_value, std::int64_t& FLAG) {
  const std::int32_t n = f.n;
  if (!start_numeric_factor(f, inv_pivot, factor_value, FLAG)) return;
  auto& w = inv_pivot;        // columns >= k: the row being computed; < k: 1/d
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

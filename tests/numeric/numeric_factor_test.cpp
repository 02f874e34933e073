// The numeric stage against its plain entry-by-entry loop: the same factor values, inverse
// pivots and solution bit for bit, on systems whose factor rows hold long stretches of
// consecutive columns (a dense block eliminated last) as well as rows with gaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "numeric/sparse_factor.hpp"
#include "numeric/sparse_solver.hpp"
#include "numeric/work_slice.hpp"
#include "tests/numeric/solver_test_util.hpp"

namespace {

using solver_test::triangle;

// A symmetric positive definite system with a sparse part (random links between n_sparse
// equations, a chain among some of them) and a dense block of n_dense equations linked to
// one another and each to a random share of the sparse equations (so factor rows meet the
// block with gaps). Diagonals dominate: every pivot is positive.
triangle sparse_and_dense(std::int32_t n_sparse, std::int32_t n_dense, double dense_share,
                          bool dense_first, unsigned seed) {
  const std::int32_t n = n_sparse + n_dense;
  triangle t(n);
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> row_sum(n + 1, 0.0);
  const std::int32_t s0 = dense_first ? n_dense : 0;      // sparse equation s is s0 + s
  const std::int32_t d0 = dense_first ? 0 : n_sparse;     // dense equation d is d0 + d
  auto link = [&](std::int32_t i, std::int32_t j) {
    const double v = u(g) * 2.0 - 1.0;
    t.add(i, j, v);
    row_sum[i] += std::fabs(v);
    row_sum[j] += std::fabs(v);
  };
  for (std::int32_t s = 1; s <= n_sparse; ++s) {
    const std::int32_t links = 1 + static_cast<std::int32_t>(u(g) * 3);
    for (std::int32_t l = 0; l < links; ++l) {
      const std::int32_t r = 1 + static_cast<std::int32_t>(u(g) * n_sparse) % n_sparse;
      if (r != s) link(s0 + s, s0 + r);
    }
    if (s > 1 && s % 7 != 0) link(s0 + s - 1, s0 + s);
    for (std::int32_t d = 1; d <= n_dense; ++d)
      if (u(g) < dense_share) link(s0 + s, d0 + d);
  }
  for (std::int32_t d = 1; d <= n_dense; ++d)
    for (std::int32_t e = d + 1; e <= n_dense; ++e) link(d0 + d, d0 + e);
  // Entries that cancel: a diagonal-dominant matrix whose rows are not all of one scale.
  for (std::int32_t i = 1; i <= n; ++i) t.add(i, i, row_sum[i] * (1.0 + u(g)) + 0.5);
  return t;
}

// One system ordered (or reordered by the identity) and taken through the symbolic stage.
struct factored {
  std::int32_t n;
  rt::vec1<std::int32_t> row_start, column, permutation, inverse_permutation, int_work;
  rt::vec1<double> value, b, solution, real_work;
  std::int64_t work_size = 0, spare = 0, FLAG = -1;

  factored(const triangle& t, bool identity_order) : n(t.n) {
    t.to_arrays(row_start, column, value);
    permutation.assign(n);
    inverse_permutation.assign(n);
    for (std::int32_t i = 1; i <= n; ++i) permutation(i) = inverse_permutation(i) = i;
    // Without an ordering the dense block fills the factor: room for the whole triangle.
    work_size = 2 * num::solver_work_size(n, t.nnz());
    if (identity_order) work_size = std::max(work_size, 8 * std::int64_t{n} + std::int64_t{n} * n);
    int_work.assign(work_size);
    real_work.assign(work_size);
    b.assign(n);
    solution.assign(n, -1.0);
    for (std::int32_t i = 1; i <= n; ++i) b(i) = std::cos(0.3 * i) * 10.0;
    num::ODRV(n, row_start, column, value, permutation, inverse_permutation, work_size,
              int_work, identity_order ? 3 : 2, FLAG);
    EXPECT_EQ(FLAG, 0);
    num::SDRV(n, permutation, inverse_permutation, row_start, column, value, b, solution,
              work_size, int_work, real_work, spare, 4, FLAG);
    EXPECT_EQ(FLAG, 0);
  }
};

// The pieces of the work arrays as the numeric stage and the solve use them.
struct pieces {
  num::factor_structure f;
  num::slice<std::int32_t> next_entry;
  num::slice<double> solve_work, inv_pivot, factor_value;

  pieces(std::int32_t n, std::int64_t work_size, rt::vec1<std::int32_t>& iw,
         rt::vec1<double>& rw) {
    const std::int64_t N = n;
    const std::int64_t used = iw(N);
    const std::int64_t e0 = 3 * N + 2 + used;
    const std::int64_t t = e0 / 2 + 1;
    f.n = n;
    f.factor_index_start = num::carve(iw, 1, N);
    f.factor_row_start = num::carve(iw, N + 1, N + 1);
    f.row_list = num::carve(iw, 2 * N + 2, N);
    f.factor_column = num::carve(iw, 3 * N + 2, used);
    next_entry = num::carve(iw, e0, N);
    solve_work = num::carve(rw, t, N);
    inv_pivot = num::carve(rw, t + N, N);
    factor_value = num::carve(rw, t + 2 * N, work_size + 1 - (t + 2 * N));
  }
};

struct stretch_counts {
  std::int64_t long_runs = 0;     // rows with 16 or more consecutive columns in a row
  std::int64_t gapped_rows = 0;   // rows whose columns skip at least one number
};

stretch_counts count_stretches(const num::factor_structure& f) {
  stretch_counts s;
  for (std::int32_t k = 1; k <= f.n; ++k) {
    const std::int32_t jmin = f.factor_row_start(k), jmax = f.factor_row_start(k + 1) - 1;
    const std::int32_t mu = f.factor_index_start(k) - jmin;
    std::int32_t run = 1, longest = jmin <= jmax ? 1 : 0;
    bool gap = false;
    for (std::int32_t j = jmin + 1; j <= jmax; ++j) {
      if (f.factor_column(mu + j) == f.factor_column(mu + j - 1) + 1) {
        longest = std::max(longest, ++run);
      } else {
        run = 1;
        gap = true;
      }
    }
    s.long_runs += longest >= 16;
    s.gapped_rows += gap;
  }
  return s;
}

bool same_bits(const rt::vec1<double>& x, const rt::vec1<double>& y) {
  return x.size() == y.size() &&
         std::memcmp(x.data(), y.data(), static_cast<std::size_t>(x.size()) * sizeof(double)) == 0;
}

// Runs the fast stage through SDRV (numeric and solve) and the reference by hand on a copy
// of the symbolic factor; the whole work arrays and the solution must agree bit for bit.
void expect_same_as_reference_once(const triangle& t, bool identity_order) {
  factored fast(t, identity_order);
  ASSERT_EQ(fast.FLAG, 0);
  rt::vec1<std::int32_t> iw = fast.int_work;
  rt::vec1<double> rw = fast.real_work;
  rt::vec1<double> reference_solution(fast.n, -1.0);

  pieces ref(fast.n, fast.work_size, iw, rw);
  const stretch_counts s = count_stretches(ref.f);
  EXPECT_GT(s.long_runs, 0) << "no row with a long consecutive stretch";
  EXPECT_GT(s.gapped_rows, 0) << "no row with gaps";

  const num::permuted_matrix a{fast.permutation, fast.inverse_permutation, fast.row_start,
                               fast.column, fast.value};
  std::int64_t flag = -1;
  num::numeric_factor_reference(a, ref.f, ref.next_entry, ref.inv_pivot, ref.factor_value,
                                flag);
  ASSERT_EQ(flag, 0);
  num::factor_solve(fast.permutation, ref.f, ref.inv_pivot, ref.factor_value, ref.solve_work,
                    fast.b, reference_solution);

  num::SDRV(fast.n, fast.permutation, fast.inverse_permutation, fast.row_start, fast.column,
            fast.value, fast.b, fast.solution, fast.work_size, fast.int_work, fast.real_work,
            fast.spare, 2, fast.FLAG);
  ASSERT_EQ(fast.FLAG, 0);

  pieces got(fast.n, fast.work_size, fast.int_work, fast.real_work);
  std::int64_t differing_values = 0, differing_pivots = 0;
  for (std::int64_t j = 1; j < got.f.factor_row_start(fast.n + 1); ++j)
    differing_values += std::memcmp(&got.factor_value(j), &ref.factor_value(j), 8) != 0;
  for (std::int32_t k = 1; k <= fast.n; ++k)
    differing_pivots += std::memcmp(&got.inv_pivot(k), &ref.inv_pivot(k), 8) != 0;
  EXPECT_EQ(differing_values, 0);
  EXPECT_EQ(differing_pivots, 0);
  EXPECT_TRUE(same_bits(fast.solution, reference_solution));
  EXPECT_TRUE(same_bits(fast.real_work, rw)) << "work arrays differ";
  EXPECT_TRUE(fast.int_work.size() == iw.size() &&
              std::memcmp(fast.int_work.data(), iw.data(),
                          static_cast<std::size_t>(iw.size()) * 4) == 0);

  // The factor is a factor: the solution satisfies the system.
  std::vector<double> x(fast.n);
  for (std::int32_t i = 1; i <= fast.n; ++i) x[i - 1] = fast.solution(i);
  const std::vector<double> ax = t.times(x);
  double worst = 0.0;
  for (std::int32_t i = 1; i <= fast.n; ++i)
    worst = std::max(worst, std::fabs(ax[i - 1] - fast.b(i)));
  EXPECT_LT(worst, 1e-8);
}

// The same with each kind of vector instructions the processor has: all must give the
// reference's bits.
void expect_same_as_reference(const triangle& t, bool identity_order) {
  for (num::factor_vectors v : {num::factor_vectors::sse2, num::factor_vectors::avx2,
                                num::factor_vectors::avx512}) {
    if (!num::set_factor_vectors(v)) continue;
    SCOPED_TRACE(static_cast<int>(v));
    expect_same_as_reference_once(t, identity_order);
  }
  num::set_factor_vectors(num::factor_vectors::widest);
}

// Many rows of the same structure: n_rows rows in runs of like rows, each run linked to the
// same columns of a dense block of n_dense equations at the end (all of them, every second
// or third one, or a fixed random share), some rows also to a neighbour (which breaks their
// likeness). The block's columns are then waited for by hundreds of rows, most of them in
// long runs of rows that share their column lists, some with consecutive columns and some
// with gaps.
triangle like_rows_and_dense_tail(std::int32_t n_rows, std::int32_t n_dense, std::int32_t run,
                                  unsigned seed) {
  const std::int32_t n = n_rows + n_dense;
  triangle t(n);
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> row_sum(n + 1, 0.0);
  auto link = [&](std::int32_t i, std::int32_t j) {
    const double v = u(g) * 2.0 - 1.0;
    t.add(i, j, v);
    row_sum[i] += std::fabs(v);
    row_sum[j] += std::fabs(v);
  };
  std::vector<std::vector<std::int32_t>> patterns(4);
  for (std::int32_t d = 1; d <= n_dense; ++d) {
    patterns[0].push_back(d);
    if (d % 2 == 0) patterns[1].push_back(d);
    if (d % 3 != 1) patterns[2].push_back(d);
    if (u(g) < 0.4) patterns[3].push_back(d);
  }
  for (std::int32_t i = 1; i <= n_rows; ++i) {
    const auto& pattern = patterns[((i - 1) / run) % 4];
    for (std::int32_t d : pattern) link(i, n_rows + d);
    if (i > 1 && u(g) < 0.03) link(i - 1, i);
  }
  for (std::int32_t d = 1; d <= n_dense; ++d)
    for (std::int32_t e = d + 1; e <= n_dense; ++e) link(n_rows + d, n_rows + e);
  for (std::int32_t i = 1; i <= n; ++i) t.add(i, i, row_sum[i] * (1.0 + u(g)) + 0.5);
  return t;
}

TEST(NumericFactor, LongRunsOfLikeRowsBeforeADenseTail) {
  // Lists of more than 512 rows (taken in several sweeps), groups of like rows of every size
  // from 1 to far more than 8, with and without gaps in their columns.
  const triangle t = like_rows_and_dense_tail(1400, 48, 37, 31);
  {
    factored probe(t, true);
    pieces p(probe.n, probe.work_size, probe.int_work, probe.real_work);
    std::vector<std::int32_t> waiting(probe.n + 1, 0);   // rows whose columns hold c
    std::int32_t shared_lists = 0;                       // rows reusing the row before's list
    for (std::int32_t k = 1; k <= probe.n; ++k) {
      const std::int32_t jmin = p.f.factor_row_start(k), jmax = p.f.factor_row_start(k + 1) - 1;
      const std::int32_t mu = p.f.factor_index_start(k) - jmin;
      for (std::int32_t j = jmin; j <= jmax; ++j) ++waiting[p.f.factor_column(mu + j)];
      if (k > 1 && jmin <= jmax && p.f.factor_index_start(k) == p.f.factor_index_start(k - 1))
        ++shared_lists;
    }
    EXPECT_GT(*std::max_element(waiting.begin(), waiting.end()), 1000);
    EXPECT_GT(shared_lists, 1000);
  }
  expect_same_as_reference(t, true);
  expect_same_as_reference(like_rows_and_dense_tail(700, 30, 5, 32), true);
  expect_same_as_reference(like_rows_and_dense_tail(900, 40, 11, 33), false);
}

TEST(NumericFactor, DenseBlockLastInTheGivenOrder) {
  // Without an ordering the dense block comes last: its rows are runs to the end, the sparse
  // rows meet it with gaps.
  expect_same_as_reference(sparse_and_dense(300, 60, 0.3, false, 11), true);
}

TEST(NumericFactor, DenseBlockFirstInTheGivenOrder) {
  // The block first: it fills the whole factor behind it, long runs everywhere.
  expect_same_as_reference(sparse_and_dense(150, 20, 0.2, true, 12), true);
}

TEST(NumericFactor, MinimumDegreeOrderOfMixedSystems) {
  for (unsigned seed : {21u, 22u, 23u}) {
    SCOPED_TRACE(seed);
    expect_same_as_reference(sparse_and_dense(800, 90, 0.15, seed % 2 == 0, seed), false);
  }
  expect_same_as_reference(solver_test::mixed_model(3, 40, 1500, 0.7, 24), false);
  expect_same_as_reference(solver_test::herd_pedigree_model(3000, 2, 60, 4, 6, 25), false);
}

TEST(NumericFactor, ZeroPivotStopsAtTheSameRow) {
  // Rows 1 and 2 are equal: the second pivot cancels to exactly 0.0 in both loops, which
  // leave the work arrays alike (the working row, the lists of the rows still waiting).
  triangle t(40);
  for (std::int32_t i = 3; i <= 40; ++i) {
    t.add(i, i, 4.0);
    for (std::int32_t j = i + 1; j <= 40; ++j) t.add(i, j, 0.01);
  }
  t.add(1, 1, 2.0);
  t.add(2, 2, 2.0);
  t.add(1, 2, 2.0);
  for (std::int32_t j = 3; j <= 40; ++j) {
    t.add(1, j, 0.5);
    t.add(2, j, 0.5);
  }
  for (num::factor_vectors v : {num::factor_vectors::sse2, num::factor_vectors::avx2,
                                num::factor_vectors::avx512}) {
    if (!num::set_factor_vectors(v)) continue;
    SCOPED_TRACE(static_cast<int>(v));
    factored fast(t, true);
    rt::vec1<std::int32_t> iw = fast.int_work;
    rt::vec1<double> rw = fast.real_work;
    pieces ref(fast.n, fast.work_size, iw, rw);
    const num::permuted_matrix a{fast.permutation, fast.inverse_permutation, fast.row_start,
                                 fast.column, fast.value};
    std::int64_t flag = -1;
    num::numeric_factor_reference(a, ref.f, ref.next_entry, ref.inv_pivot, ref.factor_value,
                                  flag);
    EXPECT_EQ(flag, 8 * 40 + 2);
    num::SDRV(fast.n, fast.permutation, fast.inverse_permutation, fast.row_start, fast.column,
              fast.value, fast.b, fast.solution, fast.work_size, fast.int_work, fast.real_work,
              fast.spare, 6, fast.FLAG);
    EXPECT_EQ(fast.FLAG, 8 * 40 + 2);
    EXPECT_TRUE(same_bits(fast.real_work, rw));
    EXPECT_TRUE(std::memcmp(fast.int_work.data(), iw.data(),
                            static_cast<std::size_t>(iw.size()) * 4) == 0);
  }
  num::set_factor_vectors(num::factor_vectors::widest);
}

}  // namespace

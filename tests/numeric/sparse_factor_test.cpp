// SDRV: solutions against a dense solve, shared column lists, the work-space query and
// every FLAG code.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numeric/sparse_solver.hpp"
#include "tests/numeric/solver_test_util.hpp"

namespace {

using solver_test::triangle;

// Store, permutation and work arrays of one system, ordered by ODRV unless asked not to.
struct system {
  std::int32_t n;
  rt::vec1<std::int32_t> row_start, column, permutation, inverse_permutation, int_work;
  rt::vec1<double> value, b, solution, real_work;
  std::int64_t work_size = 0, spare = -99, FLAG = -1;

  // identity_order: no ordering, only the reordering by the given (identity or reversed)
  // order; such orders fill in more, so work_size may be given larger.
  system(const triangle& t, bool identity_order = false, std::int64_t ws = 0,
         bool reversed = false)
      : n(t.n) {
    t.to_arrays(row_start, column, value);
    permutation.assign(n);
    inverse_permutation.assign(n);
    work_size = ws > 0 ? ws : num::solver_work_size(n, t.nnz());
    int_work.assign(work_size);
    real_work.assign(work_size);
    b.assign(n);
    solution.assign(n, -1.0);
    for (std::int32_t i = 1; i <= n; ++i) {
      b(i) = std::sin(1.0 + i);
      permutation(i) = inverse_permutation(i) = reversed ? n + 1 - i : i;
    }
    std::int64_t f = -1;
    num::ODRV(n, row_start, column, value, permutation, inverse_permutation, work_size,
              int_work, identity_order ? 3 : 2, f);
    EXPECT_EQ(f, 0);
  }
  void run(std::int32_t stages, std::int64_t ws) {
    num::SDRV(n, permutation, inverse_permutation, row_start, column, value, b, solution, ws,
              int_work, real_work, spare, stages, FLAG);
  }
  void run(std::int32_t stages) { run(stages, work_size); }
};

// Dense symmetric solve by Gaussian elimination with partial pivoting (0-based).
std::vector<double> dense_solve(const triangle& t, std::vector<double> rhs) {
  const int n = t.n;
  std::vector<double> a(static_cast<std::size_t>(n) * n, 0.0);
  auto at = [&](int i, int j) -> double& { return a[static_cast<std::size_t>(i) * n + j]; };
  for (int i = 1; i <= n; ++i)
    for (auto [c, v] : t.rows[i - 1]) {
      at(i - 1, c - 1) += v;
      if (c != i) at(c - 1, i - 1) += v;
    }
  for (int k = 0; k < n; ++k) {
    int piv = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(at(i, k)) > std::fabs(at(piv, k))) piv = i;
    if (piv != k) {
      for (int j = 0; j < n; ++j) std::swap(at(k, j), at(piv, j));
      std::swap(rhs[k], rhs[piv]);
    }
    for (int i = k + 1; i < n; ++i) {
      const double m = at(i, k) / at(k, k);
      if (m == 0.0) continue;
      for (int j = k; j < n; ++j) at(i, j) -= m * at(k, j);
      rhs[i] -= m * rhs[k];
    }
  }
  std::vector<double> x(n);
  for (int i = n - 1; i >= 0; --i) {
    double s = rhs[i];
    for (int j = i + 1; j < n; ++j) s -= at(i, j) * x[j];
    x[i] = s / at(i, i);
  }
  return x;
}

double relative_error(const system& s, const std::vector<double>& x) {
  double num = 0.0, den = 0.0;
  for (int i = 1; i <= s.n; ++i) {
    num = std::max(num, std::fabs(s.solution(i) - x[i - 1]));
    den = std::max(den, std::fabs(x[i - 1]));
  }
  return num / den;
}

TEST(Sdrv, DiagonalMatrixSolvesByReciprocals) {
  triangle t(4);
  const double d[4] = {3.0, 7.0, 0.1, 9.5};
  for (int i = 1; i <= 4; ++i) t.add(i, i, d[i - 1]);
  system s(t);
  s.run(1);
  ASSERT_EQ(s.FLAG, 0);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(s.solution(i), s.b(i) * (1.0 / d[i - 1]));
  EXPECT_EQ(num::SDRV_sizes(4, s.int_work).factor_entries, 0);
}

TEST(Sdrv, MixedModelSystemsMatchADenseSolve) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const auto t = solver_test::mixed_model(3, 12, 250 + 20 * seed, 0.6, seed);
    std::vector<double> rhs(t.n);
    system s(t);
    for (int i = 1; i <= t.n; ++i) rhs[i - 1] = s.b(i);
    s.run(1);
    ASSERT_EQ(s.FLAG, 0);
    EXPECT_GE(s.spare, 0);
    EXPECT_LT(relative_error(s, dense_solve(t, rhs)), 1e-10) << "seed " << seed;
    // The same factor serves a second right-hand side (solve only).
    for (int i = 1; i <= t.n; ++i) rhs[i - 1] = s.b(i) = std::cos(0.3 * i);
    s.FLAG = 77;
    s.run(3);
    EXPECT_EQ(s.FLAG, 0);
    EXPECT_LT(relative_error(s, dense_solve(t, rhs)), 1e-10);
    // Without the ordering (identity order) the answer agrees as well.
    system id(t, true, std::int64_t{t.n} * t.n);
    for (int i = 1; i <= t.n; ++i) id.b(i) = rhs[i - 1];
    id.run(1);
    ASSERT_EQ(id.FLAG, 0);
    EXPECT_LT(relative_error(id, dense_solve(t, rhs)), 1e-10);
  }
}

TEST(Sdrv, StagesInTurnGiveTheSameDigitsAsOneCall) {
  const auto t = solver_test::mixed_model(2, 8, 150, 0.7, 42);
  system one(t), split(t);
  one.run(1);
  ASSERT_EQ(one.FLAG, 0);
  split.run(4);
  ASSERT_EQ(split.FLAG, 0);
  split.run(6);
  ASSERT_EQ(split.FLAG, 0);
  split.run(3);
  ASSERT_EQ(split.FLAG, 0);
  for (int i = 1; i <= t.n; ++i) EXPECT_EQ(one.solution(i), split.solution(i));
  system five(t);
  five.run(5);
  five.run(3);
  for (int i = 1; i <= t.n; ++i) EXPECT_EQ(one.solution(i), five.solution(i));
}

TEST(Sdrv, RowsWithTheSameColumnsShareOneList) {
  // In the identity order rows 1 and 2 both hold columns 3 and 4: row 2 points at row 1's
  // list; row 3 (rows 1 and 2 wait for it) takes the tail of that list.
  triangle t(4);
  for (int i = 1; i <= 4; ++i) t.add(i, i, 10.0);
  t.add(1, 3, 1.0);
  t.add(1, 4, 2.0);
  t.add(2, 3, 3.0);
  t.add(2, 4, 4.0);
  system s(t, true);
  s.run(4);
  ASSERT_EQ(s.FLAG, 0);
  const auto z = num::SDRV_sizes(4, s.int_work);
  EXPECT_EQ(z.column_entries, 2);     // 3, 4 written once
  EXPECT_EQ(z.factor_entries, 5);     // rows 1, 2: two each; row 3: column 4
  EXPECT_EQ(s.int_work(1), 1);        // factor_index_start of rows 1 .. 3
  EXPECT_EQ(s.int_work(2), 1);
  EXPECT_EQ(s.int_work(3), 2);
  EXPECT_EQ(s.int_work(14), 3);       // factor_column from 3n + 2
  EXPECT_EQ(s.int_work(15), 4);
  s.run(2);
  ASSERT_EQ(s.FLAG, 0);
  std::vector<double> rhs(4);
  for (int i = 1; i <= 4; ++i) rhs[i - 1] = s.b(i);
  EXPECT_LT(relative_error(s, dense_solve(t, rhs)), 1e-14);
}

TEST(SdrvFlag, StagesOutOfRange) {
  triangle t(3);
  for (int i = 1; i <= 3; ++i) t.add(i, i, 1.0);
  system s(t);
  for (int stages : {0, 7}) {
    s.run(stages);
    EXPECT_EQ(s.FLAG, 11 * 3 + 1);
    EXPECT_EQ(s.spare, -99);
    EXPECT_EQ(s.solution(1), -1.0);
  }
}

TEST(SdrvFlag, WorkSpaceTooSmall) {
  triangle t(4);   // dense 4 x 4: rows 2 and 3 reuse row 1's list, six factor entries
  for (int i = 1; i <= 4; ++i)
    for (int j = i; j <= 4; ++j) t.add(i, j, i == j ? 10.0 : 1.0);
  system s(t, true);
  s.run(1, 5 * 4 + 1);   // column_capacity 0
  EXPECT_EQ(s.FLAG, 10 * 4 + 1);
  s.run(4, 5 * 4 + 1 + 2);   // capacity 2: row 1 needs 3 columns
  EXPECT_EQ(s.FLAG, 6 * 4 + 1);
  s.run(4, 5 * 4 + 1 + 3);
  EXPECT_EQ(s.FLAG, 0);
  const auto z = num::SDRV_sizes(4, s.int_work);
  EXPECT_EQ(z.column_entries, 3);
  EXPECT_EQ(z.factor_entries, 6);
  // e0 = 3n + 2 + 3 = 17, t = 9: factor_value starts at 17; 22 cells hold all six.
  EXPECT_EQ(z.work_needed, 22);
  s.run(2, 20);   // four factor cells
  EXPECT_EQ(s.FLAG, 7 * 4 + 1);
  EXPECT_EQ(s.spare, -2);
  s.run(3, 16);   // no factor cell at all
  EXPECT_EQ(s.FLAG, 10 * 4 + 1);
  s.run(6, 16);
  EXPECT_EQ(s.FLAG, 10 * 4 + 1);
  s.run(2, 12);   // not even the index arrays
  EXPECT_EQ(s.FLAG, 10 * 4 + 1);
  EXPECT_EQ(s.solution(1), -1.0);
  s.run(2, z.work_needed);   // grown to the size the symbolic stage asked for
  EXPECT_EQ(s.FLAG, 0);
  EXPECT_EQ(s.spare, 0);
  std::vector<double> rhs(4);
  for (int i = 1; i <= 4; ++i) rhs[i - 1] = s.b(i);
  EXPECT_LT(relative_error(s, dense_solve(t, rhs)), 1e-14);
}

TEST(SdrvFlag, WorkNeededLetsACallerGrowTheArrays) {
  const auto t = solver_test::mixed_model(4, 10, 400, 0.9, 5);
  system probe(t);
  probe.run(4);
  ASSERT_EQ(probe.FLAG, 0);
  // Just enough room for the column lists: the factor itself cannot fit.
  const std::int64_t small = 5 * t.n + 1 + num::SDRV_sizes(t.n, probe.int_work).column_entries;
  system s(t);
  s.int_work.resize(small);
  s.real_work.resize(small);
  s.run(4, small);
  ASSERT_EQ(s.FLAG, 0);
  const auto z = num::SDRV_sizes(t.n, s.int_work);
  ASSERT_GT(z.work_needed, small);
  s.run(2, small);
  EXPECT_EQ(s.FLAG, 7 * std::int64_t{t.n} + 1);
  EXPECT_EQ(s.spare, small - z.work_needed);
  s.int_work.resize(z.work_needed);
  s.real_work.resize(z.work_needed);
  s.run(2, z.work_needed);
  ASSERT_EQ(s.FLAG, 0);
  system ref(t);
  ref.run(1);
  for (int i = 1; i <= t.n; ++i) EXPECT_EQ(s.solution(i), ref.solution(i));
}

TEST(SdrvFlag, DuplicateColumnNamesTheInputRow) {
  triangle t(4);
  for (int i = 1; i <= 4; ++i) t.add(i, i, 5.0);
  t.add(1, 2, 1.0);
  t.append(3, 4, 1.0);
  t.append(3, 4, 1.0);
  // Reversed order: both copies of (3, 4) move to input row 4, the first row of the order.
  system s(t, true, 0, true);
  s.run(1);
  EXPECT_EQ(s.FLAG, 2 * 4 + 4);
  EXPECT_EQ(s.solution(1), -1.0);
}

TEST(SdrvFlag, ZeroPivot) {
  triangle one(1);
  one.add(1, 1, 0.0);
  system s1(one);
  s1.run(1);
  EXPECT_EQ(s1.FLAG, 9);
  // 1 1 / 1 1 / 0 0 1 in the identity order: the pivot of row 2 cancels to 0.0 exactly.
  triangle t(3);
  t.add(1, 1, 1.0);
  t.add(1, 2, 1.0);
  t.add(2, 2, 1.0);
  t.add(3, 3, 1.0);
  system s(t, true);
  s.run(1);
  EXPECT_EQ(s.FLAG, 8 * 3 + 2);
  EXPECT_EQ(s.solution(1), -1.0);
  // A pivot merely tiny is accepted: no tolerance.
  t.add(2, 2, std::ldexp(1.0, -40));
  system u(t, true);
  u.run(1);
  EXPECT_EQ(u.FLAG, 0);
}

}  // namespace

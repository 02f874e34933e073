// The one solve of the mixed-model equations: work space that grows when the symbolic factor
// needs more than three cells per equation and six per stored entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "numeric/solve_equations.hpp"
#include "numeric/sparse_solver.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "tests/numeric/solver_test_util.hpp"

namespace {

using solver_test::triangle;

// A random graph of n equations and edges_per_row * n edges, diagonally dominant. Minimum
// degree cannot avoid heavy fill on such a graph, and its rows rarely share column lists.
triangle random_graph(std::int32_t n, double edges_per_row, unsigned seed) {
  triangle t(n);
  std::mt19937_64 g(seed);
  for (std::int32_t i = 1; i <= n; ++i) t.add(i, i, 2.0 * edges_per_row + 1.0 + 0.001 * i);
  const auto edges = static_cast<std::int64_t>(edges_per_row * n);
  for (std::int64_t e = 0; e < edges; ++e) {
    const auto i = static_cast<std::int32_t>(1 + g() % n);
    const auto j = static_cast<std::int32_t>(1 + g() % n);
    if (i != j) t.add(i, j, -1.0 + 0.5 * std::sin(static_cast<double>(e)));
  }
  return t;
}

struct solve_arrays {
  std::int32_t n;
  num::sparse_store store;
  rt::vec1<double> rhs, solution, real_work;
  rt::vec1<std::int32_t> permutation, inverse_permutation, int_work;
  std::int64_t work_size = 0, spare = 0, FLAG = -1;
  std::int32_t stages = 0;

  explicit solve_arrays(const triangle& t) : n(t.n) {
    store.order = n;
    t.to_arrays(store.row_start, store.column, store.value);
    rhs.assign(n);
    solution.assign(n);
    for (std::int32_t i = 1; i <= n; ++i) rhs(i) = std::cos(0.3 * i);
  }
  void solve() {
    num::solve_equations(n, store, rhs, solution, work_size, permutation, inverse_permutation,
                         int_work, real_work, spare, stages, FLAG);
  }
};

// The reference: the same order, then all SDRV stages in one call with ample work space.
struct reference {
  std::int64_t column_entries = 0;
  std::int64_t flag_at_first_size = -1;
  rt::vec1<double> solution;
};

reference solve_with_ample_space(const triangle& t, const rt::vec1<double>& rhs) {
  const std::int32_t n = t.n;
  rt::vec1<std::int32_t> row_start, column, p(n), ip(n), iw;
  rt::vec1<double> value, rw;
  t.to_arrays(row_start, column, value);
  const std::int64_t first = num::solver_work_size(n, t.nnz());
  iw.assign(first);
  std::int64_t FLAG = -1, spare = 0;
  num::ODRV(n, row_start, column, value, p, ip, first, iw, 2, FLAG);
  EXPECT_EQ(FLAG, 0);
  reference r;
  r.solution.assign(n);
  num::SDRV(n, p, ip, row_start, column, value, rhs, r.solution, first, iw, rw, spare, 4,
            r.flag_at_first_size);
  const std::int64_t ample = 8 * first;
  iw.assign(ample);
  rw.assign(ample);
  num::SDRV(n, p, ip, row_start, column, value, rhs, r.solution, ample, iw, rw, spare, 4, FLAG);
  EXPECT_EQ(FLAG, 0);
  const num::factor_sizes z = num::SDRV_sizes(n, iw);
  r.column_entries = z.column_entries;
  const std::int64_t room = std::max(ample, z.work_needed);
  iw.resize(room);
  rw.assign(room);
  num::SDRV(n, p, ip, row_start, column, value, rhs, r.solution, room, iw, rw, spare, 2, FLAG);
  EXPECT_EQ(FLAG, 0);
  return r;
}

double relative_residual(const triangle& t, const rt::vec1<double>& x,
                         const rt::vec1<double>& b) {
  std::vector<double> xv(x.begin(), x.end());
  const std::vector<double> ax = t.times(xv);
  double r = 0.0, s = 0.0;
  for (std::int32_t i = 1; i <= t.n; ++i) {
    r = std::max(r, std::abs(ax[i - 1] - b(i)));
    s = std::max(s, std::abs(b(i)));
  }
  return r / s;
}

TEST(SolveEquations, ColumnListsBeyondTheFirstWorkSizeGrowTheSpace) {
  const triangle t = random_graph(6000, 3.2, 7);
  solve_arrays s(t);
  const reference ref = solve_with_ample_space(t, s.rhs);
  // The system really needs more: SDRV stops at the first size with its column lists full.
  const std::int64_t first = num::solver_work_size(t.n, t.nnz());
  ASSERT_GT(ref.column_entries, first - 5 * std::int64_t{t.n} - 1);
  EXPECT_GT(ref.flag_at_first_size, 6 * std::int64_t{t.n});
  EXPECT_LE(ref.flag_at_first_size, 7 * std::int64_t{t.n});

  s.solve();
  ASSERT_EQ(s.FLAG, 0);
  EXPECT_GT(s.work_size, first);
  EXPECT_EQ(s.spare, 0);   // after growing, the numeric stage gets just what it needs
  for (std::int32_t i = 1; i <= t.n; ++i) ASSERT_EQ(s.solution(i), ref.solution(i)) << i;
  EXPECT_LT(relative_residual(t, s.solution, s.rhs), 1e-12);
}

TEST(SolveEquations, SystemThatFitsKeepsTheFirstWorkSize) {
  const triangle t = solver_test::mixed_model(4, 20, 1500, 0.8, 11);
  solve_arrays s(t);
  const reference ref = solve_with_ample_space(t, s.rhs);
  EXPECT_EQ(ref.flag_at_first_size, 0);
  s.solve();
  ASSERT_EQ(s.FLAG, 0);
  EXPECT_GE(s.work_size, num::solver_work_size(t.n, t.nnz()));
  EXPECT_EQ(s.real_work.size(), s.work_size);
  for (std::int32_t i = 1; i <= t.n; ++i) ASSERT_EQ(s.solution(i), ref.solution(i)) << i;
  EXPECT_LT(relative_residual(t, s.solution, s.rhs), 1e-10);
}

// Growing the space is bounded by memory: when the larger work array cannot be had, the run
// ends with the out-of-memory run-time error, not with a solver message.
TEST(SolveEquationsDeathTest, GrowthBeyondTheMemoryLimitEndsWithError41) {
  const triangle t = random_graph(6000, 3.2, 7);
  solve_arrays s(t);
  const std::int64_t first = num::solver_work_size(t.n, t.nnz());
  EXPECT_EXIT(
      {
        // Room for the order arrays and the first work array, not for twice that array.
        rt::set_memory_limit(rt::memory_held() + 8 * std::int64_t{t.n} + 4 * first +
                             4 * first / 2);
        s.solve();
      },
      ::testing::ExitedWithCode(41), "severe \\(41\\)");
}

}  // namespace

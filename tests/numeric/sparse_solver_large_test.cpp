// A mixed-model system of 200,000 equations from a generated pedigree: ordering,
// factorisation and solve must take seconds. Prints the times and the factor size.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include "numeric/sparse_solver.hpp"
#include "tests/numeric/solver_test_util.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST(SolverLarge, PedigreeSystemOfTwoHundredThousandEquations) {
  // Herd-year levels and animals whose parents come from the same herd. (Rows that are
  // dense over the records, such as covariates, make every elimination step walk that row's
  // whole list: the ordering then grows with the square of the order.)
  const auto t = solver_test::herd_pedigree_model(200000, 0, 1000, 4, 0, 2024);
  const std::int32_t n = t.n;
  ASSERT_EQ(n, 200000);
  rt::vec1<std::int32_t> row_start, column, permutation(n), inverse_permutation(n);
  rt::vec1<double> value, b(n), solution(n);
  t.to_arrays(row_start, column, value);
  std::vector<double> x_true(n);
  for (std::int32_t i = 1; i <= n; ++i) x_true[i - 1] = std::sin(0.001 * i) + 0.5;
  const auto rhs = t.times(x_true);
  for (std::int32_t i = 1; i <= n; ++i) b(i) = rhs[i - 1];

  const std::int64_t work_size = num::solver_work_size(n, t.nnz());
  rt::vec1<std::int32_t> int_work(work_size);
  rt::vec1<double> real_work(work_size);
  std::int64_t FLAG = -1, spare = 0;

  const auto t0 = std::chrono::steady_clock::now();
  num::ODRV(n, row_start, column, value, permutation, inverse_permutation, work_size, int_work,
            2, FLAG);
  ASSERT_EQ(FLAG, 0);
  const double t_order = seconds_since(t0);
  const auto t1 = std::chrono::steady_clock::now();
  num::SDRV(n, permutation, inverse_permutation, row_start, column, value, b, solution,
            work_size, int_work, real_work, spare, 4, FLAG);
  ASSERT_EQ(FLAG, 0);
  const auto z = num::SDRV_sizes(n, int_work);
  num::SDRV(n, permutation, inverse_permutation, row_start, column, value, b, solution,
            work_size, int_work, real_work, spare, 6, FLAG);
  ASSERT_EQ(FLAG, 0);
  const double t_factor = seconds_since(t1);
  const auto t2 = std::chrono::steady_clock::now();
  num::SDRV(n, permutation, inverse_permutation, row_start, column, value, b, solution,
            work_size, int_work, real_work, spare, 3, FLAG);
  ASSERT_EQ(FLAG, 0);
  const double t_solve = seconds_since(t2);

  double err = 0.0;
  for (std::int32_t i = 1; i <= n; ++i)
    err = std::max(err, std::fabs(solution(i) - x_true[i - 1]));
  EXPECT_LT(err, 1e-8);
  EXPECT_LT(t_order + t_factor + t_solve, 20.0);
  std::printf("n %d, stored entries %lld, factor entries %lld, column list cells %lld, "
              "work_size %lld, work needed %lld, spare %lld\n",
              n, static_cast<long long>(t.nnz()), static_cast<long long>(z.factor_entries),
              static_cast<long long>(z.column_entries), static_cast<long long>(work_size),
              static_cast<long long>(z.work_needed), static_cast<long long>(spare));
  std::printf("ordering %.3f s, factorisation %.3f s, solve %.3f s, max error %.3g\n", t_order,
              t_factor, t_solve, err);
}

}  // namespace

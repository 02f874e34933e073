// Dropping empty equations from a finished store and restoring the full solution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "numeric/equation_reduction.hpp"
#include "numeric/sparse_store.hpp"
#include "tests/support/e2e.hpp"

namespace {

template <class T>
rt::vec1<T> vec(const std::vector<T>& v) {
  rt::vec1<T> r(static_cast<std::int64_t>(v.size()));
  for (std::size_t i = 0; i < v.size(); ++i) r(static_cast<std::int64_t>(i) + 1) = v[i];
  return r;
}

template <class T>
std::vector<T> first(const rt::vec1<T>& v, std::int64_t n) {
  return std::vector<T>(v.begin(), v.begin() + n);
}

struct system_case {
  num::sparse_store s;
  rt::vec1<double> rhs;
  rt::vec1<std::int32_t> dropped, shift;
};

// An upper-triangle system of order n whose equations in `empty` receive nothing; the others
// get a diagonal and a link to the next kept equation. dropped and shift are built from the
// linked form, as the programs do.
system_case build(int n, const std::vector<int>& empty) {
  system_case c;
  num::sparse_allocate(c.s, n, 4 * n + 1);
  num::sparse_init(c.s);
  std::vector<int> kept;
  for (int e = 1; e <= n; ++e)
    if (std::find(empty.begin(), empty.end(), e) == empty.end()) kept.push_back(e);
  std::int32_t ier = 0;
  for (std::size_t k = 0; k < kept.size(); ++k) {
    num::SBSIJ(c.s, kept[k], kept[k], 10.0 * kept[k], 5, 0, rt::console(), ier);
    if (k + 1 < kept.size()) num::SBSIJ(c.s, kept[k], kept[k + 1], -1.0, 5, 0, rt::console(), ier);
  }
  c.dropped.assign(n, 0);
  c.shift.assign(n, 0);
  int d = 0;
  for (int e = 1; e <= n; ++e) {
    if (c.s.row_start(e) <= 0) c.dropped(e) = 1, ++d;
    c.shift(e) = d;
  }
  num::sparse_finish(c.s);
  c.rhs.assign(n, 0.0);
  for (int e = 1; e <= n; ++e) c.rhs(e) = 100.0 + e;
  return c;
}

// Every kept equation keeps its diagonal and its link to the next kept one, renumbered.
void expect_reduced(system_case& c, int n, const std::vector<int>& empty) {
  const std::int32_t old_end = c.s.row_start(n + 1);
  std::int32_t m = n;
  num::drop_flagged_equations(m, c.s.row_start, c.s.column, c.rhs, c.dropped, c.shift);
  std::vector<int> kept;
  for (int e = 1; e <= n; ++e)
    if (std::find(empty.begin(), empty.end(), e) == empty.end()) kept.push_back(e);
  ASSERT_EQ(m, static_cast<int>(kept.size()));
  EXPECT_EQ(c.s.row_start(m + 1), old_end);
  for (int k = 1; k <= m; ++k) {
    const int old = kept[k - 1];
    EXPECT_EQ(c.rhs(k), 100.0 + old) << k;
    const int first_slot = c.s.row_start(k);
    const int last_slot = c.s.row_start(k + 1) - 1;
    ASSERT_EQ(last_slot - first_slot + 1, k < m ? 2 : 1) << k;
    EXPECT_EQ(c.s.column(first_slot), k);
    EXPECT_EQ(c.s.value(first_slot), 10.0 * old);
    if (k < m) {
      EXPECT_EQ(c.s.column(first_slot + 1), k + 1);
    }
  }
}

TEST(DropFlaggedEquations, NothingMarked) {
  system_case c = build(4, {});
  const std::vector<std::int32_t> rs = first(c.s.row_start, 5), cols = first(c.s.column, 7);
  std::int32_t n = 4;
  num::drop_flagged_equations(n, c.s.row_start, c.s.column, c.rhs, c.dropped, c.shift);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(first(c.s.row_start, 5), rs);
  EXPECT_EQ(first(c.s.column, 7), cols);
  EXPECT_EQ(first(c.rhs, 4), (std::vector<double>{101, 102, 103, 104}));
}

TEST(DropFlaggedEquations, MarkedAtStartMiddleAndEnd) {
  for (const std::vector<int>& empty :
       {std::vector<int>{1}, std::vector<int>{1, 2}, std::vector<int>{4}, std::vector<int>{7, 8},
        std::vector<int>{1, 4, 5, 8}, std::vector<int>{2, 3, 6}}) {
    system_case c = build(8, empty);
    SCOPED_TRACE(::testing::PrintToString(empty));
    expect_reduced(c, 8, empty);
  }
}

TEST(DropFlaggedEquations, AllMarked) {
  system_case c = build(3, {1, 2, 3});
  EXPECT_EQ(first(c.s.row_start, 4), (std::vector<std::int32_t>{1, 1, 1, 1}));
  std::int32_t n = 3;
  num::drop_flagged_equations(n, c.s.row_start, c.s.column, c.rhs, c.dropped, c.shift);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(c.s.row_start(1), 1);
}

TEST(DropFlaggedEquations, NoEquations) {
  rt::vec1<std::int32_t> rs(1, 1), cols, dropped, shift;
  rt::vec1<double> rhs;
  std::int32_t n = 0;
  num::drop_flagged_equations(n, rs, cols, rhs, dropped, shift);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(rs(1), 1);
}

TEST(ExpandSolution, SpreadsReducedValues) {
  rt::vec1<double> x = vec<double>({1.5, 2.5, 3.5, 0.0, 0.0});
  num::expand_solution(3, 5, vec<std::int32_t>({0, 1, 0, 0, 1}), x, -9.0);
  EXPECT_EQ(first(x, 5), (std::vector<double>{1.5, -9.0, 2.5, 3.5, -9.0}));

  rt::vec1<double> y = vec<double>({4.0, 5.0, 6.0});
  num::expand_solution(3, 3, vec<std::int32_t>({0, 0, 0}), y, 0.0);
  EXPECT_EQ(first(y, 3), (std::vector<double>{4.0, 5.0, 6.0}));

  rt::vec1<double> z = vec<double>({7.0, 7.0});
  num::expand_solution(0, 2, vec<std::int32_t>({1, 3}), z, 0.0);
  EXPECT_EQ(first(z, 2), (std::vector<double>{0.0, 0.0}));
}

TEST(ExpandSolutionDeath, MismatchStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto run = [](std::int32_t n, std::int32_t n_full, std::vector<std::int32_t> d, std::int64_t len) {
    rt::vec1<double> x(len, 1.0);
    num::expand_solution(n, n_full, vec(d), x, 0.0);
    std::exit(0);
  };
  EXPECT_EXIT(run(2, 5, {0, 1, 0, 0, 1}, 5), ::testing::ExitedWithCode(1), "expand_solution");
  EXPECT_EXIT(run(4, 5, {0, 1, 0, 0, 1}, 5), ::testing::ExitedWithCode(1), "expand_solution");
  EXPECT_EXIT(run(3, 5, {0, 1, 0, 0, 1}, 4), ::testing::ExitedWithCode(1), "expand_solution");
  EXPECT_EXIT(run(3, 5, {0, 1, 0, 0}, 5), ::testing::ExitedWithCode(1), "expand_solution");
}

}  // namespace

namespace {

// Linked heads: a positive head is a row that received entries; -e is the untouched row e.
TEST(FlagEmptyEquations, MarksUntouchedRowsCountsThemAndLowersTheirEffectsLevels) {
  const rt::vec1<std::int32_t> NLEV = vec<std::int32_t>({2, 3, 1});
  const rt::vec1<std::int32_t> heads = vec<std::int32_t>({5, -2, -3, 9, -5, 0, -7});
  rt::vec1<std::int32_t> remaining(3), dropped(6), shift(6);
  for (std::int64_t e = 1; e <= 6; ++e) dropped(e) = 7;  // overwritten for every equation
  EXPECT_EQ(num::flag_empty_equations(3, NLEV, heads, remaining, dropped, shift), 4);
  EXPECT_EQ(std::vector<std::int32_t>(dropped.begin(), dropped.end()),
            (std::vector<std::int32_t>{0, 1, 1, 0, 1, 1}));
  EXPECT_EQ(std::vector<std::int32_t>(shift.begin(), shift.end()),
            (std::vector<std::int32_t>{0, 1, 2, 2, 3, 4}));
  EXPECT_EQ(std::vector<std::int32_t>(remaining.begin(), remaining.end()),
            (std::vector<std::int32_t>{1, 1, 0}));
}

}  // namespace

// The symmetric reordering: entries moved through a second copy and entries moved in place
// along the cycles of the slot permutation end in the same arrays, and both match the rule
// worked out directly (each entry in the row of its end that comes first in the new order,
// input order kept within a row, the diagonal first when asked).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "numeric/sparse_solver.hpp"
#include "runtime/array.hpp"
#include "tests/numeric/solver_test_util.hpp"

namespace {

using solver_test::triangle;

struct reordered {
  rt::vec1<std::int32_t> row_start, column;
  rt::vec1<double> value;
};

// Some entries below the diagonal too: the reordering moves them like the others.
triangle random_triangle(std::int32_t n, unsigned seed) {
  triangle t(n);
  std::mt19937_64 g(seed);
  std::uniform_int_distribution<std::int32_t> pick(1, n);
  for (std::int32_t i = 1; i <= n; ++i) {
    if (i % 5 != 0) t.append(i, i, 100.0 + i);
    for (int l = 0; l < 4; ++l) {
      const std::int32_t j = pick(g);
      if (j != i) t.append(i, j, i * 1000.0 + j);
    }
  }
  return t;
}

// ODRV keeps a copy of the entries in the work cells in front of its scratch cells when they
// hold the columns and, 8-byte aligned, the values (spare_cells); with fewer, or with the least
// work space, the entries move in place.
std::int64_t spare_cells(std::int64_t nnz) { return nnz + (nnz & 1) + 2 * nnz; }

reordered run(const triangle& t, const rt::vec1<std::int32_t>& inverse_permutation,
              bool diagonal_first, bool in_place, std::int64_t spare = -1) {
  reordered r;
  t.to_arrays(r.row_start, r.column, r.value);
  const std::int32_t n = t.n;
  rt::vec1<std::int32_t> permutation(n), inv = inverse_permutation;
  for (std::int32_t i = 1; i <= n; ++i) permutation(inv(i)) = i;
  const std::int64_t least = std::int64_t{n} + t.nnz();
  const std::int64_t work_size = spare >= 0 ? least + spare
                                 : in_place ? least
                                            : num::solver_work_size(n, t.nnz());
  rt::vec1<std::int32_t> int_work(work_size);
  std::int64_t flag = -1;
  num::ODRV(n, r.row_start, r.column, r.value, permutation, inv, work_size, int_work,
            diagonal_first ? 5 : 3, flag);
  EXPECT_EQ(flag, 0);
  return r;
}

TEST(SymReorder, CopyAndInPlaceGiveTheRuleOfTheNewOrder) {
  const std::int32_t n = 500;
  const triangle t = random_triangle(n, 7);
  std::vector<std::int32_t> order(n);
  for (std::int32_t i = 0; i < n; ++i) order[i] = i + 1;
  std::shuffle(order.begin(), order.end(), std::mt19937_64(8));
  rt::vec1<std::int32_t> inv(n);
  for (std::int32_t k = 1; k <= n; ++k) inv(order[k - 1]) = k;

  for (bool diagonal_first : {false, true}) {
    SCOPED_TRACE(diagonal_first);
    // The rule, from the input rows in order.
    std::vector<std::vector<std::pair<std::int32_t, double>>> want(n + 1);
    for (std::int32_t i = 1; i <= n; ++i)
      for (auto [c, v] : t.rows[i - 1]) {
        const std::int32_t row = inv(c) < inv(i) ? c : i;
        const std::int32_t col = row == c ? i : c;
        auto& w = want[row];
        if (diagonal_first && row == col)
          w.insert(w.begin(), {col, v});
        else
          w.emplace_back(col, v);
      }
    const reordered copy = run(t, inv, diagonal_first, false);
    const reordered in_place = run(t, inv, diagonal_first, true);
    std::int32_t p = 1;
    for (std::int32_t r = 1; r <= n; ++r) {
      ASSERT_EQ(copy.row_start(r), p);
      for (auto [c, v] : want[r]) {
        EXPECT_EQ(copy.column(p), c);
        EXPECT_EQ(copy.value(p), v);
        ++p;
      }
    }
    EXPECT_EQ(copy.row_start(n + 1), p);
    for (std::int32_t r = 1; r <= n + 1; ++r) EXPECT_EQ(in_place.row_start(r), copy.row_start(r));
    for (std::int32_t q = 1; q < p; ++q) {
      EXPECT_EQ(in_place.column(q), copy.column(q));
      EXPECT_EQ(in_place.value(q), copy.value(q));
    }
  }
}

TEST(SymReorder, SpareCellsForTheCopyJustEnoughOrOneShort) {
  // An odd number of entries, so that the values need the cell of padding.
  triangle t = random_triangle(300, 11);
  if (t.nnz() % 2 == 0) t.append(1, 2, 0.5);
  ASSERT_EQ(t.nnz() % 2, 1);
  const std::int32_t n = t.n;
  rt::vec1<std::int32_t> inv(n);
  for (std::int32_t i = 1; i <= n; ++i) inv(i) = (i * 7) % n + 1;   // 7 is prime to 300
  for (bool diagonal_first : {false, true}) {
    SCOPED_TRACE(diagonal_first);
    const reordered in_place = run(t, inv, diagonal_first, true);
    for (std::int64_t spare : {spare_cells(t.nnz()) - 1, spare_cells(t.nnz())}) {
      SCOPED_TRACE(spare);
      const reordered got = run(t, inv, diagonal_first, false, spare);
      for (std::int32_t r = 1; r <= n + 1; ++r) ASSERT_EQ(got.row_start(r), in_place.row_start(r));
      for (std::int64_t q = 1; q <= t.nnz(); ++q) {
        ASSERT_EQ(got.column(q), in_place.column(q)) << q;
        ASSERT_EQ(got.value(q), in_place.value(q)) << q;
      }
    }
  }
}

}  // namespace

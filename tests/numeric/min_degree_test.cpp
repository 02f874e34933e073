// ODRV: hand-derived minimum-degree orders, the in-place reordering against a model, and
// every FLAG code.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "numeric/sparse_solver.hpp"
#include "tests/numeric/solver_test_util.hpp"

namespace {

using solver_test::triangle;

struct odrv_run {
  rt::vec1<std::int32_t> row_start, column, permutation, inverse_permutation, int_work;
  rt::vec1<double> value;
  std::int64_t FLAG = -1;

  odrv_run(const triangle& t, std::int64_t work_size, std::int32_t stages) {
    t.to_arrays(row_start, column, value);
    permutation.assign(t.n, 0);
    inverse_permutation.assign(t.n, 0);
    int_work.assign(std::max<std::int64_t>(work_size, 0), -7);
    num::ODRV(t.n, row_start, column, value, permutation, inverse_permutation, work_size,
              int_work, stages, FLAG);
  }
  std::vector<std::int32_t> perm() const { return {permutation.begin(), permutation.end()}; }
};

std::int64_t default_size(const triangle& t) { return num::solver_work_size(t.n, t.nnz()); }

std::vector<std::int32_t> order_of(const triangle& t) {
  odrv_run r(t, default_size(t), 1);
  EXPECT_EQ(r.FLAG, 0);
  for (std::int32_t i = 1; i <= t.n; ++i)   // the two arrays are inverse to each other
    EXPECT_EQ(r.inverse_permutation(r.permutation(i)), i);
  return r.perm();
}

TEST(MinDegreeOrder, DiagonalMatrixIsNumberedFromTheLastRow) {
  triangle t(5);
  for (int i = 1; i <= 5; ++i) t.add(i, i, 1.0 + i);
  EXPECT_EQ(order_of(t), (std::vector<std::int32_t>{5, 4, 3, 2, 1}));
}

TEST(MinDegreeOrder, PathsEliminateFromTheHighEnd) {
  triangle t3(3);
  t3.add(1, 2, 1.0);
  t3.add(2, 3, 1.0);
  EXPECT_EQ(order_of(t3), (std::vector<std::int32_t>{3, 2, 1}));   // 1 by mass elimination
  triangle t5(5);
  for (int i = 1; i <= 4; ++i) t5.add(i, i + 1, 1.0);
  EXPECT_EQ(order_of(t5), (std::vector<std::int32_t>{5, 4, 3, 2, 1}));
  // The same path numbered the other way round: bucket ties now favour the other end.
  triangle r5(5);
  r5.add(4, 5, 1.0);
  r5.add(1, 2, 1.0);
  r5.add(3, 4, 1.0);
  r5.add(2, 3, 1.0);
  EXPECT_EQ(order_of(r5), (std::vector<std::int32_t>{5, 4, 3, 2, 1}));
}

TEST(MinDegreeOrder, StarTakesLeavesUntilTheCentreIsCheapest) {
  // Centre 1 joined to 2..5: leaves 5, 4, 3 go first; then the centre (degree 2, pushed at
  // the head of bucket 2 before leaf 2) and leaf 2 by mass elimination.
  triangle t(5);
  for (int j = 2; j <= 5; ++j) t.add(1, j, 1.0);
  EXPECT_EQ(order_of(t), (std::vector<std::int32_t>{5, 4, 3, 1, 2}));
}

TEST(MinDegreeOrder, IndistinguishableRowsAreEliminatedTogether) {
  // Rows 1 and 2 both joined to 3 and 4 only. Node 4 goes first; 1 and 2 then share the
  // element's boundary; eliminating 1 leaves 2 and 3 interior, numbered at once.
  triangle t(4);
  t.add(1, 3, 1.0);
  t.add(1, 4, 1.0);
  t.add(2, 3, 1.0);
  t.add(2, 4, 1.0);
  EXPECT_EQ(order_of(t), (std::vector<std::int32_t>{4, 1, 2, 3}));
}

TEST(MinDegreeOrder, EntriesOnAndBelowTheDiagonalDoNotCount) {
  triangle t(3);
  t.add(1, 2, 1.0);
  t.add(2, 3, 1.0);
  triangle u(3);
  u.append(1, 1, 4.0);
  u.append(1, 2, 1.0);
  u.append(3, 2, 1.0);   // lower-triangle entry: ignored by the ordering
  u.append(2, 2, 4.0);
  EXPECT_EQ(order_of(u), (std::vector<std::int32_t>{3, 2, 1}));
  triangle v(3);
  v.add(1, 2, 1.0);
  v.append(3, 2, 1.0);
  EXPECT_EQ(order_of(v), (std::vector<std::int32_t>{3, 2, 1}));   // 3 isolated: degree 1
}

// The reordered store, row by row, as the model says: entry to the row whose end comes
// first in the new order, other end as column, relative order kept, diagonal first if asked.
std::vector<std::vector<std::pair<std::int32_t, double>>> model_reorder(
    const triangle& t, const std::vector<std::int32_t>& ip, bool diagonal_first) {
  std::vector<std::vector<std::pair<std::int32_t, double>>> rows(t.n);
  for (std::int32_t i = 1; i <= t.n; ++i)
    for (auto [c, v] : t.rows[i - 1]) {
      if (ip[c - 1] < ip[i - 1])
        rows[c - 1].emplace_back(i, v);
      else
        rows[i - 1].emplace_back(c, v);
    }
  if (diagonal_first)
    for (std::int32_t r = 1; r <= t.n; ++r) {
      auto& row = rows[r - 1];
      auto it = std::find_if(row.rbegin(), row.rend(), [r](auto& e) { return e.first == r; });
      if (it != row.rend()) {
        auto e = *it;
        row.erase(std::next(it).base());
        row.insert(row.begin(), e);
      }
    }
  return rows;
}

void expect_store(const odrv_run& r,
                  const std::vector<std::vector<std::pair<std::int32_t, double>>>& rows) {
  std::int32_t p = 1;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(r.row_start(static_cast<std::int64_t>(i) + 1), p) << "row " << i + 1;
    for (auto [c, v] : rows[i]) {
      EXPECT_EQ(r.column(p), c) << "slot " << p;
      EXPECT_EQ(r.value(p), v) << "slot " << p;
      ++p;
    }
  }
  EXPECT_EQ(r.row_start(static_cast<std::int64_t>(rows.size()) + 1), p);
}

TEST(SymReorder, TwoByTwoExample) {
  triangle t(2);
  t.add(1, 1, 11.0);
  t.add(1, 2, 12.0);
  t.add(2, 2, 22.0);
  for (int stages : {3, 5}) {
    odrv_run r(t, 0, 0);
    t.to_arrays(r.row_start, r.column, r.value);
    r.inverse_permutation(1) = 2;
    r.inverse_permutation(2) = 1;
    r.permutation(1) = -5;   // untouched by reordering alone
    r.permutation(2) = -6;
    r.int_work.assign(20);
    num::ODRV(2, r.row_start, r.column, r.value, r.permutation, r.inverse_permutation, 20,
              r.int_work, stages, r.FLAG);
    EXPECT_EQ(r.FLAG, 0);
    EXPECT_EQ(r.perm(), (std::vector<std::int32_t>{-5, -6}));
    EXPECT_EQ(r.row_start(1), 1);
    EXPECT_EQ(r.row_start(2), 2);
    EXPECT_EQ(r.row_start(3), 4);
    EXPECT_EQ(r.column(1), 1);
    if (stages == 3) {
      EXPECT_EQ(r.column(2), 1);
      EXPECT_EQ(r.value(2), 12.0);
      EXPECT_EQ(r.column(3), 2);
    } else {
      EXPECT_EQ(r.column(2), 2);
      EXPECT_EQ(r.value(2), 22.0);
      EXPECT_EQ(r.column(3), 1);
    }
  }
}

TEST(SymReorder, RandomStoresMatchTheModel) {
  auto t = solver_test::mixed_model(2, 5, 60, 0.7, 11);
  // A few lower-triangle entries as well: they are moved like any other.
  t.append(30, 3, 0.25);
  t.append(50, 50, 0.5);
  for (int stages : {2, 4}) {
    odrv_run r(t, default_size(t), stages);
    ASSERT_EQ(r.FLAG, 0);
    std::vector<std::int32_t> ip(r.inverse_permutation.begin(), r.inverse_permutation.end());
    expect_store(r, model_reorder(t, ip, stages == 4));
  }
  // A given random permutation (stages 3 and 5).
  std::vector<std::int32_t> perm(t.n);
  for (int i = 0; i < t.n; ++i) perm[i] = i + 1;
  std::shuffle(perm.begin(), perm.end(), std::mt19937(3));
  std::vector<std::int32_t> ip(t.n);
  for (int k = 0; k < t.n; ++k) ip[perm[k] - 1] = k + 1;
  for (int stages : {3, 5}) {
    odrv_run r(t, 0, 0);
    t.to_arrays(r.row_start, r.column, r.value);
    for (int i = 1; i <= t.n; ++i) r.inverse_permutation(i) = ip[i - 1];
    const std::int64_t ws = t.n + t.nnz();   // exactly enough for the reordering
    r.int_work.assign(ws);
    num::ODRV(t.n, r.row_start, r.column, r.value, r.permutation, r.inverse_permutation, ws,
              r.int_work, stages, r.FLAG);
    ASSERT_EQ(r.FLAG, 0);
    expect_store(r, model_reorder(t, ip, stages == 5));
  }
}

TEST(OdrvFlag, EveryCode) {
  triangle t(3);   // the path 1-2-3 with its diagonal: nnz 5
  t.add(1, 1, 2.0);
  t.add(1, 2, 1.0);
  t.add(2, 2, 2.0);
  t.add(2, 3, 1.0);
  t.add(3, 3, 2.0);
  rt::vec1<std::int32_t> rs0, c0;
  rt::vec1<double> v0;
  t.to_arrays(rs0, c0, v0);
  auto untouched = [&](const odrv_run& r) {
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(r.row_start(i), rs0(i));
    for (int p = 1; p <= 5; ++p) EXPECT_EQ(r.column(p), c0(p));
  };
  for (int stages : {0, 6, -1}) {
    odrv_run r(t, 100, stages);
    EXPECT_EQ(r.FLAG, 11 * 3 + 1);
    untouched(r);
  }
  {  // list_capacity (8 - 3) / 2 = 2 < n
    odrv_run r(t, 8, 2);
    EXPECT_EQ(r.FLAG, 10 * 3 + 1);
    untouched(r);
  }
  {  // list_capacity 3: the first entry of row 1 does not fit
    odrv_run r(t, 9, 1);
    EXPECT_EQ(r.FLAG, 9 * 3 + 1);
  }
  {  // list_capacity 5: row 1 fits, row 2 does not
    odrv_run r(t, 13, 2);
    EXPECT_EQ(r.FLAG, 9 * 3 + 2);
    untouched(r);
  }
  {  // list_capacity 7 is enough
    odrv_run r(t, 17, 2);
    EXPECT_EQ(r.FLAG, 0);
  }
  {  // reordering alone needs n + nnz = 8 cells
    odrv_run r(t, 7, 3);
    EXPECT_EQ(r.FLAG, 10 * 3 + 1);
    odrv_run s(t, 7, 5);
    EXPECT_EQ(s.FLAG, 10 * 3 + 1);
  }
  {  // a repeated column would corrupt the buckets: reported with its row
    triangle d(4);
    d.add(1, 2, 1.0);
    d.add(3, 4, 1.0);
    d.append(3, 4, 1.0);
    odrv_run r(d, default_size(d), 2);
    EXPECT_EQ(r.FLAG, 2 * 4 + 3);
  }
  {  // codes are 64-bit: 11 n + 1 for an order near the 32-bit limit
    rt::vec1<std::int32_t> rs(1, 1), c, p, ip, w;
    rt::vec1<double> v;
    std::int64_t FLAG = 0;
    const std::int32_t big = 2000000000;
    num::ODRV(big, rs, c, v, p, ip, 0, w, 9, FLAG);
    EXPECT_EQ(FLAG, 11 * std::int64_t{big} + 1);
  }
  EXPECT_EQ(num::solver_work_size(400000000, 1000000000), 7200000000LL);
}

}  // namespace

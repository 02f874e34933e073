// The minimum-degree ordering with counted degrees and tracked nodes against the plain list
// walks: both must give
// the same permutation on systems shaped like mixed-model equations (dense fixed-effect and
// covariate rows, herd-year rows, pedigree animals with parents, families), with tracking
// switched on for every node as well as at the default list length. Plus a timing check on a
// system whose dense rows made the plain walks quadratic.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "numeric/min_degree.hpp"
#include "numeric/sparse_solver.hpp"
#include "tests/numeric/solver_test_util.hpp"

namespace {

using solver_test::triangle;

struct order_result {
  std::vector<std::int32_t> permutation, inverse_permutation;
  std::int64_t FLAG = -1;
  double seconds = 0.0;
};

// Runs min_degree_order on the triangle with the work layout ODRV uses (3 n + 6 nnz).
order_result order(const triangle& t, const num::md_options& options) {
  rt::vec1<std::int32_t> row_start, column;
  rt::vec1<double> value;
  t.to_arrays(row_start, column, value);
  const std::int64_t n = t.n;
  const std::int64_t work_size = num::solver_work_size(n, t.nnz());
  rt::vec1<std::int32_t> int_work, perm, inv;
  int_work.assign(work_size, -7);
  perm.assign(n, 0);
  inv.assign(n, 0);
  const std::int64_t L = (work_size - n) / 2;
  num::md_work w;
  w.n = t.n;
  w.L = L;
  w.set_lists(num::carve(int_work, 1, 2 * L));
  w.bucket_head = num::carve(int_work, 2 * L + 1, n);
  w.bucket_prev = num::slice<std::int32_t>{perm.data(), n};
  w.bucket_next = num::slice<std::int32_t>{inv.data(), n};
  order_result r;
  const auto t0 = std::chrono::steady_clock::now();
  num::min_degree_order(w, row_start, column, r.FLAG, options);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.permutation.assign(perm.begin(), perm.end());
  r.inverse_permutation.assign(inv.begin(), inv.end());
  return r;
}

num::md_options literal() {
  num::md_options o;
  o.literal = true;
  return o;
}

num::md_options tracked_from(std::int32_t len) {
  num::md_options o;
  o.track_from = len;
  return o;
}

// The plain walks against tracking from list lengths 1 (every node with a list), 3, 6, 16, 40,
// 300 and the default, and against the default with bit rows always or never made as met.
void expect_same_order(const triangle& t, const char* what) {
  const order_result ref = order(t, literal());
  ASSERT_EQ(ref.FLAG, 0) << what;
  for (std::int32_t i = 1; i <= t.n; ++i)
    ASSERT_EQ(ref.inverse_permutation[static_cast<std::size_t>(ref.permutation[i - 1]) - 1], i)
        << what;
  for (const std::int32_t len : {1, 3, 6, 16, 40, 300, num::md_options{}.track_from}) {
    const order_result r = order(t, tracked_from(len));
    ASSERT_EQ(r.FLAG, 0) << what << " track_from " << len;
    ASSERT_EQ(r.permutation, ref.permutation) << what << " track_from " << len;
    ASSERT_EQ(r.inverse_permutation, ref.inverse_permutation) << what << " track_from " << len;
  }
  for (const std::int32_t words : {0, 1000}) {
    num::md_options o;
    o.rows_as_met_words = words;
    const order_result r = order(t, o);
    ASSERT_EQ(r.FLAG, 0) << what << " rows as met up to " << words << " words";
    ASSERT_EQ(r.permutation, ref.permutation) << what << " rows as met up to " << words << " words";
  }
}

// Records with a few dense rows (sex, a covariate), herd-year levels, a permanent-environment
// level per dam family, and animals with parents from the same or earlier generations.
triangle records_model(std::int32_t n_dense, std::int32_t n_herds, std::int32_t n_animals,
                       std::int32_t family_size, unsigned seed) {
  const std::int32_t n_families = std::max(1, n_animals / std::max(1, family_size));
  const std::int32_t a0 = n_dense + n_herds + n_families;
  triangle t(a0 + n_animals);
  std::mt19937_64 g(seed);
  std::uniform_int_distribution<std::int32_t> herd(1, n_herds), fam(1, n_families);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (std::int32_t a = 1; a <= n_animals; ++a) {
    const std::int32_t an = a0 + a;
    t.add(an, an, 2.0);
    if (a > 10) {   // parents among the last few hundred animals
      const std::int32_t window = std::min(a - 1, 300);
      const std::int32_t s = a - 1 - static_cast<std::int32_t>(u(g) * window);
      const std::int32_t d = a - 1 - static_cast<std::int32_t>(u(g) * window);
      for (const std::int32_t p : {s, d})
        if (p >= 1 && u(g) < 0.8) t.add(an, a0 + p, -1.0);
      if (s != d && s >= 1 && d >= 1) t.add(a0 + s, a0 + d, 0.5);
    }
    if (u(g) < 0.75) {   // a record: dense rows (only some for the level-like ones), herd, family
      std::vector<std::int32_t> x;
      for (std::int32_t c = 1; c <= n_dense; ++c)
        if (c == 1 || u(g) < 0.5) x.push_back(c);
      x.push_back(n_dense + herd(g));
      x.push_back(n_dense + n_herds + fam(g));
      x.push_back(an);
      for (const std::int32_t i : x)
        for (const std::int32_t j : x)
          if (i <= j) t.add(i, j, 1.0);
    }
  }
  for (std::int32_t i = 1; i <= a0; ++i) t.add(i, i, 1.0);
  return t;
}

TEST(MinDegreeTracked, SmallSystemsWithManyTies) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937_64 g(seed);
    const std::int32_t n = 5 + static_cast<std::int32_t>(g() % 40);
    triangle t(n);
    // A couple of dense rows and a sparse remainder: many equal degrees.
    const std::int32_t dense = 1 + static_cast<std::int32_t>(g() % 3);
    for (std::int32_t i = 1; i <= n; ++i) {
      t.add(i, i, 1.0);
      for (std::int32_t d = 1; d <= dense; ++d)
        if (i > dense && g() % 3 != 0) t.add(d, i, 1.0);
      if (i > dense + 1 && g() % 2 == 0) t.add(i - 1, i, 1.0);
      if (i > dense + 3 && g() % 4 == 0) t.add(i - 3, i, 1.0);
    }
    expect_same_order(t, "small");
  }
}

TEST(MinDegreeTracked, RecordsWithDenseRowsHerdsFamiliesAndParents) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    expect_same_order(records_model(1 + seed % 4, 3 + seed * 7, 300 + 100 * seed,
                                    1 + static_cast<std::int32_t>(seed % 6), seed),
                      "records");
  }
}

TEST(MinDegreeTracked, GeneratedMixedModels) {
  expect_same_order(solver_test::mixed_model(3, 10, 600, 0.8, 5), "mixed_model");
  expect_same_order(solver_test::mixed_model(1, 2, 300, 1.0, 6), "mixed_model, all records");
  expect_same_order(solver_test::herd_pedigree_model(3000, 4, 20, 4, 10, 7), "herd pedigree");
  expect_same_order(solver_test::herd_pedigree_model(1500, 0, 3, 5, 4, 8),
                    "herd pedigree, no covariate");
  // Many sires shared by many herds: nodes with dozens of elements and new boundaries of
  // hundreds of nodes, so the counts run over several words of bits.
  expect_same_order(solver_test::herd_pedigree_model(8000, 1, 60, 5, 80, 9),
                    "herd pedigree, many shared sires");
}

TEST(MinDegreeTracked, PathStarAndDiagonalAreUnchanged) {
  triangle star(30);
  for (int j = 2; j <= 30; ++j) star.add(1, j, 1.0);
  expect_same_order(star, "star");
  triangle diag(12);
  for (int i = 1; i <= 12; ++i) diag.add(i, i, 1.0);
  expect_same_order(diag, "diagonal");
  triangle path(25);
  for (int i = 1; i < 25; ++i) path.add(i, i + 1, 1.0);
  expect_same_order(path, "path");
}

// Hubs adjacent to each other and to overlapping runs of short chains: tracked nodes meet each
// other directly, share elements with untracked nodes and lose elements absorbed around them.
TEST(MinDegreeTracked, LinkedHubsOverChains) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    std::mt19937_64 g(seed);
    const std::int32_t hubs = 2 + static_cast<std::int32_t>(seed % 4);
    const std::int32_t n = hubs + 400;
    triangle t(n);
    for (std::int32_t h = 1; h <= hubs; ++h) {
      t.add(h, h, 1.0);
      for (std::int32_t h2 = h + 1; h2 <= hubs; ++h2)
        if (g() % 2 == 0) t.add(h, h2, 1.0);
    }
    for (std::int32_t i = hubs + 1; i <= n; ++i) {
      t.add(i, i, 1.0);
      if (i < n && (i - hubs) % 7 != 0) t.add(i, i + 1, 1.0);
      for (std::int32_t h = 1; h <= hubs; ++h)
        if (g() % 3 == 0) t.add(h, i, 1.0);
    }
    expect_same_order(t, "linked hubs");
  }
}

TEST(MinDegreeTracked, DenseRowsOrderInSeconds) {
  // 120,000 equations, most animals with a record touching four dense covariate rows: the
  // plain walks recount the dense rows' neighbourhoods at almost every step.
  const triangle t = solver_test::herd_pedigree_model(120000, 4, 500, 4, 20, 99);
  ASSERT_GE(t.n, 100000);
  const order_result r = order(t, num::md_options{});
  ASSERT_EQ(r.FLAG, 0);
  std::printf("ordering of %d equations, %ld entries: %.2f s\n", t.n,
              static_cast<long>(t.nnz()), r.seconds);
#if defined(ZUMEK_SANITIZE) || defined(ZUMEK_BOUNDS_CHECK) || !defined(NDEBUG)
  EXPECT_LT(r.seconds, 120.0);
#else
  EXPECT_LT(r.seconds, 10.0);
#endif
}

}  // namespace

namespace {

// More long-list nodes than can be tracked at once (64): the rest are counted from their
// copies, and slots freed by eliminated hubs are taken by later ones.
TEST(MinDegreeTracked, MoreHubsThanSlots) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    std::mt19937_64 g(seed);
    const std::int32_t hubs = 150;
    const std::int32_t n = hubs + 1200;
    triangle t(n);
    for (std::int32_t h = 1; h <= hubs; ++h) {
      t.add(h, h, 1.0);
      if (h > 1 && g() % 4 == 0) t.add(h - 1, h, 1.0);
    }
    for (std::int32_t i = hubs + 1; i <= n; ++i) {
      t.add(i, i, 1.0);
      if (i < n && (i - hubs) % 5 != 0) t.add(i, i + 1, 1.0);
      for (int r = 0; r < 3; ++r) t.add(1 + static_cast<std::int32_t>(g() % hubs), i, 1.0);
    }
    expect_same_order(t, "more hubs than slots");
  }
}

}  // namespace

// The paired layout of the sample: which equations move where, and the sweep store's columns.
#include "numeric/sample_layout.hpp"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

struct effect_set {
  std::int32_t n_effects = 0;
  rt::vec1<std::int32_t> TYPO, CORR, levels, block_start, offset;
};

// Effects with the given types, block orders and levels; blocks start where CORR > 0.
effect_set make(const std::vector<int>& typo, const std::vector<int>& corr,
            const std::vector<int>& lev) {
  effect_set s;
  s.n_effects = static_cast<std::int32_t>(typo.size());
  s.TYPO.assign(s.n_effects, 0);
  s.CORR.assign(s.n_effects, 0);
  s.levels.assign(s.n_effects, 0);
  s.block_start.assign(s.n_effects, 0);
  s.offset.assign(s.n_effects + 1, 0);
  for (int e = 1; e <= s.n_effects; ++e) {
    s.TYPO(e) = typo[e - 1];
    s.CORR(e) = corr[e - 1];
    s.levels(e) = lev[e - 1];
    s.offset(e + 1) = s.offset(e) + lev[e - 1];
  }
  for (int e = 1; e <= s.n_effects; ++e)
    if (s.CORR(e) > 0)
      for (int k = e; k < e + s.CORR(e); ++k) s.block_start(k) = e;
  return s;
}

// A store of order n whose row i holds columns n + 1 - i and i.
num::sparse_store store_of(std::int32_t n) {
  num::sparse_store st;
  st.order = n;
  st.row_start.assign(n + 1, 0);
  st.column.assign(2 * n, 0);
  st.value.assign(2 * n, 0.0);
  for (std::int32_t i = 1; i <= n; ++i) {
    st.row_start(i) = 2 * i - 1;
    st.column(2 * i - 1) = n + 1 - i;
    st.column(2 * i) = i;
  }
  st.row_start(n + 1) = 2 * n + 1;
  return st;
}

}  // namespace

TEST(SampleLayout, PedigreeBlockGoesInAlignedPairsAndTheRestKeepsItsOrder) {
  // 3 fixed levels, then a 2 x 2 pedigree block of 4 members each, then 2 independent levels.
  const effect_set s = make({0, 2, 2, 1}, {0, 2, 0, 1}, {3, 4, 4, 2});
  const std::int32_t n = 13;
  const num::sparse_store st = store_of(n);
  num::sample_layout L;
  num::build_sample_layout(L, 1, s.n_effects, n, s.TYPO, s.CORR, s.levels, s.block_start,
                           s.offset, 4, st);
  ASSERT_TRUE(L.active);
  // The block follows 3 equations: one spare place makes its pairs start on an even index.
  EXPECT_EQ(L.pair_first(1), -1);
  EXPECT_EQ(L.pair_first(2), 4);
  EXPECT_EQ(L.pair_first(3), 4);
  EXPECT_EQ(L.pair_first(4), -1);
  const std::int32_t want[14] = {0, 1, 2, 3, 5, 7, 9, 11, 6, 8, 10, 12, 13, 14};
  std::set<std::int32_t> seen;
  for (std::int32_t i = 1; i <= n; ++i) {
    EXPECT_EQ(L.place(i), want[i]) << "equation " << i;
    seen.insert(L.place(i));
  }
  EXPECT_EQ(seen.size(), 13u);
  EXPECT_EQ(L.value.size(), 14);
  for (std::int32_t k = 1; k <= 2 * n; ++k) EXPECT_EQ(L.column(k), L.place(st.column(k)));

  rt::vec1<double> sample;
  sample.assign(n, 0.0);
  for (std::int32_t i = 1; i <= n; ++i) sample(i) = 0.5 * i;
  num::fill_sample_layout(L, sample, n);
  for (std::int32_t i = 1; i <= n; ++i) EXPECT_EQ(L.value(L.place(i)), sample(i));
}

TEST(SampleLayout, StaysOffBelowItsSizeAndWithoutABlockThatPairs) {
  const num::sparse_store st = store_of(8);
  num::sample_layout L;
  const effect_set s = make({2, 2}, {2, 0}, {4, 4});
  num::build_sample_layout(L, 9, s.n_effects, 8, s.TYPO, s.CORR, s.levels, s.block_start,
                           s.offset, 4, st);
  EXPECT_FALSE(L.active);
  num::build_sample_layout(L, 8, s.n_effects, 8, s.TYPO, s.CORR, s.levels, s.block_start,
                           s.offset, 4, st);
  EXPECT_TRUE(L.active);

  // A member with fewer levels than pedigree members, a block with an independent member, and
  // two pedigree effects in blocks of their own do not pair.
  for (const effect_set& t : {make({2, 2}, {2, 0}, {4, 3}), make({2, 1}, {2, 0}, {4, 4}),
                              make({2, 2}, {1, 1}, {4, 4})}) {
    const std::int32_t n = t.offset(3);
    num::build_sample_layout(L, 1, t.n_effects, n, t.TYPO, t.CORR, t.levels, t.block_start,
                             t.offset, 4, store_of(n));
    EXPECT_FALSE(L.active);
    EXPECT_EQ(L.place.size(), 0);
    EXPECT_EQ(L.value.size(), 0);
  }
}

// The sparse store against two independent models: a plain transcription of the chain-walking
// fill and of the slot-by-slot in-place finishing (same slots, links and layout expected), and a
// map of positions to values (statuses, sums, rows in arrival order).
#include <gtest/gtest.h>

#include "tests/support/timing.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "numeric/sparse_store.hpp"
#include "tests/support/e2e.hpp"

namespace {

// ------------------------------------------------------------ chain-walking model of the store

struct plain_store {
  int order = 0, NZ = 0;
  std::vector<int> rs, col, lnk;   // index 0 unused
  std::vector<double> val;

  plain_store(int n, int nz) : order(n), NZ(nz), rs(n + 2), col(nz + 1), lnk(nz + 1), val(nz + 1) {
    for (int i = 1; i <= n; ++i) rs[i] = -i;
    rs[n + 1] = nz;
  }

  int add(int I, int J, double v, int dup) {
    if (I < 1 || I > order || J < 1 || J > order) return 701;
    const int F = rs[order + 1];
    if (rs[I] <= 0) {
      if (F < 1) return 702;
      rs[I] = F; col[F] = J; val[F] = v; lnk[F] = -I; rs[order + 1] = F - 1;
      return 0;
    }
    int k = rs[I];
    for (;;) {
      if (col[k] == J) {
        if (dup == 0) val[k] = v;
        else if (dup > 0) val[k] = v + val[k];
        return 700;
      }
      if (lnk[k] > 0) { k = lnk[k]; continue; }
      if (F < 1) return 702;
      lnk[k] = F; lnk[F] = -I; col[F] = J; val[F] = v; rs[order + 1] = F - 1;
      return 0;
    }
  }

  // Compaction slot by slot, moving the entry that sits in the way into the slot being left.
  void finish() {
    const int F0 = rs[order + 1];
    const int nnz = NZ - F0;
    int j = 1, t = F0 + 1;
    auto advance = [&] {
      ++t;
      while (t <= nnz && lnk[t] == 0) ++t;
    };
    for (int i = 1; i <= order; ++i) {
      int c = rs[i], count = 0;
      while (c > 0) {
        const int cc = col[c];
        const double cv = val[c];
        int next = lnk[c];
        if (j < t || c == t) {
          col[c] = 0; val[c] = 0.0; lnk[c] = 0;
          if (c == t) advance();
        } else {
          rs[i] = c;
          int k = t;
          while (lnk[k] > 0) k = lnk[k];
          const int r = -lnk[k];
          if (rs[r] == t) {
            col[c] = col[t]; val[c] = val[t]; lnk[c] = lnk[t];
            rs[r] = c;
          } else {
            int p = rs[r];
            while (lnk[p] != t) p = lnk[p];
            col[c] = col[t]; val[c] = val[t]; lnk[c] = lnk[t];
            if (p != c) lnk[p] = c;
          }
          if (next == t) next = c;
          advance();
        }
        col[j] = cc; val[j] = cv;
        ++j; ++count; c = next;
      }
      rs[i] = count;
    }
    int pointer = 1;
    for (int i = 1; i <= order; ++i) {
      const int count = rs[i];
      rs[i] = pointer;
      pointer += count;
    }
    rs[order + 1] = pointer;
  }
};

// ------------------------------------------------------------ map model

struct map_model {
  int order = 0, NZ = 0, used = 0;
  std::map<std::pair<int, int>, double> values;
  std::vector<std::vector<int>> arrival;   // per row, columns in first-arrival order

  map_model(int n, int nz) : order(n), NZ(nz), arrival(n + 1) {}

  int add(int I, int J, double v, int dup) {
    if (I < 1 || I > order || J < 1 || J > order) return 701;
    auto it = values.find({I, J});
    if (it != values.end()) {
      if (dup == 0) it->second = v;
      else if (dup > 0) it->second = v + it->second;
      return 700;
    }
    if (used == NZ) return 702;
    ++used;
    values[{I, J}] = v;
    arrival[I].push_back(J);
    return 0;
  }
};

num::sparse_store make_store(int order, int NZ) {
  num::sparse_store s;
  num::sparse_allocate(s, order, NZ);
  num::sparse_init(s);
  return s;
}

// Status of one call that writes no message.
int put(num::sparse_store& s, int I, int J, double v, int dup = 5) {
  std::int32_t ier = -1;
  num::SBSIJ(s, I, J, v, dup, -1, rt::console(), ier);
  return ier;
}

void expect_same_linked(const num::sparse_store& s, const plain_store& p) {
  for (int i = 1; i <= p.order + 1; ++i) ASSERT_EQ(s.row_start(i), p.rs[i]) << "row_start " << i;
  for (int k = 1; k <= p.NZ; ++k) {
    ASSERT_EQ(s.column(k), p.col[k]) << "column " << k;
    ASSERT_EQ(s.value(k), p.val[k]) << "value " << k;
    ASSERT_EQ(s.link(k), p.lnk[k]) << "link " << k;
  }
}

// Finished layout: pointers, columns and values everywhere, links above nnz (below it they
// mean nothing).
void expect_same_finished(const num::sparse_store& s, const plain_store& p) {
  for (int i = 1; i <= p.order + 1; ++i) ASSERT_EQ(s.row_start(i), p.rs[i]) << "row_start " << i;
  const int nnz = p.rs[p.order + 1] - 1;
  for (int k = 1; k <= p.NZ; ++k) {
    ASSERT_EQ(s.column(k), p.col[k]) << "column " << k;
    ASSERT_EQ(s.value(k), p.val[k]) << "value " << k;
    if (k > nnz) {
      ASSERT_EQ(s.link(k), 0) << "link " << k;
    }
  }
}

void expect_matches_model(const num::sparse_store& s, const map_model& m) {
  ASSERT_EQ(s.row_start(1), 1);
  int slot = 1;
  for (int i = 1; i <= m.order; ++i) {
    ASSERT_EQ(s.row_start(i), slot) << "row " << i;
    ASSERT_EQ(s.row_start(i + 1) - s.row_start(i), static_cast<int>(m.arrival[i].size())) << "row " << i;
    for (int c : m.arrival[i]) {
      ASSERT_EQ(s.column(slot), c) << "row " << i << " slot " << slot;
      ASSERT_EQ(s.value(slot), m.values.at({i, c})) << "row " << i << " slot " << slot;
      ++slot;
    }
  }
  ASSERT_EQ(s.row_start(m.order + 1), slot);
  for (int k = slot; k <= m.NZ; ++k) {
    ASSERT_EQ(s.column(k), 0) << k;
    ASSERT_EQ(s.value(k), 0.0) << k;
    ASSERT_EQ(s.link(k), 0) << k;
  }
}

template <class T>
std::vector<T> as_vector(const rt::vec1<T>& v) {
  return std::vector<T>(v.begin(), v.end());
}

void expect_unchanged(const num::sparse_store& s, const num::sparse_store& before) {
  EXPECT_EQ(as_vector(s.row_start), as_vector(before.row_start));
  EXPECT_EQ(as_vector(s.column), as_vector(before.column));
  EXPECT_EQ(as_vector(s.value), as_vector(before.value));
  EXPECT_EQ(as_vector(s.link), as_vector(before.link));
}

struct call { int I, J; double v; int dup; };

// Fills a store, the chain model and the map model with the same calls and compares statuses,
// the linked layout, and the finished layout.
void run_case(int order, int NZ, const std::vector<call>& calls, num::sparse_store& s) {
  plain_store p(order, NZ);
  map_model m(order, NZ);
  for (const call& c : calls) {
    const int got = put(s, c.I, c.J, c.v, c.dup);
    ASSERT_EQ(got, p.add(c.I, c.J, c.v, c.dup)) << "(" << c.I << "," << c.J << ")";
    ASSERT_EQ(got, m.add(c.I, c.J, c.v, c.dup)) << "(" << c.I << "," << c.J << ")";
  }
  ASSERT_NO_FATAL_FAILURE(expect_same_linked(s, p));
  num::sparse_finish(s);
  p.finish();
  ASSERT_NO_FATAL_FAILURE(expect_same_finished(s, p));
  ASSERT_NO_FATAL_FAILURE(expect_matches_model(s, m));
}

std::vector<call> random_calls(std::mt19937& g, int order, int n_calls, bool skewed) {
  std::vector<call> calls;
  std::uniform_int_distribution<int> pos(1, order);
  std::uniform_int_distribution<int> pct(0, 99);
  std::uniform_int_distribution<int> small(1, 9);
  const int hot = std::uniform_int_distribution<int>(1, order)(g);
  for (int n = 0; n < n_calls; ++n) {
    int I = pos(g), J = pos(g);
    if (skewed && pct(g) < 60) I = hot;                    // one row collects most entries
    const int o = pct(g);
    if (o < 2) {
      I = pct(g) < 50 ? 0 : order + 1;                      // out of range now and then
    } else if (o < 4) {
      J = pct(g) < 50 ? 0 : order + 1 + small(g) * 1000000;
    }
    const int d = pct(g);
    const int dup = d < 80 ? 5 : d < 90 ? 0 : -1;
    calls.push_back({I, J, small(g) * 0.125 + 1.0 / small(g), dup});
  }
  return calls;
}

// ------------------------------------------------------------ randomised comparison

TEST(SparseStore, RandomStoresMatchBothModels) {
  std::mt19937 g(20240611);
  for (int round = 0; round < 600; ++round) {
    const bool wide = round % 7 == 3;                       // rows long enough for their tables to grow
    const int order = std::uniform_int_distribution<int>(1, round % 3 == 0 ? 6 : wide ? 500 : 70)(g);
    const int NZ = std::uniform_int_distribution<int>(0, (wide ? 6 : 3) * order + 120)(g);
    const int n_calls = std::uniform_int_distribution<int>(0, 2 * NZ + 20)(g);
    std::vector<call> calls = random_calls(g, order, n_calls, round % 2 == 1);
    if (round % 5 == 0)                                     // rows filled last row first
      std::stable_sort(calls.begin(), calls.end(), [](const call& a, const call& b) { return a.I > b.I; });
    num::sparse_store s = make_store(order, NZ);
    SCOPED_TRACE("round " + std::to_string(round) + " order " + std::to_string(order) + " NZ " +
                 std::to_string(NZ));
    ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, calls, s));
    // Emptied again and refilled, the same store behaves like a fresh one.
    num::sparse_init(s);
    std::shuffle(calls.begin(), calls.end(), g);
    ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, calls, s));
  }
}

// sparse_create leaves what sparse_allocate and sparse_init leave, on small stores (storage
// from the heap) and on stores large enough to come fresh from the system, and such a store
// fills and finishes like the models; a large one also after sparse_init has refilled it.
TEST(SparseStore, CreatedStoresEqualInitialisedOnesAndMatchBothModels) {
  std::mt19937 g(4242);
  for (int NZ : {0, 5, 300, 1 << 20, (1 << 20) + 3}) {
    const int order = NZ > 1000 ? 2000 : 40;
    num::sparse_store made = make_store(order, NZ);
    num::sparse_store created;
    num::sparse_create(created, order, NZ);
    EXPECT_EQ(created.order, made.order);
    EXPECT_EQ(created.NZ, made.NZ);
    EXPECT_EQ(as_vector(created.row_start), as_vector(made.row_start));
    EXPECT_EQ(as_vector(created.column), as_vector(made.column));
    EXPECT_EQ(as_vector(created.value), as_vector(made.value));
    EXPECT_EQ(as_vector(created.link), as_vector(made.link));
    const int n_calls = NZ > 1000 ? 30000 : 2 * NZ + 20;
    std::vector<call> calls = random_calls(g, order, n_calls, NZ % 2 == 1);
    SCOPED_TRACE("NZ " + std::to_string(NZ));
    ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, calls, created));
    num::sparse_init(created);
    std::shuffle(calls.begin(), calls.end(), g);
    ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, calls, created));
  }
}

// Long rows whose tables grow one after another, so that later rows take the tables earlier
// ones left behind (which must come back empty), with repeats of every position afterwards.
TEST(SparseStore, GrowingTablesHandDownTheirCellsAndMatchBothModels) {
  const int order = 700;
  std::vector<call> calls;
  auto fill_row = [&](int row, int n, int first_col) {
    for (int c = 0; c < n; ++c) calls.push_back({row, 1 + (first_col + 3 * c) % order, 0.5 + c, 5});
  };
  fill_row(1, 200, 3);                 // 128 cells, then 256 (leaves 128)
  fill_row(2, 40, 11);                 // takes the 128 that row 1 left
  for (int c = 0; c < 600; ++c) {      // two rows growing in turn
    calls.push_back({3, 1 + (11 * c) % order, 1.0 + c, 5});
    if (c < 400) calls.push_back({4, 1 + (13 * c + 2) % order, 2.0 + c, 5});
  }
  fill_row(5, 120, 1);
  fill_row(6, 33, 40);
  const std::vector<call> first = calls;
  for (const call& c : first) calls.push_back({c.I, c.J, 0.25, 5});
  for (const call& c : first) calls.push_back({c.I, c.J, 9.0, c.I % 2 ? 0 : -1});
  const int NZ = 200 + 40 + 600 + 400 + 120 + 33 + 10;
  num::sparse_store s;
  num::sparse_create(s, order, NZ);
  ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, calls, s));
  num::sparse_init(s);                 // the same store again, rows in another order
  std::reverse(calls.begin(), calls.end());
  ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, calls, s));
}

// SBSIJ_row_add against the same terms entered call by call: the same statuses and, after
// every list, the same arrays, slot for slot; rows empty, short, growing long and long; lists
// with repeated columns, columns out of range, and stores that fill up in the middle of a list.
TEST(SparseStore, RowListsMatchSingleCalls) {
  std::mt19937 g(99);
  for (int round = 0; round < 400; ++round) {
    const int order = std::uniform_int_distribution<int>(1, round % 4 == 0 ? 5 : 60)(g);
    const int NZ = std::uniform_int_distribution<int>(0, round % 3 == 0 ? 30 : 2000)(g);
    num::sparse_store a = make_store(order, NZ), b = make_store(order, NZ);
    std::uniform_int_distribution<int> pos(1, order), pct(0, 99), len(0, 20);
    SCOPED_TRACE("round " + std::to_string(round));
    for (int list = 0; list < 150; ++list) {
      int I = round % 2 && pct(g) < 50 ? 1 : pos(g);       // row 1 grows long in odd rounds
      if (pct(g) < 2) I = pct(g) < 50 ? 0 : order + 1;
      const int n = len(g);
      std::vector<std::int32_t> J;
      std::vector<double> x;
      for (int j = 0; j < n; ++j) {
        int c = pos(g);
        if (j > 0 && pct(g) < 15) c = J[static_cast<std::size_t>(pct(g) % j)];  // a repeat
        if (pct(g) < 2) c = pct(g) < 50 ? 0 : order + 1;
        J.push_back(c);
        x.push_back(0.125 * pct(g) - 3.0);
      }
      const std::int32_t got = num::SBSIJ_row_add(a, I, J, x, -1, rt::console());
      std::int32_t want = 0;
      for (int j = 0; j < n; ++j) {
        num::SBSIJ(b, I, J[static_cast<std::size_t>(j)], x[static_cast<std::size_t>(j)], 5, -1,
                   rt::console(), want);
        if (want == 701 || want == 702) break;
      }
      ASSERT_EQ(got, want) << "list " << list;
      ASSERT_NO_FATAL_FAILURE(expect_unchanged(a, b));
      if (want == 701 || want == 702) break;                // the programs stop here
    }
    num::sparse_finish(a);
    num::sparse_finish(b);
    ASSERT_NO_FATAL_FAILURE(expect_unchanged(a, b));
  }
}

// The 702 message of a list that meets a full store is SBSIJ's, written once.
TEST(SparseStore, RowListMeetingAFullStoreWritesTheMessageOnce) {
  num::sparse_store s = make_store(3, 2);
  const std::int32_t J[3] = {2, 1, 3};
  const double x[3] = {1.0, 2.0, 3.0};
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  const std::int32_t ier = num::SBSIJ_row_add(s, 1, J, x, 0, rt::console());
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(ier, 702);
  EXPECT_EQ(out, " \r\n *** FATAL ERROR ********************\r\n NZ TOO SMALL - NO ROOM FOR NEW ENTRY\r\n"
                 " ************************************\r\n \r\n");
  EXPECT_EQ(s.row_start(4), 0);
  EXPECT_EQ(s.column(2), 2);
  EXPECT_EQ(s.column(1), 1);
}

// The fetch-ahead hints change nothing, whatever rows and columns they are given: empty,
// short and long rows, numbers out of range, rows of two stores, and a store already finished.
TEST(SparseStore, PrefetchHintsLeaveTheStoreAsItIs) {
  num::sparse_store s = make_store(50, 400);
  for (int c = 1; c <= 45; ++c) put(s, 7, c, 1.0 * c);     // a long row
  put(s, 3, 9, 2.0);                                       // a short one
  const num::sparse_store before = s;
  const std::vector<std::int32_t> rows = {7, 3, 1, 0, 51, -4, 50};
  const std::vector<std::int32_t> cols = {1, 9, 45, 46, 0, 51, 1000000, -1};
  num::sparse_prefetch_rows(s, rows);
  for (std::int32_t I : rows) num::sparse_prefetch_entries(s, I, cols);
  for (std::int32_t I : rows) num::sparse_prefetch_values(s, I, cols);
  num::sparse_store other = make_store(5, 20);
  put(other, 2, 2, 1.0);
  put(other, 2, 5, 1.0);
  const num::sparse_store other_before = other;
  std::vector<num::sparse_row_ref> refs;
  for (int round = 0; round < 3; ++round)   // more rows than are walked
    for (std::int32_t I : rows) refs.push_back({round == 1 ? &other : &s, I});
  num::sparse_prefetch_chains(refs);
  ASSERT_NO_FATAL_FAILURE(expect_unchanged(other, other_before));
  ASSERT_NO_FATAL_FAILURE(expect_unchanged(s, before));
  num::sparse_finish(s);
  const num::sparse_store finished = s;
  num::sparse_prefetch_rows(s, rows);
  for (std::int32_t I : rows) num::sparse_prefetch_entries(s, I, cols);
  for (std::int32_t I : rows) num::sparse_prefetch_values(s, I, cols);
  num::sparse_prefetch_chains(refs);   // the finished store's rows are skipped
  ASSERT_NO_FATAL_FAILURE(expect_unchanged(s, finished));
}

TEST(SparseStore, CompletelyFullStoresMatchBothModels) {
  std::mt19937 g(77);
  for (int round = 0; round < 300; ++round) {
    const int order = std::uniform_int_distribution<int>(1, 60)(g);
    // Distinct positions, one row favoured so that long rows are indexed, in random order.
    std::vector<call> calls;
    std::map<std::pair<int, int>, int> seen;
    const int target = std::uniform_int_distribution<int>(1, std::min(order * 4, order * order))(g);
    std::uniform_int_distribution<int> pos(1, order);
    while (static_cast<int>(seen.size()) < target) {
      int I = pos(g), J = pos(g);
      if (round % 2 && pos(g) % 2) I = 1;
      if (seen.emplace(std::make_pair(I, J), 1).second) calls.push_back({I, J, 1.0 + 0.5 * I, 5});
    }
    const int NZ = target;                                  // the store ends with free counter 0
    if (round % 3 == 0)
      std::stable_sort(calls.begin(), calls.end(), [](const call& a, const call& b) { return a.I > b.I; });
    // Repeats of present positions and one new position too many.
    std::vector<call> more = calls;
    for (int n = 0; n < 5 && n < target; ++n) more.push_back({calls[n].I, calls[n].J, 2.0, 5});
    more.push_back({order, order, 3.0, 5});
    num::sparse_store s = make_store(order, NZ);
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, more, s));
  }
}

TEST(SparseStore, LastRowFilledFirstTakesHighestSlots) {
  const std::vector<call> calls = {{4, 4, 1, 5}, {4, 2, 2, 5}, {3, 3, 3, 5}, {3, 1, 4, 5},
                                   {2, 2, 5, 5}, {1, 4, 6, 5}, {1, 1, 7, 5}, {4, 4, 8, 5}};
  for (int NZ : {7, 8, 12}) {
    num::sparse_store s = make_store(4, NZ);
    run_case(4, NZ, calls, s);
    EXPECT_EQ(s.row_start(1), 1);
    EXPECT_EQ(s.row_start(5), 8);
    const std::vector<int> cols = {4, 1, 2, 3, 1, 4, 2};
    const std::vector<double> vals = {6, 7, 5, 3, 4, 9, 2};
    for (int k = 1; k <= 7; ++k) {
      EXPECT_EQ(s.column(k), cols[k - 1]) << k;
      EXPECT_EQ(s.value(k), vals[k - 1]) << k;
    }
  }
}

TEST(SparseStore, LongRowsMatchBothModels) {
  // Two rows of a few thousand columns each, interleaved with short rows and repeats, so that
  // the column tables of the long rows are created and grow several times.
  std::mt19937 g(5);
  const int order = 3000;
  std::vector<call> calls;
  std::uniform_int_distribution<int> pos(1, order);
  for (int n = 0; n < 12000; ++n) {
    const int kind = n % 4;
    const int I = kind == 0 ? 17 : kind == 1 ? order : pos(g);
    calls.push_back({I, pos(g), 0.25 * (n % 13), n % 50 == 0 ? 0 : 5});
  }
  for (int NZ : {9000, 12000}) {
    num::sparse_store s = make_store(order, NZ);
    SCOPED_TRACE("NZ " + std::to_string(NZ));
    ASSERT_NO_FATAL_FAILURE(run_case(order, NZ, calls, s));
  }
}

// ------------------------------------------------------------ edge cases

TEST(SparseStore, DuplicateActions) {
  num::sparse_store s = make_store(3, 4);
  EXPECT_EQ(put(s, 2, 3, 1.5), 0);
  EXPECT_EQ(put(s, 2, 3, 2.25), 700);
  EXPECT_EQ(s.row_start(4), 3);                            // one slot used
  EXPECT_EQ(s.value(4), 3.75);
  EXPECT_EQ(put(s, 2, 3, 9.0, 0), 700);
  EXPECT_EQ(s.value(4), 9.0);
  EXPECT_EQ(put(s, 2, 3, 4.0, -1), 700);
  EXPECT_EQ(s.value(4), 9.0);
}

TEST(SparseStore, FullStoreRefusesNewPositionOnly) {
  num::sparse_store s = make_store(3, 2);
  EXPECT_EQ(put(s, 1, 1, 1.0), 0);
  EXPECT_EQ(put(s, 3, 2, 2.0), 0);
  const num::sparse_store before = s;
  EXPECT_EQ(put(s, 1, 2, 5.0), 702);
  EXPECT_EQ(put(s, 2, 2, 5.0), 702);
  expect_unchanged(s, before);
  EXPECT_EQ(put(s, 3, 2, 1.0), 700);
  EXPECT_EQ(s.value(1), 3.0);
}

TEST(SparseStore, OutOfRangeLeavesStoreUnchanged) {
  num::sparse_store s = make_store(3, 5);
  EXPECT_EQ(put(s, 1, 2, 1.0), 0);
  const num::sparse_store before = s;
  EXPECT_EQ(put(s, 0, 1, 1.0), 701);
  EXPECT_EQ(put(s, 1, 4, 1.0), 701);
  EXPECT_EQ(put(s, 4, 1, 1.0), 701);
  EXPECT_EQ(put(s, 1, -7, 1.0), 701);
  expect_unchanged(s, before);
}

TEST(SparseStore, RowsKeepArrivalOrder) {
  num::sparse_store s = make_store(5, 10);
  EXPECT_EQ(put(s, 2, 5, 1.0), 0);
  EXPECT_EQ(put(s, 1, 1, 2.0), 0);
  EXPECT_EQ(put(s, 2, 3, 3.0), 0);
  EXPECT_EQ(put(s, 2, 5, 4.0), 700);
  num::sparse_finish(s);
  const std::vector<int> rs = {1, 2, 4, 4, 4, 4};
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(s.row_start(i), rs[i - 1]) << i;
  EXPECT_EQ(s.column(1), 1);
  EXPECT_EQ(s.value(1), 2.0);
  EXPECT_EQ(s.column(2), 5);
  EXPECT_EQ(s.value(2), 5.0);
  EXPECT_EQ(s.column(3), 3);
  EXPECT_EQ(s.value(3), 3.0);
  for (int k = 4; k <= 10; ++k) EXPECT_TRUE(s.column(k) == 0 && s.value(k) == 0.0 && s.link(k) == 0) << k;
}

// The finishing copies the entries to fresh arrays when the memory is there and moves them
// within the store when it is not: both give the same arrays and the same slot map, on stores
// full, half full and empty, with rows short and long, and orders that are and are not a
// multiple of the eight rows walked side by side.
TEST(SparseStore, FinishingInPlaceMatchesTheCopy) {
  std::mt19937 g(5);
  for (int round = 0; round < 200; ++round) {
    // Up to 200 columns: row 1 then outgrows the 64 slots that one walk notes at a time.
    const int order = std::uniform_int_distribution<int>(0, round % 5 == 0 ? 200 : 70)(g);
    const int NZ = std::uniform_int_distribution<int>(0, 900)(g);
    num::sparse_store s = make_store(order, NZ);
    std::uniform_int_distribution<int> pos(1, order > 0 ? order : 1), pct(0, 99);
    std::vector<std::int32_t> slots;
    const int calls = std::uniform_int_distribution<int>(0, 2 * NZ + 1)(g);
    for (int k = 0; k < calls && order > 0; ++k) {
      const int I = round % 3 == 0 && pct(g) < 40 ? 1 : pos(g);   // row 1 long in some rounds
      std::int32_t ier = 0;
      const std::int32_t slot = num::SBSIJ_slot(s, I, pos(g), 0.25 * pct(g), 5, -1, rt::console(), ier);
      if (ier == 702) break;
      slots.push_back(ier == 0 ? -slot : slot);
    }
    num::sparse_store t = s;
    std::vector<std::int32_t> t_slots = slots;
    SCOPED_TRACE("round " + std::to_string(round));
    num::sparse_finish(s, slots);
    rt::set_memory_limit(rt::memory_held());               // no room for the copy
    num::sparse_finish(t, t_slots);
    rt::set_memory_limit(0);
    ASSERT_NO_FATAL_FAILURE(expect_unchanged(s, t));
    EXPECT_EQ(slots, t_slots);
  }
}

TEST(SparseStore, EmptyStoresFinish) {
  num::sparse_store s = make_store(4, 6);
  num::sparse_finish(s);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(s.row_start(i), 1);
  num::sparse_store z = make_store(0, 3);
  num::sparse_finish(z);
  ASSERT_EQ(z.row_start.size(), 1);
  EXPECT_EQ(z.row_start(1), 1);
  std::int32_t ier = 0;
  num::SBSIJ(z, 1, 1, 1.0, 5, -1, rt::console(), ier);
  EXPECT_EQ(ier, 701);
}

TEST(SparseStore, InitSetsLinkedFormAndFills) {
  num::sparse_store s;
  num::sparse_allocate(s, 3, 4);
  for (int k = 1; k <= 4; ++k) { s.column(k) = 9; s.value(k) = 9.0; s.link(k) = 9; }
  num::sparse_init(s);
  EXPECT_EQ(s.row_start(1), -1);
  EXPECT_EQ(s.row_start(3), -3);
  EXPECT_EQ(s.row_start(4), 4);
  for (int k = 1; k <= 4; ++k) EXPECT_TRUE(s.column(k) == 0 && s.value(k) == 0.0 && s.link(k) == 0);
  rt::vec1<double> d(23, 1.0);
  num::fill_doubles(13, d, 2.5);
  EXPECT_EQ(d(13), 2.5);
  EXPECT_EQ(d(14), 1.0);
  num::fill_doubles(0, d, 7.0);
  num::fill_doubles(-3, d, 7.0);
  EXPECT_EQ(d(1), 2.5);
  rt::vec1<std::int32_t> v(11, 1);
  num::fill_ints(11, v, -4);
  EXPECT_EQ(v(1), -4);
  EXPECT_EQ(v(11), -4);
}

// ------------------------------------------------------------ messages

std::string messages_of(int I, int J, bool fill_first) {
  auto dir = testing_support::scratch_dir("sparse_messages");
  rt::text_out f;
  rt::open_out(f, 6, (dir / "out.txt").string());
  num::sparse_store s = make_store(3, 1);
  std::int32_t ier = 0;
  if (fill_first) num::SBSIJ(s, 1, 1, 1.0, 5, 0, f, ier);
  num::SBSIJ(s, I, J, 1.0, 5, 0, f, ier);
  num::SBSIJ(s, I, J, 1.0, 5, -1, f, ier);                 // message level below 0: silent
  rt::close(f);
  return testing_support::read_file(dir / "out.txt");
}

TEST(SparseStore, OutOfRangeMessage) {
  EXPECT_EQ(messages_of(0, 4, false),
            " \r\n"
            " *** FATAL ERROR ********************************\r\n"
            " IMPROPER VALUE FOR PAIR (I,J)=(      0,      4)\r\n"
            " ************************************************\r\n"
            " \r\n");
  EXPECT_EQ(messages_of(12345678, -123456, false),
            " \r\n"
            " *** FATAL ERROR ********************************\r\n"
            " IMPROPER VALUE FOR PAIR (I,J)=(*******,-123456)\r\n"
            " ************************************************\r\n"
            " \r\n");
  EXPECT_EQ(messages_of(2, -1234567, false),
            " \r\n"
            " *** FATAL ERROR ********************************\r\n"
            " IMPROPER VALUE FOR PAIR (I,J)=(      2,*******)\r\n"
            " ************************************************\r\n"
            " \r\n");
}

TEST(SparseStore, NoRoomMessage) {
  EXPECT_EQ(messages_of(2, 2, true),
            " \r\n"
            " *** FATAL ERROR ********************\r\n"
            " NZ TOO SMALL - NO ROOM FOR NEW ENTRY\r\n"
            " ************************************\r\n"
            " \r\n");
  EXPECT_EQ(messages_of(1, 1, true), "");                  // a repeat needs no room
}

// ------------------------------------------------------------ speed

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST(SparseStore, MillionEntriesIntoOneRowAreFast) {
  const int n = 1000000;
  num::sparse_store s = make_store(n, n);
  auto t0 = std::chrono::steady_clock::now();
  for (int k = 1; k <= n; ++k) {
    const int col = static_cast<int>((static_cast<std::int64_t>(k) * 7919) % n) + 1;
    ASSERT_EQ(put(s, 1, col, 1.0), 0);
  }
  const double fill = seconds_since(t0);
  t0 = std::chrono::steady_clock::now();
  for (int k = 1; k <= n; k += 10) ASSERT_EQ(put(s, 1, k, 1.0), 700);
  EXPECT_EQ(put(s, 2, 1, 1.0), 702);
  const double repeats = seconds_since(t0);
  t0 = std::chrono::steady_clock::now();
  num::sparse_finish(s);                                    // completely full store, one row
  const double finish = seconds_since(t0);
  std::cout << "one row of " << n << ": fill " << fill << " s, 100000 repeats " << repeats
            << " s, finish (full store) " << finish << " s\n";
  EXPECT_LT(fill, testing_support::time_limit(1.0));
  EXPECT_LT(finish, testing_support::time_limit(1.0));
  EXPECT_EQ(s.row_start(2), n + 1);
  EXPECT_EQ(s.column(1), 7919 % n + 1);
  EXPECT_EQ(s.value(1), 1.0);
  double total = 0.0;
  for (int k = 1; k <= n; ++k) total += s.value(k);
  EXPECT_EQ(total, n + n / 10);
}

// SBSIJ_slot returns the slot of the entry it stored or added to (the same statuses and store as
// SBSIJ); the finishing with the list of those slots turns each into the slot where the same
// entry lies in the finished store, keeping the sign. Rows short and long (past the chain
// length at which a row gets a column table), a store filled to the last slot, and the calls
// refused (701, 702), which return slot 0.
TEST(SparseStore, SlotsOfEntriesFollowTheFinishing) {
  for (const int seed : {1, 2, 3}) {
    const int order = 40, NZ = 700;
    std::mt19937 gen(seed);
    num::sparse_store s = make_store(order, NZ), twin = make_store(order, NZ);
    std::vector<std::int32_t> slots;
    std::vector<std::pair<int, int>> where;
    int refused = 0;
    for (int call = 0; call < 3000; ++call) {
      // Row 1 and 2 grow long, the others stay short; now and then a position off the matrix.
      const int I = call % 5 == 0 ? 1 + call % 2 : 1 + static_cast<int>(gen() % (order + 1));
      const int J = 1 + static_cast<int>(gen() % order);
      const double v = static_cast<double>(gen() % 1000) / 8.0;
      std::int32_t ier = 0, ier_twin = 0;
      const std::int32_t k = num::SBSIJ_slot(s, I, J, v, 5, -1, rt::console(), ier);
      num::SBSIJ(twin, I, J, v, 5, -1, rt::console(), ier_twin);
      ASSERT_EQ(ier, ier_twin);
      if (ier == 701 || ier == 702) {
        EXPECT_EQ(k, 0);
        ++refused;
        continue;
      }
      ASSERT_GE(k, 1);
      ASSERT_LE(k, NZ);
      EXPECT_EQ(s.column(k), J);
      slots.push_back(ier == 0 ? -k : k);
      where.emplace_back(I, J);
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(s.row_start(order + 1), 0);   // filled to the last slot
    num::sparse_finish(s, slots);
    num::sparse_finish(twin);
    for (int i = 1; i <= order + 1; ++i) ASSERT_EQ(s.row_start(i), twin.row_start(i));
    for (int k = 1; k <= NZ; ++k) {
      ASSERT_EQ(s.column(k), twin.column(k));
      ASSERT_EQ(s.value(k), twin.value(k));
    }
    std::map<std::pair<int, int>, int> first_slot;
    for (std::size_t t = 0; t < slots.size(); ++t) {
      const auto [I, J] = where[t];
      const int k = slots[t] < 0 ? -slots[t] : slots[t];
      ASSERT_GE(k, s.row_start(I));
      ASSERT_LT(k, s.row_start(I + 1));
      ASSERT_EQ(s.column(k), J);
      const bool first = first_slot.find({I, J}) == first_slot.end();
      EXPECT_EQ(slots[t] < 0, first);
      const std::pair<int, int> position{I, J};
      if (first) first_slot[position] = k;
      else EXPECT_EQ(first_slot[position], k);
    }
  }
}

TEST(SparseStore, ManyRowsFinishFast) {
  // 200000 rows of five entries each, rows visited round-robin so that every chain spans the
  // whole store, which is completely full when finished.
  const int rows = 200000, per_row = 5, n = rows * per_row;
  num::sparse_store s = make_store(rows, n);
  auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < per_row; ++r)
    for (int i = rows; i >= 1; --i) ASSERT_EQ(put(s, i, (i + r * 7) % rows + 1, 1.0 * r), 0);
  const double fill = seconds_since(t0);
  t0 = std::chrono::steady_clock::now();
  num::sparse_finish(s);
  const double finish = seconds_since(t0);
  std::cout << rows << " rows of " << per_row << ": fill " << fill << " s, finish (full store) "
            << finish << " s\n";
  EXPECT_LT(finish, testing_support::time_limit(1.0));
  for (int i = 1; i <= rows; i += 9999) {
    ASSERT_EQ(s.row_start(i), (i - 1) * per_row + 1);
    for (int r = 0; r < per_row; ++r) {
      EXPECT_EQ(s.column(s.row_start(i) + r), (i + r * 7) % rows + 1);
      EXPECT_EQ(s.value(s.row_start(i) + r), 1.0 * r);
    }
  }
}

}  // namespace

namespace {

// Both stores finished: the same pointers, columns and value bits.
void expect_same_finished_stores(const num::sparse_store& a, const num::sparse_store& b) {
  ASSERT_EQ(as_vector(a.row_start), as_vector(b.row_start));
  const int nnz = a.row_start(a.order + 1) - 1;
  for (int k = 1; k <= nnz; ++k) {
    ASSERT_EQ(a.column(k), b.column(k)) << "slot " << k;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(a.value(k)), std::bit_cast<std::uint64_t>(b.value(k)))
        << "slot " << k;
  }
}

}  // namespace

// The upper triangle copied from a store filled with both triangles equals a store that took
// the upper terms directly, interleaved with the others (rows in the same order, the same sums),
// also when more terms follow the copy (rows long enough for a column table, rows that were
// empty, a smaller source) and when the target held entries before (those rows take the sums);
// both when the copy passes over the slots (an empty target) and when it walks the chains, which
// leave the same slots.
TEST(SparseStore, UpperTriangleCopyMatchesDirectFilling) {
  std::mt19937 g(7);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int order = std::uniform_int_distribution<int>(1, round % 5 == 0 ? 4 : 90)(g);
    const int from_order = round % 7 == 0 ? std::uniform_int_distribution<int>(1, order)(g) : order;
    const int NZ = 6000;
    num::sparse_store from = make_store(from_order, NZ);
    num::sparse_store to = make_store(order, NZ), want = make_store(order, NZ);
    std::uniform_int_distribution<int> pos(1, from_order), pct(0, 99), any(1, order);
    const bool before = round % 3 == 1;      // the target holds entries of its own first
    if (before) {
      for (int c = 0; c < 40; ++c) {
        const int I = any(g), J = any(g);
        ASSERT_LT(put(to, I, J, 0.5 * J), 701);
        ASSERT_LT(put(want, I, J, 0.5 * J), 701);
      }
    }
    std::map<std::pair<int, int>, std::vector<double>> terms;   // upper terms in arrival order
    std::vector<std::pair<int, int>> first_arrival;
    for (int c = 0; c < 2500; ++c) {
      int I = pos(g), J = pos(g);
      if (pct(g) < 40) I = 1 + pct(g) % (from_order < 2 ? 1 : 2);   // rows 1 and 2 grow long
      const double v = 0.1 * pct(g) - 4.7 + 1.0 / (1 + pct(g));
      ASSERT_LT(put(from, I, J, v), 701);
      if (I <= J) {
        if (!before) {
          ASSERT_LT(put(want, I, J, v), 701);
        }
        if (terms[{I, J}].empty()) first_arrival.emplace_back(I, J);
        terms[{I, J}].push_back(v);
      }
    }
    if (before) {                             // the copy adds each sum as one term
      std::vector<std::vector<std::pair<int, double>>> rows(static_cast<std::size_t>(order) + 1);
      for (const auto& ij : first_arrival) {
        double sum = 0.0;
        bool started = false;
        for (double v : terms[ij]) { sum = started ? v + sum : v; started = true; }
        rows[static_cast<std::size_t>(ij.first)].emplace_back(ij.second, sum);
      }
      for (int I = 1; I <= order; ++I)
        for (const auto& [J, sum] : rows[static_cast<std::size_t>(I)])
          ASSERT_LT(put(want, I, J, sum), 701);
    }
    num::sparse_store other = to;              // the other way of copying, slot for slot
    const std::int32_t copied = round % 2 == 0
                                    ? num::sparse_add_upper(from, to, -1, rt::console())
                                    : num::sparse_add_upper_walking(from, to, -1, rt::console());
    ASSERT_LT(copied, 701);
    ASSERT_EQ(round % 2 == 0 ? num::sparse_add_upper_walking(from, other, -1, rt::console())
                             : num::sparse_add_upper(from, other, -1, rt::console()),
              copied);
    EXPECT_EQ(as_vector(other.row_start), as_vector(to.row_start));
    EXPECT_EQ(as_vector(other.column), as_vector(to.column));
    EXPECT_EQ(as_vector(other.value), as_vector(to.value));
    EXPECT_EQ(as_vector(other.link), as_vector(to.link));
    EXPECT_EQ(as_vector(other.fill_index.long_id), as_vector(to.fill_index.long_id));
    for (int c = 0; c < 300; ++c) {           // later terms meet the rows the copy made
      int I = any(g), J = any(g);
      if (pct(g) < 30) I = 1;
      if (I > J) std::swap(I, J);
      ASSERT_EQ(put(to, I, J, 0.25 * c), put(want, I, J, 0.25 * c));
    }
    num::sparse_finish(to);
    num::sparse_finish(want);
    ASSERT_NO_FATAL_FAILURE(expect_same_finished_stores(to, want));
  }
}

// A target that runs out of room: SBSIJ's 702 message once, status 702, and the rows copied so
// far stay whole.
TEST(SparseStore, UpperTriangleCopyIntoAFullStoreStops) {
  num::sparse_store from = make_store(3, 10), to = make_store(3, 3);
  for (const auto& [I, J] : std::vector<std::pair<int, int>>{{1, 3}, {2, 1}, {1, 1}, {2, 2}, {2, 3}, {3, 3}})
    ASSERT_EQ(put(from, I, J, I + 0.5 * J), 0);
  for (const bool walking : {false, true}) {
    SCOPED_TRACE(walking ? "walking" : "passing over the slots");
    num::sparse_store t = to;
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    const std::int32_t ier = walking ? num::sparse_add_upper_walking(from, t, 0, rt::console())
                                     : num::sparse_add_upper(from, t, 0, rt::console());
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ier, 702);
    EXPECT_EQ(out, " \r\n *** FATAL ERROR ********************\r\n NZ TOO SMALL - NO ROOM FOR NEW ENTRY\r\n"
                   " ************************************\r\n \r\n");
    num::sparse_finish(t);
    EXPECT_EQ(as_vector(t.row_start), (std::vector<std::int32_t>{1, 3, 4, 4}));
    EXPECT_EQ(as_vector(t.column), (std::vector<std::int32_t>{3, 1, 2}));
    EXPECT_EQ(as_vector(t.value), (std::vector<double>{2.5, 1.5, 3.0}));
  }
}

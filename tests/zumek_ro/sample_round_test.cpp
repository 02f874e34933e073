// One round of zumek_ro on a tiny system: the data-part rebuild (replayed against a literal
// SBSIJ rebuild and a dense reference), the S2E0 draw, the sweep against a dense single-site
// computation with a replayed stream, the grid draw against a direct likelihood, the Wishart
// block draw on a hand-checkable 2 x 2 case, and the chain line.
#include "zumek_ro/sample_round.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "numeric/grid_draw.hpp"
#include "numeric/random_variates.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/text_io.hpp"
#include "tests/support/e2e.hpp"
#include "numeric/sym_ginverse.hpp"
#include "zumek_ro/data_prep.hpp"
#include "zumek_ro/family_classes.hpp"
#include "zumek_ro/run_state.hpp"

namespace {

using dense = std::vector<std::vector<double>>;  // 0-based, test side only

// Effects: 1 fixed (3 levels, level 2 unused and dropped), 2 fixed (2), 3 single variance (2),
// 4 animal and 5 dam, the 2 x 2 pedigree block (4 members each).
constexpr int n_eq = 14;                         // after the drop
const int first_before[6] = {0, 1, 4, 6, 8, 12}; // first equation before the drop
const double amat[4][4] = {
    {2.0, -0.5, 0.0, -0.5}, {-0.5, 2.0, -0.5, 0.0}, {0.0, -0.5, 2.0, -0.5}, {-0.5, 0.0, -0.5, 2.0}};

struct record {
  double v[5];
  double y;
};
// Family 1: record 2's dam is record 1's animal (linked). Family 2: the earlier record's dam is
// the later record's animal (backwards, no link). Rest group: records 1 and 3 linked.
const std::vector<std::vector<record>> families = {
    {{{1, 1, 1, 1, 0}, 3.0}, {{3, 2, 2, 3, 1}, 4.5}, {{1, 2, 1, 2, 4}, 2.0}},
    {{{3, 1, 2, 2, 4}, 1.0}, {{1, 1, 1, 4, 0}, 5.0}},
    {{{1, 2, 2, 1, 0}, 2.5}, {{3, 1, 1, 4, 0}, 3.5}, {{1, 1, 2, 3, 1}, 1.5}},
};

void make_state(ro::run_state& s) {
  s = ro::run_state{};
  const int ne = 5;
  s.n_effects = ne;
  s.seed = 12345;
  s.NZ = 500;
  s.n_pedigree = 4;
  s.NRDF = 8;
  s.NLEV.assign(ne, 0);
  s.TYPO.assign(ne, 0);
  s.CORR.assign(ne, 0);
  s.fixed_effect_type.assign(ne, 0);
  s.remaining_levels.assign(ne, 0);
  const int nlev[5] = {3, 2, 2, 4, 4}, typo[5] = {0, 0, 1, 2, 2}, corr[5] = {0, 0, 1, 2, 0};
  for (int k = 1; k <= ne; ++k) {
    s.NLEV(k) = nlev[k - 1];
    s.TYPO(k) = typo[k - 1];
    s.CORR(k) = corr[k - 1];
    s.remaining_levels(k) = nlev[k - 1] - (k == 1 ? 1 : 0);
  }
  s.shift.assign(15, 1);
  s.shift(1) = 0;
  s.n_equations = n_eq;
  s.S2E0 = 2.5;
  s.p_PAR = 0.3;
  s.current_s2e0 = 2.5;
  s.current_p_par = 0.3;
  s.G0.resize(ne, 2, 2);
  s.G0(3, 1, 1) = 0.7;
  s.G0(4, 1, 1) = 1.1;
  s.G0(4, 1, 2) = s.G0(4, 2, 1) = 0.2;
  s.G0(4, 2, 2) = 0.9;
  s.G = s.G0;
  s.g_inverse.resize(ne, 2, 2);
  s.g_inverse(3, 1, 1) = 1.0 / 0.7;
  const double det = 1.1 * 0.9 - 0.2 * 0.2;
  s.g_inverse(4, 1, 1) = 0.9 / det;
  s.g_inverse(4, 2, 2) = 1.1 / det;
  s.g_inverse(4, 1, 2) = s.g_inverse(4, 2, 1) = -0.2 / det;
  s.residual_prior_df = 4.0;
  s.type1_prior_df = 5.0;
  s.type2_prior_df = 6.0;
  s.n_grid_points = 9;
  s.coarse_grid_start = -0.6;
  s.coarse_grid_end = 0.6;
  s.coarse_grid_step = 0.15;
  s.fine_grid_step = 0.05;
  s.fine_grid_centre = 5;
  s.grid.assign(9, 0.0);

  num::sparse_allocate(s.AMAT, 4, 40);
  num::sparse_init(s.AMAT);
  rt::text_out& con = rt::console();
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c)
      if (amat[r - 1][c - 1] != 0.0) num::SBSIJ(s.AMAT, r, c, amat[r - 1][c - 1], 5, 0, con, s.IER);
  num::sparse_finish(s.AMAT);

  s.sample.assign(n_eq, 0.0);
  for (int i = 1; i <= n_eq; ++i) s.sample(i) = 0.1 * i - 0.6;

  s.n_families = static_cast<std::int32_t>(families.size());
  s.family.resize(families.size());
  for (int f = 1; f <= s.n_families; ++f) {
    ro::family_block& b = s.family[f - 1];
    const auto& recs = families[f - 1];
    const int n = static_cast<int>(recs.size());
    const bool rest = f == s.n_families;
    b.n_records = n;
    b.is_rest_group = rest ? 1 : 0;
    b.equation.assign(ne, n, 0);
    b.coefficient.assign(ne, n, 0.0);
    b.record_value.assign(ne, n, 0.0);
    b.observation.assign(n, 0.0);
    b.residual.assign(n, 0.0);
    if (rest) {
      b.rest_residual_diag.assign(n, 0.0);
      b.rest_rinv_diag.assign(n, 0.0);
    } else {
      b.residual_matrix.assign(n, n, 0.0);
      b.RINV.assign(n, n, 0.0);
    }
    for (int r = 1; r <= n; ++r) {
      b.observation(r) = recs[r - 1].y;
      for (int k = 1; k <= ne; ++k) {
        const double v = recs[r - 1].v[k - 1];
        b.record_value(k, r) = v;
        if (v > 0) {
          b.coefficient(k, r) = 1.0;
          b.equation(k, r) = static_cast<std::int32_t>(v + first_before[k - 1]);
        }
      }
    }
    ro::find_linked_pairs(b, ne);
  }
  num::rng_state = num::generator_state{};
}

// Equation of effect k of record r of family f after the drop.
int eq_after(int f, int r, int k) {
  const double v = families[f - 1][r - 1].v[k - 1];
  if (v <= 0) return 0;
  const int e = static_cast<int>(v) + first_before[k - 1];
  return e == 1 ? 1 : e - 1;
}

dense inverse(dense a) {  // Gauss-Jordan, small and well conditioned
  const int n = static_cast<int>(a.size());
  dense x(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i) x[i][i] = 1.0;
  for (int c = 0; c < n; ++c) {
    const double p = a[c][c];
    for (int j = 0; j < n; ++j) {
      a[c][j] /= p;
      x[c][j] /= p;
    }
    for (int r = 0; r < n; ++r)
      if (r != c) {
        const double m = a[r][c];
        for (int j = 0; j < n; ++j) {
          a[r][j] -= m * a[c][j];
          x[r][j] -= m * x[c][j];
        }
      }
  }
  return x;
}

double log_det(dense a) {  // by elimination, positive definite input
  const int n = static_cast<int>(a.size());
  double ld = 0.0;
  for (int c = 0; c < n; ++c) {
    ld += std::log(a[c][c]);
    for (int r = c + 1; r < n; ++r) {
      const double m = a[r][c] / a[c][c];
      for (int j = c; j < n; ++j) a[r][j] -= m * a[c][j];
    }
  }
  return ld;
}

// I + p x (forward links) of family f, built from the identifiers.
dense residual_matrix(int f, double p) {
  const auto& recs = families[f - 1];
  const int n = static_cast<int>(recs.size());
  dense m(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i) m[i][i] = 1.0;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      if (recs[j].v[4] == recs[i].v[3]) m[i][j] = m[j][i] = p;
  return m;
}

// Residuals of family f at sample x (after the drop).
std::vector<double> residuals(int f, const std::vector<double>& x) {
  std::vector<double> r;
  for (int i = 1; i <= static_cast<int>(families[f - 1].size()); ++i) {
    double v = families[f - 1][i - 1].y;
    for (int k = 1; k <= 5; ++k)
      if (int q = eq_after(f, i, k)) v -= x[q - 1];
    r.push_back(v);
  }
  return r;
}

std::vector<double> sample_of(const ro::run_state& s) {
  std::vector<double> x;
  for (int i = 1; i <= s.n_equations; ++i) x.push_back(s.sample(i));
  return x;
}

// Dense data part at p: C = sum W' RINV W (the rest group by its diagonal only), rhs W' RINV y.
void dense_data_part(double p, dense& C, std::vector<double>& rhs) {
  C.assign(n_eq, std::vector<double>(n_eq, 0.0));
  rhs.assign(n_eq, 0.0);
  for (int f = 1; f <= 3; ++f) {
    const int n = static_cast<int>(families[f - 1].size());
    dense R = f < 3 ? inverse(residual_matrix(f, p)) : dense(n, std::vector<double>(n, 0.0));
    if (f == 3)
      for (int i = 0; i < n; ++i) R[i][i] = 1.0;
    for (int l = 1; l <= n; ++l)
      for (int m = 1; m <= n; ++m)
        for (int i = 1; i <= 5; ++i) {
          const int a = eq_after(f, l, i);
          if (!a) continue;
          rhs[a - 1] += families[f - 1][m - 1].y * R[l - 1][m - 1];
          for (int k = 1; k <= 5; ++k)
            if (int c = eq_after(f, m, k)) C[a - 1][c - 1] += R[l - 1][m - 1];
        }
  }
}

double dense_residual_ss(double p, const std::vector<double>& x) {
  double ss = 0.0;
  for (int f = 1; f <= 3; ++f) {
    const dense R = f < 3 ? inverse(residual_matrix(f, p)) : residual_matrix(f, p);
    const std::vector<double> r = residuals(f, x);
    for (std::size_t i = 0; i < r.size(); ++i)
      for (std::size_t j = 0; j < r.size(); ++j) ss += r[i] * r[j] * R[i][j];
  }
  return ss;
}

TEST(RoRebuild, LinksOnlyForwardAndTheRestGroupKeepsItsPair) {
  ro::run_state s;
  make_state(s);
  ro::size_round_work(s);
  ro::rebuild_data_part(s, 1);
  EXPECT_EQ(s.family[0].residual_matrix(1, 2), 0.3);
  EXPECT_EQ(s.family[0].residual_matrix(2, 1), 0.3);
  EXPECT_EQ(s.family[0].residual_matrix(1, 3), 0.0);
  EXPECT_EQ(s.family[1].n_links, 0);                 // the backward pair
  EXPECT_EQ(s.family[1].residual_matrix(1, 2), 0.0);
  EXPECT_EQ(s.family[1].RINV(1, 2), 0.0);
  EXPECT_EQ(s.family[1].RINV(1, 1), 1.0);
  ASSERT_EQ(s.family[2].n_links, 1);
  EXPECT_EQ(s.family[2].link_first(1), 1);
  EXPECT_EQ(s.family[2].link_second(1), 3);
  EXPECT_EQ(s.family[2].rest_rinv_link(1), 0.3);     // the copy, not an inverse
  EXPECT_EQ(s.family[2].rest_rinv_diag(2), 1.0);
}

TEST(RoRebuild, RoundOneRenumbersByShiftAndLaterRoundsDoNot) {
  ro::run_state s;
  make_state(s);
  ro::size_round_work(s);
  EXPECT_EQ(s.family[0].equation(1, 2), 3);   // level 3 of effect 1 before the drop
  EXPECT_EQ(s.family[0].equation(5, 1), 0);
  ro::rebuild_data_part(s, 1);
  for (int f = 1; f <= 3; ++f)
    for (int r = 1; r <= s.family[f - 1].n_records; ++r)
      for (int k = 1; k <= 5; ++k) EXPECT_EQ(s.family[f - 1].equation(k, r), eq_after(f, r, k));
  ro::rebuild_data_part(s, 2);
  EXPECT_EQ(s.family[0].equation(1, 2), 2);
  EXPECT_EQ(s.family[0].equation(4, 1), 6);
}

TEST(RoRebuild, ReplayEqualsALiteralSbsijRebuildAndADenseReference) {
  ro::run_state s;
  make_state(s);
  ro::size_round_work(s);
  ro::rebuild_data_part(s, 1);
  for (double p : {-0.45, 0.3, 0.61}) {
    s.current_p_par = p;
    ro::rebuild_data_part(s, 2);  // replay
    const num::sparse_store replay = s.data_store;
    std::vector<double> replay_rhs;
    for (int i = 1; i <= n_eq; ++i) replay_rhs.push_back(s.round_rhs(i));
    const double replay_ss = s.residual_ss;

    ro::rebuild_data_part(s, 2, true);  // literal: SBSIJ into a fresh store, then finished
    for (int i = 1; i <= n_eq + 1; ++i) ASSERT_EQ(replay.row_start(i), s.data_store.row_start(i));
    for (int k = 1; k <= s.NZ; ++k) {
      ASSERT_EQ(replay.column(k), s.data_store.column(k)) << k;
      ASSERT_EQ(std::memcmp(&replay.value(k), &s.data_store.value(k), sizeof(double)), 0) << k;
    }
    for (int i = 1; i <= n_eq; ++i) ASSERT_EQ(replay_rhs[i - 1], s.round_rhs(i));
    ASSERT_EQ(replay_ss, s.residual_ss);

    dense C;
    std::vector<double> rhs;
    dense_data_part(p, C, rhs);
    int stored = 0;
    for (int i = 1; i <= n_eq; ++i)
      for (int k = s.data_store.row_start(i); k < s.data_store.row_start(i + 1); ++k) {
        const int c = s.data_store.column(k);
        ASSERT_GE(c, i);
        EXPECT_NEAR(s.data_store.value(k), C[i - 1][c - 1], 1e-12) << i << "," << c;
        ++stored;
      }
    int nonzero = 0;
    for (int i = 0; i < n_eq; ++i)
      for (int c = i; c < n_eq; ++c) nonzero += C[i][c] != 0.0;
    EXPECT_GE(stored, nonzero);
    for (int i = 1; i <= n_eq; ++i) EXPECT_NEAR(s.round_rhs(i), rhs[i - 1], 1e-12) << i;
    EXPECT_NEAR(s.residual_ss, dense_residual_ss(p, sample_of(s)), 1e-11);
  }
}

long peak_resident_kib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// The first round fills a data store fresh from the system: only the pages of the slots it
// fills come into memory, not the whole capacity. Clearing its NZ slots first, as a refill
// must, would bring in all 512 MiB of them here.
TEST(RoRebuild, RoundOneBringsInOnlyTheSlotsItFills) {
  ro::run_state big, small;
  make_state(big);
  make_state(small);
  big.NZ = 1 << 25;
  ro::size_round_work(big);
  ro::size_round_work(small);
  const long before = peak_resident_kib();
  ro::rebuild_data_part(big, 1);
  EXPECT_LT(peak_resident_kib() - before, 64 * 1024);
  ro::rebuild_data_part(small, 1);
  for (int i = 1; i <= n_eq + 1; ++i)
    ASSERT_EQ(big.data_store.row_start(i), small.data_store.row_start(i));
  for (int k = 1; k <= small.NZ; ++k) {
    ASSERT_EQ(big.data_store.column(k), small.data_store.column(k)) << k;
    ASSERT_EQ(std::memcmp(&big.data_store.value(k), &small.data_store.value(k), sizeof(double)), 0);
  }
}

// Later rounds write the store from the terms compiled on the first round, slot by slot; with
// replay_by_slots set they replay the recorded slots term by term instead. Same bits either way.
TEST(RoRebuild, CompiledTermsGiveTheBitsOfTheTermByTermReplay) {
  ro::run_state a, b;
  make_state(a);
  make_state(b);
  b.replay_by_slots = true;
  ro::size_round_work(a);
  ro::size_round_work(b);
  ro::rebuild_data_part(a, 1);   // laid out from the terms, then the compiled replay
  ro::rebuild_data_part(b, 1);   // through SBSIJ and sparse_finish
  ASSERT_TRUE(a.terms_compiled);
  EXPECT_EQ(a.term_slot.size(), 0);
  EXPECT_EQ(a.term_factor.size(), a.n_terms);
  EXPECT_FALSE(b.terms_compiled);
  ASSERT_EQ(a.n_terms, b.n_terms);
  for (std::size_t f = 0; f < a.family.size(); ++f)
    for (int r = 1; r <= a.family[f].n_records; ++r)
      for (int k = 1; k <= 5; ++k) ASSERT_EQ(a.family[f].equation(k, r), b.family[f].equation(k, r));
  auto same_round = [&](const char* when) {
    for (int i = 1; i <= n_eq + 1; ++i)
      ASSERT_EQ(a.data_store.row_start(i), b.data_store.row_start(i)) << when;
    for (int k = 1; k <= a.NZ; ++k) {
      ASSERT_EQ(a.data_store.column(k), b.data_store.column(k)) << when << " slot " << k;
      ASSERT_EQ(std::memcmp(&a.data_store.value(k), &b.data_store.value(k), sizeof(double)), 0)
          << when << " slot " << k;
    }
    for (int i = 1; i <= n_eq; ++i)
      ASSERT_EQ(std::memcmp(&a.round_rhs(i), &b.round_rhs(i), sizeof(double)), 0) << when << i;
    ASSERT_EQ(std::memcmp(&a.residual_ss, &b.residual_ss, sizeof(double)), 0) << when;
  };
  same_round("round 1");
  for (double p : {-0.45, 0.0, 0.3, 0.61}) {
    a.current_p_par = p;
    b.current_p_par = p;
    ro::rebuild_data_part(a, 2);
    ro::rebuild_data_part(b, 2);
    same_round(p < 0.0 ? "p -0.45" : p == 0.0 ? "p 0" : p < 0.5 ? "p 0.3" : "p 0.61");
  }
}

// Round 1 leaves the SBSIJ path to stop a run whose store cannot hold the entries, or whose
// blocks hold an equation out of range: the same message and status as the literal rounds.
TEST(RoRebuildDeathTest, RoundOneStopsAsSbsijWouldWhenTheStoreIsFullOrAnEquationOutOfRange) {
  ro::run_state s;
  make_state(s);
  ro::size_round_work(s);
  ro::rebuild_data_part(s, 1);
  const int entries = s.data_store.row_start(n_eq + 1) - 1;
  for (bool literal : {false, true}) {
    make_state(s);
    s.NZ = entries - 1;
    s.replay_by_slots = literal;
    ro::size_round_work(s);
    EXPECT_EXIT(
        {
          std::fflush(stdout);
          dup2(2, 1);
          ro::rebuild_data_part(s, 1);
        },
        testing::ExitedWithCode(1),
        "^ \r\n \\*\\*\\* FATAL ERROR \\*+\r\n NZ TOO SMALL - NO ROOM FOR NEW ENTRY\r\n")
        << literal;
    make_state(s);
    s.replay_by_slots = literal;
    ro::size_round_work(s);
    s.family[1].equation(2, 1) = n_eq + 100;
    EXPECT_EXIT(
        {
          std::fflush(stdout);
          dup2(2, 1);
          ro::rebuild_data_part(s, 1);
        },
        testing::ExitedWithCode(1), "^ BEWARE! EQUATION OUT OF RANGE IN EFFECT +2\r\n")
        << literal;
  }
}

TEST(RoResidualVariance, DrawnFromTheStartingS2E0AndTheResidualSum) {
  ro::run_state s;
  make_state(s);
  s.current_s2e0 = 99.0;   // not used by the draw
  s.residual_ss = 7.25;
  ro::draw_residual_variance(s);
  num::rng_state = num::generator_state{};
  std::int32_t seed = 12345;
  const double expected = num::rand_scaled_inv_chisq(8 + 4.0, (4.0 + 1.0) * 2.5 + 7.25, seed);
  EXPECT_EQ(s.current_s2e0, expected);
  EXPECT_EQ(s.seed, seed);
}

TEST(RoResidualVarianceDeathTest, TooBigAndNotANumberStop) {
  ro::run_state s;
  make_state(s);
  s.residual_ss = 1.0e12;
  EXPECT_EXIT(ro::draw_residual_variance(s), testing::ExitedWithCode(1),
              "^ BEWARE! S2E0 SAMPLE VALUE TOO BIG!\r\n$");
  s.residual_ss = std::nan("");
  EXPECT_EXIT(ro::draw_residual_variance(s), testing::ExitedWithCode(1),
              "^ BEWARE! S2E0 SAMPLE VALUE IS NOT A FINITE POSITIVE NUMBER!\r\n$");
}

TEST(RoSweep, SingleSiteDrawsMatchADenseComputationWithReplayedNormals) {
  ro::run_state s;
  make_state(s);
  ro::size_round_work(s);
  ro::rebuild_data_part(s, 1);
  s.current_s2e0 = 1.7;
  ro::build_block_bookkeeping(s);
  std::vector<double> x = sample_of(s);

  // Full coefficient matrix: the data part in both triangles plus the prior terms x S2E0.
  dense C(n_eq, std::vector<double>(n_eq, 0.0));
  for (int i = 1; i <= n_eq; ++i)
    for (int k = s.data_store.row_start(i); k < s.data_store.row_start(i + 1); ++k) {
      const int c = s.data_store.column(k);
      C[i - 1][c - 1] = C[c - 1][i - 1] = s.data_store.value(k);
    }
  const double s2 = 1.7;
  for (int i = 0; i < 4; ++i) C[i][i] += s2 / 1.0E7;       // effects 1 and 2
  for (int i = 4; i < 6; ++i) C[i][i] += s2 / 0.7;         // effect 3
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b)
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
          C[6 + 4 * a + r][6 + 4 * b + c] += s2 * s.g_inverse(4, a + 1, b + 1) * amat[r][c];

  num::rng_state = num::generator_state{};
  std::int32_t seed = s.seed;
  for (int i = 0; i < n_eq; ++i) {
    double w = s.round_rhs(i + 1);
    for (int c = 0; c < n_eq; ++c)
      if (c != i) w -= C[i][c] * x[c];
    const double z = num::rand_normal(seed);
    x[i] = w / C[i][i] + z * std::sqrt(s2 / C[i][i]);
  }
  num::rng_state = num::generator_state{};
  ro::sweep_location_effects(s);
  for (int i = 0; i < n_eq; ++i) EXPECT_NEAR(s.sample(i + 1), x[i], 1e-9 * (1 + std::fabs(x[i]))) << i;
  EXPECT_EQ(s.seed, seed);
}

TEST(RoSweepDeathTest, TypoThreeStopsWithItsValue) {
  ro::run_state s;
  make_state(s);
  s.TYPO(3) = 3;
  ro::size_round_work(s);
  ro::rebuild_data_part(s, 1);
  ro::build_block_bookkeeping(s);
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        ro::sweep_location_effects(s);
      },
      testing::ExitedWithCode(1), "^ UNIMPLEMENTED RANDOM EFFECT           3\r\n$");
}

// Log-likelihood of p from the residuals at the current sample, divided by s2.
double log_likelihood_at(const ro::run_state& s, double p, double s2) {
  double q = 0.0, ld = 0.0;
  for (int f = 1; f <= 3; ++f) {
    const dense M = residual_matrix(f, p);
    const dense R = f < 3 ? inverse(M) : M;
    const std::vector<double> r = residuals(f, sample_of(s));
    for (std::size_t i = 0; i < r.size(); ++i)
      for (std::size_t j = 0; j < r.size(); ++j) q += r[i] * r[j] * R[i][j];
    if (f < 3) ld += log_det(M);
  }
  return -0.5 * (q / s2 + ld);
}

TEST(RoGridDraw, DrawMatchesADirectLikelihoodDividedByTheDrawnVariance) {
  ro::run_state s;
  make_state(s);
  ro::size_round_work(s);
  ro::rebuild_data_part(s, 1);
  s.current_s2e0 = 0.37;   // the value drawn in the round, not S2E0
  ro::fill_coarse_grid(s);

  std::vector<double> L;
  for (int g = 1; g <= 9; ++g) L.push_back(log_likelihood_at(s, s.grid(g), 0.37));
  int best = 0;
  for (int g = 1; g < 9; ++g)
    if (L[g] > L[best]) best = g;
  const double c = s.grid(best + 1);
  std::vector<double> fine, Lf;
  for (int k = 1; k <= 9; ++k) {
    fine.push_back(c + 0.05 * (k - 5));
    Lf.push_back(log_likelihood_at(s, fine.back(), 0.37));
  }
  double top = Lf[0];
  for (double v : Lf) top = std::max(top, v);
  double total = 0.0;
  for (double v : Lf) total += std::exp(v - top);
  std::vector<double> cdf;
  double run = 0.0;
  for (double v : Lf) cdf.push_back(run += std::exp(v - top) / total);
  num::rng_state = num::generator_state{};
  std::int32_t seed = s.seed;
  double u;
  do u = num::rand_uniform(seed);
  while (!(cdf[0] <= u && u <= cdf[8]));
  int r = 0;
  for (int k = 0; k < 9; ++k)
    if (u > cdf[k]) r = k;
  const double expected = fine[r] + (fine[r + 1] - fine[r]) * (u - cdf[r]) / (cdf[r + 1] - cdf[r]);

  num::rng_state = num::generator_state{};
  ro::draw_p_par(s, 1);
  for (int k = 1; k <= 9; ++k) EXPECT_NEAR(s.grid(k), fine[k - 1], 1e-15);
  for (int k = 1; k <= 9; ++k) EXPECT_NEAR(s.log_likelihood(k), Lf[k - 1], 1e-10);
  EXPECT_NEAR(s.current_p_par, expected, 1e-10);
  EXPECT_EQ(s.seed, seed);
}

// A two-effect state holding one 2 x 2 pedigree block over two members with AMAT = I.
void make_block_state(ro::run_state& s, double prior_df) {
  s = ro::run_state{};
  s.n_effects = 2;
  s.seed = 777;
  s.n_equations = 4;
  s.TYPO.assign(2, 2);
  s.CORR.assign(2, 0);
  s.CORR(1) = 2;
  s.remaining_levels.assign(2, 2);
  s.effect_offset.assign(3, 0);
  s.effect_offset(2) = 2;
  s.effect_offset(3) = 4;
  s.sample.assign(4, 0.0);
  s.sample(1) = 1.0;
  s.sample(2) = 2.0;
  s.sample(3) = 0.0;
  s.sample(4) = 1.0;
  s.G0.resize(2, 2, 2);
  s.G0(1, 1, 1) = s.G0(1, 2, 2) = 1.0;
  s.G.resize(2, 2, 2);
  s.QFORM.resize(2, 2, 2);
  s.packed_factor.assign(3, 0.0);
  s.packed_draw.assign(3, 0.0);
  s.type2_prior_df = prior_df;
  num::sparse_allocate(s.AMAT, 2, 4);
  num::sparse_init(s.AMAT);
  num::SBSIJ(s.AMAT, 1, 1, 1.0, 5, 0, rt::console(), s.IER);
  num::SBSIJ(s.AMAT, 2, 2, 1.0, 5, 0, rt::console(), s.IER);
  num::sparse_finish(s.AMAT);
  num::rng_state = num::generator_state{};
}

// The log-likelihood at each grid point, bit for bit, as the plain loop forms it: grid point
// after grid point, each family's terms in the order i, j at that point, its own inverse, the
// rest group by its links.
TEST(RoGridDraw, LikelihoodHasTheBitsOfThePointByPointSums) {
  ro::run_state s;
  make_state(s);
  ro::size_round_work(s);
  ro::rebuild_data_part(s, 1);
  s.current_s2e0 = 0.37;
  ro::fill_coarse_grid(s);
  num::rng_state = num::generator_state{};
  ro::draw_p_par(s, 1);          // leaves the fine grid and its log-likelihood

  const int ng = s.n_grid_points;
  std::vector<double> sum(ng, 0.0), log_det(ng, 0.0);
  for (int f = 1; f <= s.n_families; ++f) {
    const ro::family_block& b = s.family[f - 1];
    const int n = b.n_records;
    for (int g = 1; g <= ng; ++g) {
      const double p = s.grid(g);
      double t = sum[g - 1];
      if (b.is_rest_group) {
        for (int i = 1; i <= n; ++i) {
          const double ri = b.residual(i);
          int k = b.link_row_start(i);
          const int end = b.link_row_start(i + 1);
          for (; k < end && b.link_partner(k) < i; ++k) t = t + ri * b.residual(b.link_partner(k)) * p;
          t = t + ri * ri * 1.0;
          for (; k < end; ++k) t = t + ri * b.residual(b.link_partner(k)) * p;
        }
      } else {
        std::vector<double> W(static_cast<std::size_t>(n) * n);
        ro::fill_residual_matrix(b, p, W.data());
        std::int32_t rank = 0;
        double det = 0.0;
        num::sym_ginverse(W.data(), n, n, 1.0E-12, rank, det);
        ASSERT_EQ(rank, n);
        log_det[g - 1] = log_det[g - 1] + std::log(det);
        for (int i = 1; i <= n; ++i)
          for (int j = 1; j <= n; ++j) t = t + b.residual(i) * b.residual(j) * W[(i - 1) + n * (j - 1)];
      }
      sum[g - 1] = t;
    }
  }
  for (int g = 1; g <= ng; ++g) {
    const double expected = -0.5 * (sum[g - 1] / 0.37 + log_det[g - 1]);
    EXPECT_EQ(std::memcmp(&expected, &s.log_likelihood(g), sizeof(double)), 0)
        << g << ": " << expected << " " << s.log_likelihood(g);
  }
}

TEST(RoWishart, PackedFactorDrawAndInverseOnAHandCheckedBlock) {
  // QFORM = [5 2; 2 1]; prior part G0 x (4 - 1 - 2) = I; scale S = [6 2; 2 2];
  // S^-1 = [0.25 -0.25; -0.25 0.75], whose factor is [0.5 0; -0.5 sqrt(0.5)].
  ro::run_state s;
  make_block_state(s, 4.0);
  ro::draw_variances(s, 3);
  EXPECT_NEAR(s.packed_factor(1), 0.5, 1e-15);
  EXPECT_NEAR(s.packed_factor(2), -0.5, 1e-15);
  EXPECT_NEAR(s.packed_factor(3), std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(s.QFORM(1, 2, 1), -0.5, 1e-15);   // the factor copied back into the block
  EXPECT_NEAR(s.QFORM(1, 1, 2), -0.25, 1e-15);  // the upper triangle keeps the inverse

  num::rng_state = num::generator_state{};
  std::int32_t seed = 777;
  rt::vec1<double> factor(3), W(3);
  factor(1) = 0.5;
  factor(2) = -0.5;
  factor(3) = std::sqrt(0.5);
  num::rand_wishart(factor, 2 + 4.0, 2, 3, W, seed);   // order of AMAT + prior df
  const double det = W(1) * W(3) - W(2) * W(2);
  EXPECT_NEAR(s.G(1, 1, 1), W(3) / det, 1e-12 * std::fabs(W(3) / det));
  EXPECT_NEAR(s.G(1, 2, 2), W(1) / det, 1e-12 * std::fabs(W(1) / det));
  EXPECT_NEAR(s.G(1, 1, 2), -W(2) / det, 1e-12 * (std::fabs(W(2) / det) + 1e-300));
  EXPECT_EQ(s.G(1, 1, 2), s.G(1, 2, 1));
  EXPECT_EQ(s.seed, seed);
}

TEST(RoWishartDeathTest, ScaleNotPositiveDefiniteMessage) {
  ro::run_state s;
  make_block_state(s, -10.0);   // prior part -13 x I
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        ro::draw_variances(s, 3);
      },
      testing::ExitedWithCode(1),
      "^ \r\n -----------\r\n FATAL ERROR: MATRIX QFORM\\(1 \\) ISNOT POSITIVE DEFINITE\\.\r\n"
      " -----------\r\n \r\n$");
}

TEST(RoVariancesDeathTest, TypoAndDimensionChecks) {
  ro::run_state s;
  make_block_state(s, 4.0);
  s.TYPO(1) = 3;
  EXPECT_EXIT(ro::draw_variances(s, 1), testing::ExitedWithCode(1),
              "^BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION\r\n$");
  make_block_state(s, 4.0);
  s.remaining_levels(1) = 1;
  EXPECT_EXIT(ro::draw_variances(s, 1), testing::ExitedWithCode(1),
              "^INCOMPATIBLE DIMENSIONS FOR THE BILINEARFORM COMPUTATION\r\n$");
}

std::string run_two_rounds(std::vector<double>& end_sample) {
  ro::run_state s;
  make_state(s);
  const auto dir = testing_support::scratch_dir("ro_two_rounds");
  rt::open_out(s.chain_file, 25, (dir / "CVC-CHAIN.txt").string());
  ro::sample_round(s, 1);
  ro::sample_round(s, 2);
  rt::close(s.chain_file);
  end_sample = sample_of(s);
  return testing_support::read_file(dir / "CVC-CHAIN.txt");
}

TEST(RoRound, ChainLinesAndReproducibility) {
  std::vector<double> x1, x2;
  if (getenv("RO_DEBUG") == nullptr) testing::internal::CaptureStdout();
  const std::string chain1 = run_two_rounds(x1);
  const std::string out1 = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  const std::string chain2 = run_two_rounds(x2);
  const std::string out2 = testing::internal::GetCapturedStdout();
  EXPECT_EQ(chain1, chain2);
  EXPECT_EQ(out1, out2);
  EXPECT_EQ(x1, x2);
  const std::string line1 =
      "    2.50000      0.30000      0.70000      1.10000      0.20000      0.90000  \r\n";
  ASSERT_GT(chain1.size(), line1.size());
  EXPECT_EQ(chain1.substr(0, line1.size()), line1);
  EXPECT_EQ(chain1.size(), 2 * line1.size());
}

}  // namespace

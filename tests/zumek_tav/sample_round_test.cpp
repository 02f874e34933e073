// The location sweep and the variance draws of one round on a tiny system, checked against a
// dense computation written here and a replayed random stream.
#include "zumek_tav/sample_round.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "numeric/random_variates.hpp"
#include "runtime/text_io.hpp"
#include "tests/support/e2e.hpp"
#include "zumek_tav/grid_draw.hpp"
#include "zumek_tav/run_state.hpp"
#include "zumek_tav/steps.hpp"

namespace {

using dense = std::vector<std::vector<double>>;  // 0-based, test side only

constexpr int n_eq = 14;
// Effects: 1 fixed (2 levels), 2 single variance (2), 3 family-correlated (4 records),
// 4 and 5 the 2 x 2 pedigree block (3 members each).
const int first[6] = {0, 0, 2, 4, 8, 11};  // equations before effect e (1-based e)

const double ainv[3][3] = {{1.5, 0.5, -1.0}, {0.5, 1.5, -1.0}, {-1.0, -1.0, 2.0}};
const double rinv1[3][3] = {{1.4, -0.3, -0.2}, {-0.3, 1.1, 0.05}, {-0.2, 0.05, 1.2}};

// Row-compressed store of a dense symmetric matrix, both triangles, columns of each row in
// descending order (the rows of the real stores are not sorted either).
void to_store(const dense& m, num::sparse_store& s) {
  const int n = static_cast<int>(m.size());
  s.order = n;
  s.row_start.assign(n + 1, 0);
  std::vector<int> col;
  std::vector<double> val;
  for (int r = 0; r < n; ++r) {
    s.row_start(r + 1) = static_cast<std::int32_t>(col.size()) + 1;
    for (int c = n - 1; c >= 0; --c)
      if (m[r][c] != 0.0) {
        col.push_back(c + 1);
        val.push_back(m[r][c]);
      }
  }
  s.row_start(n + 1) = static_cast<std::int32_t>(col.size()) + 1;
  s.NZ = static_cast<std::int32_t>(col.size());
  s.column.assign(s.NZ, 0);
  s.value.assign(s.NZ, 0.0);
  for (int k = 0; k < s.NZ; ++k) {
    s.column(k + 1) = col[k];
    s.value(k + 1) = val[k];
  }
}

dense data_matrix() {
  dense w(n_eq, std::vector<double>(n_eq, 0.0));
  const int records[4][4] = {{1, 3, 5, 9}, {1, 4, 6, 10}, {2, 3, 7, 11}, {2, 4, 8, 9}};
  for (const auto& rec : records)
    for (int a : rec)
      for (int b : rec) w[a - 1][b - 1] += 0.5;  // coefficient 1 / S2E0 with S2E0 = 2
  return w;
}

void make_state(tav::run_state& s) {
  s = tav::run_state{};
  s.n_effects = 5;
  s.TYPO.assign(5, 0);
  s.CORR.assign(5, 0);
  s.remaining_levels.assign(5, 0);
  const int typo[5] = {0, 1, 3, 2, 2}, corr[5] = {0, 1, 1, 2, 0}, lev[5] = {2, 2, 4, 3, 3};
  for (int e = 1; e <= 5; ++e) {
    s.TYPO(e) = typo[e - 1];
    s.CORR(e) = corr[e - 1];
    s.remaining_levels(e) = lev[e - 1];
  }
  s.n_equations = n_eq;
  s.G.resize(5, 2, 2);
  s.G0.resize(5, 2, 2);
  s.g_inverse.resize(5, 2, 2);
  s.g_draw_inverse.resize(5, 2, 2);
  s.g_inverse(2, 1, 1) = 0.5;
  s.g_inverse(3, 1, 1) = 0.8;
  s.g_inverse(4, 1, 1) = 2.0;
  s.g_inverse(4, 1, 2) = -0.5;
  s.g_inverse(4, 2, 1) = -0.5;
  s.g_inverse(4, 2, 2) = 1.5;
  s.n_grid_points = 3;
  s.grid.assign(3, 0.0);

  to_store(data_matrix(), s.WW);
  dense a(3, std::vector<double>(3));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a[r][c] = ainv[r][c];
  to_store(a, s.GMAT);

  s.data_rhs.assign(n_eq, 0.0);
  s.sample.assign(n_eq, 0.0);
  for (int i = 1; i <= n_eq; ++i) {
    s.data_rhs(i) = 0.25 * i - 1.0;
    s.sample(i) = 0.1 * ((i * 7) % 5) - 0.2;
  }

  // Family 1 with three records (the first is the dam of the other two), an empty family,
  // and a rest group of one record.
  s.n_families = 3;
  s.family_block.resize(3);
  tav::family_block& f1 = s.family_block(1);
  f1.n_records = 3;
  f1.dam_link_matrix.assign(9, 0.0);
  f1.residual_matrix.assign(9, 0.0);
  f1.RINV.assign(9, 0.0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) f1.RINV(1 + r + 3 * c) = rinv1[r][c];
  f1.dam_link_matrix(1 + 1) = f1.dam_link_matrix(1 + 3) = 1.0;  // (2,1), (1,2)
  f1.dam_link_matrix(1 + 2) = f1.dam_link_matrix(1 + 6) = 1.0;  // (3,1), (1,3)
  s.family_block(2).n_records = 0;
  tav::family_block& rest = s.family_block(3);
  rest.n_records = 1;
  rest.diagonal_only = 1;
  rest.dam_link_matrix.assign(1, 0.0);
  rest.residual_matrix.assign(1, 1.0);
  rest.RINV.assign(1, 1.0);
  s.seed = 4711;
}

// The coefficient matrix of the sweep: data part plus the prior term of every effect.
dense coefficient_matrix(const tav::run_state& s) {
  dense c = data_matrix();
  c[0][0] += 1.0e-7;
  c[1][1] += 1.0e-7;
  c[2][2] += 0.5;
  c[3][3] += 0.5;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) c[4 + a][4 + b] += 0.8 * rinv1[a][b];
  c[7][7] += 0.8 * 1.0;
  for (int p = 0; p < 3; ++p)
    for (int m = 0; m < 3; ++m)
      for (int x = 1; x <= 2; ++x)
        for (int y = 1; y <= 2; ++y)
          c[first[3 + x] + p][first[3 + y] + m] += ainv[p][m] * s.g_inverse(4, x, y);
  return c;
}

TEST(SampleRoundSweep, SingleSiteDrawsMatchADenseGaussSeidelWithReplayedNormals) {
  tav::run_state s;
  make_state(s);
  const dense c = coefficient_matrix(s);
  std::vector<double> x(n_eq), rhs(n_eq);
  for (int i = 0; i < n_eq; ++i) {
    x[i] = s.sample(i + 1);
    rhs[i] = s.data_rhs(i + 1);
  }
  num::rng_state = num::generator_state{};
  std::int32_t seed = s.seed;
  for (int i = 0; i < n_eq; ++i) {
    double w = rhs[i];
    for (int j = 0; j < n_eq; ++j)
      if (j != i) w -= c[i][j] * x[j];
    const double z = num::rand_normal(seed);
    x[i] = w / c[i][i] + z / std::sqrt(c[i][i]);
  }
  const num::generator_state after = num::rng_state;

  num::rng_state = num::generator_state{};
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  tav::sweep_location_effects(s);
  for (int i = 0; i < n_eq; ++i) EXPECT_NEAR(s.sample(i + 1), x[i], 1e-12) << "equation " << i + 1;
  EXPECT_EQ(s.seed, seed);
  EXPECT_EQ(num::rng_state.xorshift_word, after.xorshift_word);  // one normal per equation
  EXPECT_EQ(num::rng_state.cached_flag, after.cached_flag);
  num::rng_state = num::generator_state{};
}

TEST(SampleRoundSweep, BlockBookkeeping) {
  tav::run_state s;
  make_state(s);
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  const tav::round_work& w = s.round;
  EXPECT_EQ(w.block_start(1), 0);
  EXPECT_EQ(w.block_start(2), 2);
  EXPECT_EQ(w.block_start(3), 3);
  EXPECT_EQ(w.block_start(4), 4);
  EXPECT_EQ(w.block_start(5), 4);
  EXPECT_EQ(w.block_offset(5, 1, 1), 11);
  EXPECT_EQ(w.block_offset(5, 1, 2), 8);
  EXPECT_EQ(w.block_offset(5, 2, 2), 11);
  EXPECT_EQ(w.block_ginv_row(5, 1, 1), -0.5);
  EXPECT_EQ(w.block_ginv_row(5, 2, 1), 1.5);
  for (int i = 1; i <= n_eq; ++i) EXPECT_EQ(w.work_rhs(i), s.data_rhs(i));
}

TEST(SampleRoundSweepDeathTest, UnknownRandomEffectTypeStops) {
  tav::run_state s;
  make_state(s);
  s.TYPO(2) = 7;
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(tav::sweep_location_effects(s), testing::ExitedWithCode(1),
              "^FATAL ERROR: PROGRAM STOPPED\r\n$");
}

// 3 x 3 inverse by Gauss-Jordan, test side.
dense inverse3(dense a) {
  dense inv = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int k = 0; k < 3; ++k) {
    const double p = a[k][k];
    for (int j = 0; j < 3; ++j) {
      a[k][j] /= p;
      inv[k][j] /= p;
    }
    for (int i = 0; i < 3; ++i)
      if (i != k) {
        const double f = a[i][k];
        for (int j = 0; j < 3; ++j) {
          a[i][j] -= f * a[k][j];
          inv[i][j] -= f * inv[k][j];
        }
      }
  }
  return inv;
}

void set_priors(tav::run_state& s) {
  s.NRDF = 4;
  s.current_p_par = 0.3;
  s.residual_prior_df = 3.0;
  s.type1_prior_df = 2.5;
  s.type2_prior_df = 4.0;
  s.type2_prior_df_second = 3.5;
  s.G0(2, 1, 1) = 0.7;
  s.G0(3, 1, 1) = 1.3;
  s.G0(4, 1, 1) = 2.0;
  s.G0(4, 1, 2) = 0.6;
  s.G0(4, 2, 1) = 0.6;
  s.G0(4, 2, 2) = 1.1;
}

// The sweep and the variance draws over three rounds, once with the pedigree block laid out
// in pairs and once in equation order: every bit of the chain must agree.
TEST(SampleRoundSweep, PairedLayoutDrawsTheSameBitsOverRounds) {
  tav::run_state plain, paired;
  for (tav::run_state* s : {&plain, &paired}) {
    make_state(*s);
    set_priors(*s);
  }
  plain.round.layout_min_equations = n_eq + 1;
  paired.round.layout_min_equations = n_eq;
  num::generator_state state[2] = {};
  for (int round = 1; round <= 3; ++round) {
    int which = 0;
    for (tav::run_state* s : {&plain, &paired}) {
      num::rng_state = state[which];
      tav::size_round_work(*s);
      tav::build_block_bookkeeping(*s);
      tav::sweep_location_effects(*s);
      tav::draw_variances(*s, round);
      state[which++] = num::rng_state;
    }
    ASSERT_FALSE(plain.round.layout.active);
    ASSERT_TRUE(paired.round.layout.active);
    EXPECT_EQ(paired.round.layout.pair_first(4), 8);
    for (int i = 1; i <= n_eq; ++i) {
      EXPECT_EQ(paired.sample(i), plain.sample(i)) << "round " << round << " equation " << i;
      EXPECT_EQ(paired.round.work_rhs(i), plain.round.work_rhs(i));
    }
    for (int e = 1; e <= 5; ++e)
      for (int a = 1; a <= 2; ++a)
        for (int b = 1; b <= 2; ++b) EXPECT_EQ(paired.G(e, a, b), plain.G(e, a, b));
    EXPECT_EQ(paired.seed, plain.seed);
    EXPECT_EQ(state[1].xorshift_word, state[0].xorshift_word);
  }
  num::rng_state = num::generator_state{};
}

TEST(SampleRoundVariances, DrawsInOrderFromIndependentQuadraticForms) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);

  // Independent quadratic forms from the current sample.
  const dense resid = {{1, 0.3, 0.3}, {0.3, 1, 0}, {0.3, 0, 1}};
  const dense ri = inverse3(resid);
  double q3 = 0.0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) q3 += s.sample(5 + a) * ri[a][b] * s.sample(5 + b);
  q3 += s.sample(8) * s.sample(8);
  const double q2 = s.sample(3) * s.sample(3) + s.sample(4) * s.sample(4);
  double Q[2][2] = {{0, 0}, {0, 0}};
  for (int x = 0; x < 2; ++x)
    for (int y = 0; y < 2; ++y)
      for (int p = 0; p < 3; ++p)
        for (int m = 0; m < 3; ++m)
          Q[x][y] += s.sample(first[4 + x] + p + 1) * ainv[p][m] * s.sample(first[4 + y] + m + 1);
  const double P11 = 6.0 * 2.0, P12 = 0.6 / 2.0 * P11;
  const double P22 = (1.1 - 0.36 / 2.0) * 6.5 + P12 * P12 / P11;
  const double S11 = Q[0][0] + P11, S12 = Q[0][1] + P12, S22 = Q[1][1] + P22;

  num::rng_state = num::generator_state{};
  std::int32_t seed = 321;
  const double R = num::rand_scaled_inv_chisq(7.0, q3 + 5.0 * 1.3, seed);
  const double g2 = num::rand_scaled_inv_chisq(4.5, 4.5 * 0.7 + q2, seed);
  const double g11 = num::rand_scaled_inv_chisq(7.0, S11, seed);
  const double c = num::rand_scaled_inv_chisq(7.5, S22 - S12 * S12 / S11, seed);
  const double z = num::rand_normal(seed);
  const double r = S12 / S11 + z * std::sqrt(c / S11);

  num::rng_state = num::generator_state{};
  s.seed = 321;
  tav::draw_variances(s, 1);
  EXPECT_NEAR(s.G(3, 1, 1), R, 1e-12 * R);
  EXPECT_NEAR(s.G(2, 1, 1), g2, 1e-12 * g2);
  EXPECT_NEAR(s.G(4, 1, 1), g11, 1e-12 * g11);
  EXPECT_NEAR(s.G(4, 1, 2), g11 * r, 1e-11 * std::fabs(g11 * r));
  EXPECT_EQ(s.G(4, 2, 1), s.G(4, 1, 2));
  EXPECT_NEAR(s.G(4, 2, 2), c + g11 * r * r, 1e-11 * (c + g11 * r * r));
  EXPECT_EQ(s.seed, seed);

  // The family matrices now hold the new correlation and its inverse.
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      EXPECT_NEAR(s.family_block(1).RINV(1 + a + 3 * b), ri[a][b], 1e-14);
  EXPECT_EQ(s.family_block(3).RINV(1), 1.0);
  // The test inverse of the new block.
  const double det = s.G(4, 1, 1) * s.G(4, 2, 2) - s.G(4, 1, 2) * s.G(4, 1, 2);
  EXPECT_NEAR(s.g_draw_inverse(4, 1, 1), s.G(4, 2, 2) / det, 1e-10 * std::fabs(s.G(4, 2, 2) / det));
  EXPECT_NEAR(s.g_draw_inverse(4, 1, 2), -s.G(4, 1, 2) / det, 1e-9 * std::fabs(s.G(4, 1, 2) / det));
  // Round 1 fixed the block prior for the rest of the run.
  EXPECT_EQ(s.round.type2_df_first, 7.0);
  EXPECT_EQ(s.round.type2_df_second, 6.5);
  num::rng_state = num::generator_state{};
}

TEST(SampleRoundVariancesDeathTest, RTooBigStops) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  s.G0(3, 1, 1) = 1.0e9;
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(tav::draw_variances(s, 1), testing::ExitedWithCode(1),
              "^ BEWARE! R SAMPLE VALUE TOO BIG!\r\n$");
}

TEST(SampleRoundVariancesDeathTest, NegativeRStopsInsteadOfGoingOn) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  s.residual_prior_df = -3.0;  // df 1, scale quadratic sum - 1000
  s.G0(3, 1, 1) = 1000.0;
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(tav::draw_variances(s, 1), testing::ExitedWithCode(1),
              "^ BEWARE! R SAMPLE VALUE IS NOT A FINITE POSITIVE NUMBER!\r\n$");
}

TEST(SampleRoundVariancesDeathTest, SingularFamilyMatrixStops) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  s.current_p_par = 1.0;  // I + links with two links of weight 1 is not positive definite
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(tav::draw_variances(s, 1), testing::ExitedWithCode(1), "^$");
}

TEST(SampleRoundVariancesDeathTest, PedigreeSliceOfWrongLengthStops) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  s.GMAT.order = 2;
  s.GMAT.row_start.resize(3);
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(tav::draw_variances(s, 1), testing::ExitedWithCode(1),
              "^INCOMPATIBLE DIMENSIONS FOR THE BILINEARFORM COMPUTATION\r\n$");
}

TEST(SampleRoundChain, SixValuesInF11Point5WithTwoBlanksEach) {
  const auto dir = testing_support::scratch_dir("chain_record");
  tav::run_state s;
  s.n_effects = 8;
  s.G.resize(8, 2, 2);
  s.G(6, 1, 1) = 1.5;
  s.G(5, 1, 1) = 100000.0;
  s.G(7, 1, 1) = -9999.99999;
  s.G(7, 2, 1) = -10000.0;
  s.G(7, 2, 2) = 99999.99999;
  s.current_p_par = -0.123456;
  rt::open_out(s.chain_file, 25, (dir / "CVC_CHAIN.txt").string());
  tav::write_chain_record(s);
  s.current_p_par = 0.0;
  tav::write_chain_record(s);
  rt::close(s.chain_file);
  const std::string tail = "  ***********  -9999.99999  ***********  99999.99999  ";
  const std::string line1 = "    1.50000     -0.12346" + tail;
  const std::string line2 = "    1.50000      0.00000" + tail;
  EXPECT_EQ(testing_support::read_file(dir / "CVC_CHAIN.txt"),
            line1 + "\r\n" + line2 + "\r\n");
}


// Log-likelihood of p for the family-correlated values of make_state, computed directly.
double log_likelihood_at(const tav::run_state& s, double p) {
  const dense ri = inverse3({{1, p, p}, {p, 1, 0}, {p, 0, 1}});
  double q = 0.0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) q += s.sample(5 + a) * ri[a][b] * s.sample(5 + b);
  q += s.sample(8) * s.sample(8);
  return -0.5 * (0.8 * q + std::log(1.0 - 2.0 * p * p));
}

void set_grid(tav::run_state& s, std::int32_t n, double start, double end, double fine_step) {
  s.n_grid_points = n;
  s.grid.assign(n, 0.0);
  s.coarse_grid_start = start;
  s.coarse_grid_end = end;
  s.coarse_grid_step = (end - start) / (n - 1);
  s.fine_grid_step = fine_step;
  s.fine_grid_centre = (n + 1) / 2;
  s.round = tav::round_work{};
  tav::size_round_work(s);
}

TEST(SampleRoundGrid, DrawMatchesADirectLikelihoodOnBothGrids) {
  tav::run_state s;
  make_state(s);
  for (int i = 5; i <= 8; ++i) s.sample(i) = 0.9 * (i - 6.5);  // correlated-looking values
  set_grid(s, 7, -0.6, 0.6, 0.02);
  tav::fill_coarse_grid(s);

  // Reference: best coarse point, fine grid, CDF normalised by its largest term.
  double best_p = 0.0, best_l = -1e300;
  double x = -0.6;
  for (int k = 1; k <= 7; ++k, x += 0.2) {
    const double l = log_likelihood_at(s, x);
    if (l > best_l) { best_l = l; best_p = x; }
  }
  std::vector<double> fine(7), cdf(7);
  double top = -1e300;
  for (int k = 0; k < 7; ++k) {
    fine[k] = best_p + 0.02 * (k - 3);
    top = std::max(top, log_likelihood_at(s, fine[k]));
  }
  double total = 0.0;
  for (int k = 0; k < 7; ++k) total += std::exp(log_likelihood_at(s, fine[k]) - top);
  double run = 0.0;
  for (int k = 0; k < 7; ++k) cdf[k] = (run += std::exp(log_likelihood_at(s, fine[k]) - top) / total);
  num::rng_state = num::generator_state{};
  std::int32_t seed = 77;
  double u = 0.0;
  do u = num::rand_uniform(seed); while (u < cdf[0] || u > cdf[6]);
  int r = 0;
  while (r + 1 < 7 && u > cdf[r + 1]) ++r;
  const double expected = fine[r] + (fine[r + 1] - fine[r]) * (u - cdf[r]) / (cdf[r + 1] - cdf[r]);

  num::rng_state = num::generator_state{};
  s.seed = 77;
  tav::draw_p_par(s, 1);
  EXPECT_NEAR(s.current_p_par, expected, 1e-10);
  EXPECT_EQ(s.seed, seed);
  for (int k = 1; k <= 7; ++k) EXPECT_NEAR(s.grid(k), fine[k - 1], 1e-15);
  EXPECT_EQ(s.grid(4), s.grid(4));
  num::rng_state = num::generator_state{};
}

TEST(SampleRoundGridDeathTest, DrawOutsideMinusOneOneStops) {
  tav::run_state s;
  make_state(s);
  s.family_block(1).dam_link_matrix.assign(9, 0.0);  // flat likelihood: the first point wins
  set_grid(s, 3, 1.5, 2.5, 0.1);
  tav::fill_coarse_grid(s);
  EXPECT_EXIT(tav::draw_p_par(s, 1), testing::ExitedWithCode(1),
              "^ BEWARE! p_PAR SAMPLE OUT OF PARAMETRIC SPACE!\r\n$");
}

TEST(SampleRoundGridDeathTest, FamilyMatrixNotPositiveDefiniteOnTheGridStops) {
  tav::run_state s;
  make_state(s);
  set_grid(s, 5, -0.9, 0.9, 0.01);  // 1 - 2 p^2 < 0 at the ends
  tav::fill_coarse_grid(s);
  EXPECT_EXIT(tav::draw_p_par(s, 1), testing::ExitedWithCode(1), "^$");
}

TEST(SampleRoundGridDeathTest, FamilyMatrixMessageText) {
  tav::run_state s;
  make_state(s);
  set_grid(s, 5, -0.9, 0.9, 0.01);
  tav::fill_coarse_grid(s);
  // The console lines go to the standard error stream here so that the death test sees them.
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        tav::draw_p_par(s, 1);
      },
      testing::ExitedWithCode(1),
      "^ \r\n -----------\r\n FATAL ERROR: RINV FOR FAMILY   1, GRIDD 1, IS NOT POSITIVE "
      "DEFINITE\\.\r\n -----------\r\n \r\n$");
}

// The console lines of the stops of the variance draws and of the per-round inversion of G.
// Standard output goes to the standard error stream inside each death test, so that the
// whole text (console lines, then the stop text) can be matched.
TEST(SampleRoundMessagesDeathTest, FamilyMatrixOfTheVarianceDrawsHasTwoBlanksBeforeIs) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  s.current_p_par = 1.0;
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        tav::draw_variances(s, 1);
      },
      testing::ExitedWithCode(1),
      "^ \r\n -----------\r\n FATAL ERROR: RINV FOR FAMILY   1  IS NOT POSITIVE DEFINITE\\.\r\n"
      " -----------\r\n \r\n$");
}

TEST(SampleRoundMessagesDeathTest, SingularDrawnBlockNamesEffectAndRound) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  // A prior of rank 1 and zero pedigree values: the conditional scale is exactly 0, the
  // drawn block is g11 x [1 1; 1 1].
  s.G0(4, 1, 1) = s.G0(4, 1, 2) = s.G0(4, 2, 1) = s.G0(4, 2, 2) = 1.0;
  for (int i = 9; i <= 14; ++i) s.sample(i) = 0.0;
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        tav::draw_variances(s, 1);
      },
      testing::ExitedWithCode(1),
      "^ \r\n -----------\r\n    FATAL ERROR: MATRIX G\\( 4\\) IS NOT POSITIVE DEFINITE\\.\r\n"
      "       ROUND:      1\r\n -----------\r\n \r\n$");
}

TEST(SampleRoundMessagesDeathTest, BlockOnAFixedEffectStops) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  s.TYPO(2) = 0;  // CORR(2) = 1
  tav::size_round_work(s);
  tav::build_block_bookkeeping(s);
  EXPECT_EXIT(tav::draw_variances(s, 1), testing::ExitedWithCode(1),
              "^BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION\r\n$");
}

TEST(SampleRoundMessagesDeathTest, SingularCurrentBlockStopsBeforeTheRound) {
  tav::run_state s;
  make_state(s);
  set_priors(s);
  s.G0(4, 1, 1) = s.G0(4, 1, 2) = s.G0(4, 2, 1) = s.G0(4, 2, 2) = 1.0;
  s.solution.assign(n_eq, 0.0);
  s.n_rounds = 3;
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        tav::run_sampling(s);
      },
      testing::ExitedWithCode(1),
      "^        1  TH ITERATION\r\n \r\n -----------\r\n"
      " FATAL ERROR: MATRIX G\\(4\\) IS NOT POSITIVE DEFINITE\\.\r\n -----------\r\n \r\n$");
}

}  // namespace

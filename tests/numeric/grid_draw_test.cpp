// The shared steps of the p_PAR grid draw on hand-made likelihoods.
#include "numeric/grid_draw.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "numeric/random_variates.hpp"
#include "runtime/text_io.hpp"

namespace {

rt::vec1<double> v1(const std::vector<double>& x) {
  rt::vec1<double> v(static_cast<std::int64_t>(x.size()));
  for (std::size_t i = 0; i < x.size(); ++i) v(static_cast<std::int64_t>(i) + 1) = x[i];
  return v;
}

// The uniform stream a given seed produces from the program-start state.
std::vector<double> replay_uniforms(std::int32_t seed, int count) {
  num::rng_state = num::generator_state{};
  std::vector<double> u;
  for (int i = 0; i < count; ++i) u.push_back(num::rand_uniform(seed));
  num::rng_state = num::generator_state{};
  return u;
}

const double nan = std::numeric_limits<double>::quiet_NaN();

TEST(GridBestPoint, TiesKeepTheLowerIndexAndNotANumberNeverWins) {
  EXPECT_EQ(num::best_grid_point(v1({-3.0, -1.0, -2.0, -1.0, -5.0}), 5), 2);
  EXPECT_EQ(num::best_grid_point(v1({nan, -7.0, nan, -7.0}), 4), 2);
  EXPECT_EQ(num::best_grid_point(v1({-7.0, nan, 4.0}), 3), 3);
  EXPECT_EQ(num::best_grid_point(v1({nan, nan}), 2), 0);
  EXPECT_EQ(num::best_grid_point(v1({}), 0), 0);
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(num::best_grid_point(v1({-inf, -inf}), 2), 1);
}

TEST(GridFine, CentredOnTheBestPointWithoutClipping) {
  rt::vec1<double> grid = v1({0.0, 0.0, 0.0, 0.0, 0.0});
  num::fill_fine_grid(grid, 5, 0.95, 3, 0.05);
  EXPECT_EQ(grid(3), 0.95);  // the centre is the coarse point itself
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(grid(k), 0.95 + 0.05 * static_cast<double>(k - 3));
  EXPECT_GT(grid(5), 1.0);  // reaches beyond [-1, 1]
}

// The normaliser as the literal recurrence.
double literal_normaliser(const std::vector<double>& L) {
  double S = L[0];
  for (std::size_t k = 1; k < L.size(); ++k) S = S + std::log(std::exp(L[k] - S) + 1.0);
  return S;
}

TEST(GridNormaliser, BitForBitTheRecurrenceWhereItDoesNotOverflow) {
  const std::vector<std::vector<double>> cases = {
      {-10.0, -9.5, -9.0, -9.25, -12.0},
      {-1234.5, -1200.25, -1100.0, -1150.125, -1300.0},
      {0.0, 700.0, 1.0, -3.0},        // a jump just below the overflow bound
      {-5.0, -5.0, -5.0},
  };
  for (const auto& L : cases) {
    const double S = num::log_normaliser(v1(L), static_cast<std::int32_t>(L.size()));
    EXPECT_EQ(S, literal_normaliser(L));
  }
}

TEST(GridNormaliser, ALikelihoodFarAboveTheRunningSumNoLongerOverflows) {
  const std::vector<double> L = {-1000.0, 0.0, -1.0, -0.5, -2000.0};
  ASSERT_TRUE(std::isinf(literal_normaliser(L)));  // the recurrence as written breaks here
  const double S = num::log_normaliser(v1(L), 5);
  const double reference = std::log(1.0 + std::exp(-1.0) + std::exp(-0.5));  // shifted by 0
  EXPECT_NEAR(S, reference, 1e-14);
  rt::vec1<double> cdf(5);
  num::fill_cdf(v1(L), 5, S, cdf);
  EXPECT_NEAR(cdf(5), 1.0, 1e-14);
  EXPECT_EQ(cdf(1), 0.0);  // exp(-1000 - S) underflows
  EXPECT_NEAR(cdf(2), 1.0 / std::exp(reference), 1e-14);
}

TEST(GridCdf, EachValueIsTheSumFromTheFirstPoint) {
  const std::vector<double> L = {-3.0, -1.0, -0.5, -2.0, -4.0};
  const double S = num::log_normaliser(v1(L), 5);
  rt::vec1<double> cdf(5);
  num::fill_cdf(v1(L), 5, S, cdf);
  for (int k = 1; k <= 5; ++k) {
    double sum = 0.0;
    for (int j = 1; j <= k; ++j) sum = sum + std::exp(L[j - 1] - S);
    EXPECT_EQ(cdf(k), sum);
  }
  EXPECT_NEAR(cdf(5), 1.0, 1e-15);
  double plain = 0.0;
  for (double x : L) plain += std::exp(x);
  EXPECT_NEAR(cdf(2), (std::exp(-3.0) + std::exp(-1.0)) / plain, 1e-15);
}

TEST(GridInterval, StrictlyAboveAndRepeatedValuesNeverSelected) {
  const rt::vec1<double> cdf = v1({0.1, 0.5, 0.5, 1.0});
  EXPECT_EQ(num::cdf_interval(cdf, 4, 0.3), 1);
  EXPECT_EQ(num::cdf_interval(cdf, 4, 0.5), 1);  // not above 0.5: the interval 1..2
  EXPECT_EQ(num::cdf_interval(cdf, 4, 0.7), 3);  // the lower of two equal values is skipped
  EXPECT_EQ(num::cdf_interval(cdf, 4, 0.1), 0);  // u equal to CDF(1)
}

TEST(GridInterpolation, LinearBetweenNeighboursAndFirstPointAtCdfOne) {
  const rt::vec1<double> grid = v1({-0.2, -0.1, 0.0, 0.1});
  const rt::vec1<double> cdf = v1({0.1, 0.5, 0.5, 1.0});
  EXPECT_DOUBLE_EQ(num::interpolate_draw(grid, cdf, 1, 0.3), -0.15);
  EXPECT_DOUBLE_EQ(num::interpolate_draw(grid, cdf, 3, 0.75), 0.05);
  EXPECT_EQ(num::interpolate_draw(grid, cdf, 1, 0.3),
            -0.2 + ((-0.1 - -0.2) * (0.3 - 0.1)) / (0.5 - 0.1));
  EXPECT_EQ(num::interpolate_draw(grid, cdf, 0, 0.1), -0.2);  // CDF(1) case: grid(1)
}

// A window [lo, hi] of the CDF that the stream enters first at try `first` (1-based).
void window_at(const std::vector<double>& u, int first, double& lo, double& hi) {
  const double x = u[first - 1];
  double below = 0.0, above = 1.0;
  for (int i = 0; i < first - 1; ++i) {
    if (u[i] < x && u[i] > below) below = u[i];
    if (u[i] > x && u[i] < above) above = u[i];
    ASSERT_NE(u[i], x);
  }
  lo = (below + x) * 0.5;
  hi = (x + above) * 0.5;
}

std::string captured_draw(const rt::vec1<double>& grid, const rt::vec1<double>& cdf,
                          std::int32_t ROUND, std::int32_t& seed, double& p) {
  testing::internal::CaptureStdout();
  p = num::draw_from_cdf(grid, cdf, 3, ROUND, seed);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(GridTries, AcceptedDrawFollowsTheReplayedUniformStream) {
  const std::vector<double> u = replay_uniforms(1234, 40);
  double lo, hi;
  window_at(u, 3, lo, hi);
  const rt::vec1<double> grid = v1({0.1, 0.2, 0.3});
  const rt::vec1<double> cdf = v1({lo, (lo + hi) * 0.5, hi});
  std::int32_t seed = 1234;
  double p = 0.0;
  const std::string out = captured_draw(grid, cdf, 7, seed, p);
  EXPECT_EQ(out, "");
  const double x = u[2];
  const std::int32_t r = x > cdf(2) ? 2 : 1;
  EXPECT_EQ(p, grid(r) + ((grid(r + 1) - grid(r)) * (x - cdf(r))) / (cdf(r + 1) - cdf(r)));
  EXPECT_EQ(seed, 1235);
  EXPECT_EQ(num::rand_uniform(seed), u[3]);  // exactly three uniforms consumed
  num::rng_state = num::generator_state{};
}

TEST(GridTries, TwentiethTryWarnsEvenWhenAccepted) {
  const std::vector<double> u = replay_uniforms(99, 40);
  for (int first : {19, 20, 25}) {
    double lo, hi;
    window_at(u, first, lo, hi);
    const rt::vec1<double> grid = v1({0.1, 0.2, 0.3});
    const rt::vec1<double> cdf = v1({lo, (lo + hi) * 0.5, hi});
    std::int32_t seed = 99;
    double p = 0.0;
    const std::string out = captured_draw(grid, cdf, 12, seed, p);
    EXPECT_GE(p, 0.1);
    EXPECT_LE(p, 0.3);
    EXPECT_EQ(num::rand_uniform(seed), u[first]) << first;
    num::rng_state = num::generator_state{};
    if (first < 20) {
      EXPECT_EQ(out, "") << first;
      continue;
    }
    std::string expected = " \r\n BEWARE! TRUNCATED CDF AT CYCLE:           12\r\n";
    for (const std::string& l : rt::format_list({"CDF BETWEEN ", lo, " AND ", hi}))
      expected += l + "\r\n";
    expected += " \r\n";
    EXPECT_EQ(out, expected) << first;
  }
}

TEST(GridTriesDeathTest, ThousandthTryStopsEvenWhenAccepted) {
  const std::vector<double> u = replay_uniforms(5, 1000);
  double lo, hi;
  window_at(u, 1000, lo, hi);
  const rt::vec1<double> grid = v1({0.1, 0.2, 0.3});
  const rt::vec1<double> cdf = v1({lo, (lo + hi) * 0.5, hi});
  EXPECT_EXIT(
      {
        std::int32_t seed = 5;
        num::draw_from_cdf(grid, cdf, 3, 1, seed);
      },
      testing::ExitedWithCode(1), "^FATAL ERROR: PROGRAM TERMINATED\r\n$");
}

TEST(GridTriesDeathTest, SinglePointNeverAccepts) {
  // One fine point: CDF(1) = 1 and the generator never returns 1.
  const rt::vec1<double> grid = v1({0.3});
  const rt::vec1<double> cdf = v1({1.0});
  EXPECT_EXIT(
      {
        std::int32_t seed = 17;
        num::draw_from_cdf(grid, cdf, 1, 4, seed);
      },
      testing::ExitedWithCode(1), "FATAL ERROR: PROGRAM TERMINATED");
}

TEST(GridRangeDeathTest, OutsideMinusOneToOneStops) {
  num::check_p_par_range(-1.0);
  num::check_p_par_range(1.0);
  EXPECT_EXIT(num::check_p_par_range(1.0000000000000002), testing::ExitedWithCode(1),
              "^ BEWARE! p_PAR SAMPLE OUT OF PARAMETRIC SPACE!\r\n$");
  EXPECT_EXIT(num::check_p_par_range(-1.5), testing::ExitedWithCode(1),
              "^ BEWARE! p_PAR SAMPLE OUT OF PARAMETRIC SPACE!\r\n$");
}

}  // namespace

// The coarse grid grows by one addition per point, which differs in the last digits from
// start + (k - 1) x step; no point is written when the grid is empty.
TEST(GridDraw, CoarseGridByRepeatedAddition) {
  rt::vec1<double> grid;
  grid.assign(11, 99.0);
  num::fill_coarse_grid(grid, 11, -0.2, 0.04);
  double x = -0.2;
  EXPECT_EQ(grid(1), -0.2);
  for (int k = 2; k <= 11; ++k) {
    x = x + 0.04;
    EXPECT_EQ(grid(k), x) << k;
  }
  grid.assign(2, 99.0);
  num::fill_coarse_grid(grid, 0, 1.0, 1.0);
  EXPECT_EQ(grid(1), 99.0);
}

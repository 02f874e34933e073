// Loose statistical checks on many draws: means and variances of the normal, gamma and
// scaled inverse chi-square draws, and the mean of the Wishart draw (df times the scale).
#include <gtest/gtest.h>

#include <cmath>

#include "numeric/chol_factor.hpp"
#include "numeric/random_variates.hpp"

namespace {

struct moments {
  double mean = 0.0, var = 0.0;
};

template <class Draw>
moments sample_moments(int n, Draw draw) {
  double s = 0.0, s2 = 0.0;
  for (int i = 0; i < n; ++i) {
    const double x = draw();
    s += x;
    s2 += x * x;
  }
  moments m;
  m.mean = s / n;
  m.var = s2 / n - m.mean * m.mean;
  return m;
}

constexpr int draws = 200000;

TEST(RandomStatistics, Normal) {
  num::rng_state = num::generator_state{};
  std::int32_t seed = 1001;
  const moments m = sample_moments(draws, [&] { return num::rand_normal(seed); });
  EXPECT_NEAR(m.mean, 0.0, 5.0 / std::sqrt(draws));
  EXPECT_NEAR(m.var, 1.0, 0.02);
}

TEST(RandomStatistics, Gamma) {
  num::rng_state = num::generator_state{};
  std::int32_t seed = 1002;
  for (double shape : {0.4, 1.0, 2.5, 30.0}) {
    const double scale = 1.5;
    const moments m = sample_moments(draws, [&] { return num::rand_gamma(shape, scale, seed); });
    const double mean = shape * scale, var = shape * scale * scale;
    EXPECT_NEAR(m.mean, mean, 5.0 * std::sqrt(var / draws)) << shape;
    EXPECT_NEAR(m.var / var, 1.0, 0.05) << shape;
  }
}

TEST(RandomStatistics, ScaledInverseChiSquare) {
  num::rng_state = num::generator_state{};
  std::int32_t seed = 1003;
  const double df = 12.0, scale = 3.0;
  const moments m =
      sample_moments(draws, [&] { return num::rand_scaled_inv_chisq(df, scale, seed); });
  const double mean = scale / (df - 2.0);
  const double var = 2.0 * scale * scale / ((df - 2.0) * (df - 2.0) * (df - 4.0));
  EXPECT_NEAR(m.mean, mean, 5.0 * std::sqrt(var / draws));
  EXPECT_NEAR(m.var / var, 1.0, 0.1);
  // Chi-square with df degrees of freedom: mean df, variance 2 df.
  const moments c = sample_moments(draws, [&] { return num::rand_chisq(df, seed); });
  EXPECT_NEAR(c.mean, df, 5.0 * std::sqrt(2.0 * df / draws));
  EXPECT_NEAR(c.var / (2.0 * df), 1.0, 0.05);
}

TEST(RandomStatistics, WishartMeanIsDegreesOfFreedomTimesScale) {
  num::rng_state = num::generator_state{};
  std::int32_t seed = 1004;
  // Scale S = [[2, 0.6], [0.6, 1]] through its packed factor.
  double S[4] = {2.0, 0.6, 0.6, 1.0};
  rt::vec1<double> factor(3), W(3);
  std::int32_t rank = 0;
  num::chol_factor(S, 2, 1.0E-12, rank, factor);
  ASSERT_EQ(rank, 2);
  for (double df : {3.5, 8.0}) {
    double sum[4] = {};
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
      num::rand_wishart(factor, df, 2, 3, W, seed);
      for (int k = 1; k <= 3; ++k) sum[k] += W(k);
    }
    // Var(W_ij) = df (S_ij^2 + S_ii S_jj); five standard errors.
    EXPECT_NEAR(sum[1] / n, df * 2.0, 5.0 * std::sqrt(df * 8.0 / n)) << df;
    EXPECT_NEAR(sum[2] / n, df * 0.6, 5.0 * std::sqrt(df * 2.36 / n)) << df;
    EXPECT_NEAR(sum[3] / n, df * 1.0, 5.0 * std::sqrt(df * 2.0 / n)) << df;
  }
}

}  // namespace

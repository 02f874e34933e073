// Random variates: seeding rules, the uniform stream against an independent reference, and
// the number and order of uniform and normal draws of every routine, checked by replaying
// the uniform stream from the same seed.
#include "numeric/random_variates.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "numeric/chol_factor.hpp"

namespace {

using num::rng_state;

void reset() { rng_state = num::generator_state{}; }

bool same_words(const num::generator_state& a, const num::generator_state& b) {
  return a.xorshift_word == b.xorshift_word && a.congruential_word == b.congruential_word;
}

// The uniform stream written out independently: 64-bit products instead of Schrage.
struct reference_stream {
  std::uint32_t w;
  std::int64_t c;
  explicit reference_stream(std::int64_t s) : w(static_cast<std::uint32_t>(s ^ 777755555)),
                                             c((s ^ 888889999) | 1) {}
  double next() {
    w ^= w << 13;
    w ^= w >> 17;
    w ^= w << 5;
    c = (16807 * c) % 2147483647;
    const std::uint32_t k = ((w ^ static_cast<std::uint32_t>(c)) & 0x7FFFFFFFu) | 1u;
    return 4.6566125955216364e-10 * static_cast<double>(k);
  }
};

// Number of uniforms drawn from `seed` (fresh generator) that leads to the state `after`.
int uniforms_to_reach(const num::generator_state& after, std::int32_t seed, int limit = 10000) {
  reset();
  std::int32_t s = seed;
  for (int k = 1; k <= limit; ++k) {
    num::rand_uniform(s);
    if (same_words(rng_state, after)) return k;
  }
  return -1;
}

std::string captured(void (*body)()) {
  testing::internal::CaptureStdout();
  body();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(RandomUniform, FirstDrawSeedsFromSeedAndLeavesSeedPlusOne) {
  reset();
  std::int32_t seed = 5;
  reference_stream ref(5);
  EXPECT_EQ(num::rand_uniform(seed), ref.next());
  EXPECT_EQ(seed, 6);
  EXPECT_EQ(rng_state.uniform_scale, 4.6566125955216364e-10);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(num::rand_uniform(seed), ref.next()) << i;
  EXPECT_EQ(seed, 6);  // no second seeding while seed stays positive

  reset();
  std::int32_t negative = -5;
  reference_stream again(5);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(num::rand_uniform(negative), again.next());
  EXPECT_EQ(negative, 6);

  reset();
  std::int32_t zero = 0;
  reference_stream from_zero(0);
  EXPECT_EQ(num::rand_uniform(zero), from_zero.next());
  EXPECT_EQ(zero, 1);
}

TEST(RandomUniform, NonPositiveSeedRestartsTheStream) {
  reset();
  std::int32_t seed = 17;
  const double first = num::rand_uniform(seed);
  num::rand_uniform(seed);
  seed = -17;
  EXPECT_EQ(num::rand_uniform(seed), first);
  EXPECT_EQ(seed, 18);
}

TEST(RandomUniform, StaysInsideTheOpenInterval) {
  EXPECT_LT(4.6566125955216364e-10 * 2147483647.0, 1.0);
  EXPECT_EQ(4.6566125955216364e-10 * 2147483647.0, 0.9999999399296939);
  // Seed 777755555 zeroes the xorshift word for good; the forced odd bit and the
  // congruential word keep the draws inside (0, 1).
  reset();
  std::int32_t seed = 777755555;
  reference_stream ref(777755555);
  for (int i = 0; i < 100000; ++i) {
    const double u = num::rand_uniform(seed);
    ASSERT_EQ(rng_state.xorshift_word, 0u);
    ASSERT_GT(u, 0.0);
    ASSERT_LT(u, 1.0);
    ASSERT_EQ(u, ref.next());
  }
  reset();
  seed = 2024;
  double lo = 1.0, hi = 0.0;
  for (int i = 0; i < 1000000; ++i) {
    const double u = num::rand_uniform(seed);
    lo = std::min(lo, u);
    hi = std::max(hi, u);
  }
  EXPECT_GE(lo, 4.6566125955216364e-10);
  EXPECT_LE(hi, 0.9999999399296939);
}

TEST(RandomUniform, MostNegativeSeedDoesNotOverflow) {
  reset();
  std::int32_t seed = std::numeric_limits<std::int32_t>::min();
  for (int i = 0; i < 5; ++i) {
    const double u = num::rand_uniform(seed);
    EXPECT_GT(u, 0.0);
    EXPECT_LT(u, 1.0);
  }
}

// The congruential step takes the same word to the same word as Schrage's form, at the edges of
// its range and of Schrage's quotient, and at many words in between.
TEST(RandomUniform, CongruentialStepMatchesSchragesForm) {
  auto schrage = [](std::int64_t c) {
    std::int64_t next = 16807 * (c % 127773) - 2836 * (c / 127773);
    return next < 0 ? next + 2147483647 : next;
  };
  std::vector<std::int32_t> words = {0, 1, 2, 2836, 127772, 127773, 127774, 127773 * 2,
                                     2147483647 / 16807, 2147483647 / 16807 + 1,
                                     2147483645, 2147483646, 2147483647};
  std::uint64_t z = 88172645463325252ULL;
  for (int i = 0; i < 200000; ++i) {
    z ^= z << 13;
    z ^= z >> 7;
    z ^= z << 17;
    words.push_back(static_cast<std::int32_t>(z & 0x7FFFFFFFu));
  }
  for (const std::int32_t c : words) {
    reset();
    std::int32_t seed = 1;
    num::rand_uniform(seed);            // seeds
    rng_state.congruential_word = c;
    num::rand_uniform(seed);
    ASSERT_EQ(rng_state.congruential_word, schrage(c)) << c;
  }
}

// The polar pair of the reference stream.
void reference_pair(reference_stream& ref, double& first, double& second) {
  double y1, y2, r;
  do {
    const double u1 = ref.next();
    y1 = (u1 - 1.0) + u1;
    const double u2 = ref.next();
    y2 = (u2 - 1.0) + u2;
    r = y1 * y1 + y2 * y2;
  } while (!(r > 0.0 && r < 1.0));
  const double f = std::sqrt(2.0 * std::log(r) / (0.0 - r));
  first = y1 * f;
  second = y2 * f;
}

TEST(RandomNormal, TwoNormalsUseOnePolarPair) {
  reset();
  std::int32_t seed = 31;
  reference_stream ref(31);
  for (int pair = 0; pair < 200; ++pair) {
    double a, b;
    reference_pair(ref, a, b);
    ASSERT_EQ(num::rand_normal(seed), a);
    const num::generator_state before = rng_state;
    ASSERT_EQ(num::rand_normal(seed), b);
    ASSERT_TRUE(same_words(before, rng_state));  // the cached one touches no generator word
    ASSERT_EQ(rng_state.cached_flag, 0);
  }
}

TEST(RandomNormal, ReseedKeepsTheCachedNormal) {
  reset();
  std::int32_t seed = 8;
  num::rand_normal(seed);
  const double waiting = rng_state.cached_normal;
  seed = 0;
  EXPECT_EQ(num::rand_normal(seed), waiting);
  EXPECT_EQ(seed, 0);  // no uniform drawn, so no seeding yet
  reference_stream ref(0);
  double a, b;
  reference_pair(ref, a, b);
  EXPECT_EQ(num::rand_normal(seed), a);
  EXPECT_EQ(seed, 1);
}

TEST(RandomGamma, ShapeBelowOneUsesTheDrawsOfShapePlusOneThenOneUniform) {
  reset();
  std::int32_t seed = 123;
  const double g15 = num::rand_gamma(1.5, 1.0, seed);
  num::rand_uniform(seed);
  const num::generator_state expected = rng_state;
  const double u = [&] {
    reset();
    std::int32_t s = 123;
    num::rand_gamma(1.5, 1.0, s);
    return num::rand_uniform(s);
  }();

  reset();
  seed = 123;
  const double g05 = num::rand_gamma(0.5, 3.0, seed);
  EXPECT_TRUE(same_words(rng_state, expected));
  EXPECT_EQ(g05, g15 * 3.0 * std::pow(u, 1.0 / 0.5));
}

TEST(RandomGamma, SqueezeDrawsNormalThenUniform) {
  // Shape >= 1 draws (normal, uniform) per try; count the uniforms against the replay.
  reset();
  std::int32_t seed = 77;
  const double g = num::rand_gamma(4.0, 1.0, seed);
  const num::generator_state after = rng_state;
  const int used = uniforms_to_reach(after, 77);
  // Replay: one normal (a polar pair when no cache) and one uniform per try.
  reset();
  std::int32_t s = 77;
  const double d = 4.0 - 1.0 / 3.0, c = 1.0 / std::sqrt(9.0 * d);
  double expect = 0.0;
  for (;;) {
    double z, v;
    do {
      z = num::rand_normal(s);
      v = c * z + 1.0;
    } while (v <= 0.0);
    v = v * v * v;
    const double u = num::rand_uniform(s);
    if (1.0 - (z * z * 0.0331) * (z * z) > u ||
        std::log(u) < z * z * 0.5 + (1.0 - v + std::log(v)) * d) {
      expect = d * v;
      break;
    }
  }
  EXPECT_EQ(g, expect);
  EXPECT_TRUE(same_words(rng_state, after));
  EXPECT_GE(used, 3);
}

// Gamma by the recursion on shape + 1, for shapes below 1.
double recursive_gamma(double shape, double scale, std::int32_t& seed) {
  if (shape >= 1.0) return num::rand_gamma(shape, scale, seed);
  const double g = recursive_gamma(shape + 1.0, 1.0, seed);
  const double u = num::rand_uniform(seed);
  return g * scale * std::pow(u, 1.0 / shape);
}

TEST(RandomGamma, NegativeShapesClimbTheChainLikeTheRecursion) {
  for (double shape : {0.3, -0.5, -3.7, -12.25}) {
    reset();
    std::int32_t s1 = 9;
    double got = 0.0;
    testing::internal::CaptureStdout();
    got = num::rand_gamma(shape, 1.7, s1);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    const num::generator_state after = rng_state;

    reset();
    std::int32_t s2 = 9;
    testing::internal::CaptureStdout();
    const double want = recursive_gamma(shape, 1.7, s2);
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(got, want) << shape;
    EXPECT_TRUE(same_words(rng_state, after));

    int non_positive_levels = 0;
    for (double a = shape; a < 1.0; a += 1.0)
      if (a <= 0.0) ++non_positive_levels;
    std::string expected;
    for (int i = 0; i < non_positive_levels; ++i) expected += " SHAPE PARAMETER MUST BE POSITIVE\r\n";
    EXPECT_EQ(out, expected) << shape;
  }
}

TEST(RandomGamma, MessagesAndDegenerateResults) {
  EXPECT_EQ(captured([] {
              reset();
              std::int32_t s = 4;
              EXPECT_GT(num::rand_gamma(-0.5, 1.0, s), 0.0);
            }),
            " SHAPE PARAMETER MUST BE POSITIVE\r\n");
  EXPECT_EQ(captured([] {
              reset();
              std::int32_t s = 4;
              EXPECT_EQ(num::rand_gamma(2.0, 0.0, s), 0.0);
            }),
            " SCALE PARAMETER MUST BE POSITIVE\r\n");
  EXPECT_EQ(captured([] {
              reset();
              std::int32_t s = 4;
              EXPECT_EQ(num::rand_gamma(0.0, -1.0, s), -0.0);
            }),
            " SHAPE PARAMETER MUST BE POSITIVE\r\n SCALE PARAMETER MUST BE POSITIVE\r\n");
  EXPECT_EQ(captured([] {
              reset();
              std::int32_t s = 4;
              EXPECT_EQ(num::rand_chisq(0.0, s), 0.0);
              EXPECT_TRUE(std::isinf(num::rand_scaled_inv_chisq(0.0, 1.0, s)));
            }),
            " SHAPE PARAMETER MUST BE POSITIVE\r\n SHAPE PARAMETER MUST BE POSITIVE\r\n");
}

TEST(RandomGamma, NotANumberOrHopelesslyNegativeShapeTerminates) {
  for (double shape : {std::numeric_limits<double>::quiet_NaN(),
                       -std::numeric_limits<double>::infinity(), -1.0e7, -1.0e300}) {
    reset();
    std::int32_t s = 5;
    num::rand_uniform(s);
    const num::generator_state before = rng_state;
    testing::internal::CaptureStdout();
    const double g = num::rand_gamma(shape, 1.0, s);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " SHAPE PARAMETER MUST BE POSITIVE\r\n");
    EXPECT_TRUE(std::isnan(g));
    EXPECT_TRUE(same_words(before, rng_state));  // nothing drawn
  }
  reset();
  std::int32_t s = 5;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(std::isnan(num::rand_scaled_inv_chisq(std::nan(""), 1.0, s)));
  std::fflush(stdout);
  testing::internal::GetCapturedStdout();
}

TEST(RandomChisq, SameDrawsAsGammaWithHalfTheDegreesOfFreedom) {
  for (double df : {7.0, 2.0, 1.0, 0.6}) {
    reset();
    std::int32_t s = 55;
    const double g = num::rand_gamma(df * 0.5, 2.0, s);
    const num::generator_state after = rng_state;
    reset();
    s = 55;
    EXPECT_EQ(num::rand_chisq(df, s), g) << df;
    EXPECT_TRUE(same_words(rng_state, after));
    reset();
    s = 55;
    EXPECT_EQ(num::rand_scaled_inv_chisq(df, 3.5, s), 3.5 / g) << df;
    EXPECT_TRUE(same_words(rng_state, after));
  }
}

TEST(RandomWishart, TwoByTwoDrawsFourNormalsThenTwoChiSquares) {
  const double df = 6.5;
  rt::vec1<double> factor(3);
  factor(1) = 1.5;
  factor(2) = -0.4;
  factor(3) = 0.8;
  rt::vec1<double> W(3);
  reset();
  std::int32_t s = 2718;
  num::rand_wishart(factor, df, 2, 3, W, s);
  const num::generator_state after = rng_state;
  const double cached_after = rng_state.cached_normal;
  const std::int32_t flag_after = rng_state.cached_flag;

  reset();
  s = 2718;
  num::rand_normal(s);
  const double z2 = num::rand_normal(s);
  num::rand_normal(s);
  num::rand_normal(s);
  const double q1 = num::rand_chisq(df, s);
  const double q2 = num::rand_chisq(df - 1.0, s);
  EXPECT_TRUE(same_words(rng_state, after));
  EXPECT_EQ(rng_state.cached_flag, flag_after);
  EXPECT_EQ(rng_state.cached_normal, cached_after);

  const double t11 = std::sqrt(q1), t21 = z2, t22 = std::sqrt(q2);
  const double m11 = factor(1) * t11;
  const double m21 = factor(2) * t11 + factor(3) * t21;
  const double m22 = factor(3) * t22;
  EXPECT_DOUBLE_EQ(W(1), m11 * m11);
  EXPECT_DOUBLE_EQ(W(2), m21 * m11);
  EXPECT_DOUBLE_EQ(W(3), m21 * m21 + m22 * m22);
}

TEST(RandomWishart, NormalCachedBeforeTheDrawIsTakenFirst) {
  // With a normal waiting, the four normals end on a fresh polar pair whose second deviate
  // stays cached for the next caller.
  rt::vec1<double> factor(3, 1.0), W(3);
  factor(2) = 0.0;
  reset();
  std::int32_t s = 606;
  num::rand_normal(s);
  const double waiting = rng_state.cached_normal;
  num::rand_wishart(factor, 5.0, 2, 3, W, s);
  const num::generator_state after = rng_state;

  reset();
  s = 606;
  num::rand_normal(s);
  EXPECT_EQ(num::rand_normal(s), waiting);
  const double z2 = num::rand_normal(s);
  num::rand_normal(s);
  num::rand_normal(s);
  EXPECT_EQ(rng_state.cached_flag, -1);
  num::rand_chisq(5.0, s);
  num::rand_chisq(4.0, s);
  EXPECT_TRUE(same_words(rng_state, after));
  EXPECT_EQ(rng_state.cached_flag, after.cached_flag);
  EXPECT_EQ(rng_state.cached_normal, after.cached_normal);
  EXPECT_DOUBLE_EQ(W(2), z2 * std::sqrt(W(1)));
}

TEST(RandomWishart, OrderOneDrawsTwoNormalsThenOneChiSquare) {
  rt::vec1<double> factor(1, 2.0), W(1);
  reset();
  std::int32_t s = 10;
  num::rand_wishart(factor, 4.0, 1, 1, W, s);
  const num::generator_state after = rng_state;
  reset();
  s = 10;
  num::rand_normal(s);
  num::rand_normal(s);
  const double q = num::rand_chisq(4.0, s);
  EXPECT_TRUE(same_words(rng_state, after));
  EXPECT_DOUBLE_EQ(W(1), 4.0 * q);
}

TEST(RandomWishart, IdentityFactorGivesBartlettProduct) {
  // n = 3: six normals, three stored below the diagonal; chi-squares df, df - 1, df - 2.
  const double df = 9.0;
  rt::vec1<double> factor(6, 0.0), W(6);
  factor(1) = factor(3) = factor(6) = 1.0;
  reset();
  std::int32_t s = 4;
  num::rand_wishart(factor, df, 3, 6, W, s);
  const num::generator_state after = rng_state;
  reset();
  s = 4;
  double T[4][4] = {};
  double z[7];
  for (int k = 1; k <= 6; ++k) z[k] = num::rand_normal(s);
  T[2][1] = z[2];
  T[3][1] = z[4];
  T[3][2] = z[5];
  for (int i = 1; i <= 3; ++i) T[i][i] = std::sqrt(num::rand_chisq(df + 1.0 - i, s));
  EXPECT_TRUE(same_words(rng_state, after));
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= r; ++c) {
      double w = 0.0;
      for (int k = 1; k <= c; ++k) w += T[r][k] * T[c][k];
      EXPECT_NEAR(W(num::packed_index(r, c)), w, 1e-12 * (1.0 + std::fabs(w)));
    }
}

}  // namespace

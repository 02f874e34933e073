// Random variates from the process-wide generator.
#include "numeric/random_variates.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "numeric/chol_factor.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace num {

generator_state rng_state;

namespace {

constexpr double seeded_scale = 4.6566125955216364e-10;  // 2^-31 - 2^-55
constexpr double one_third = 1.0 / 3.0;
// Below this shape the shape + 1 chain of the gamma draw is not climbed (a million levels).
constexpr double deepest_shape = -1000000.0;

void shape_message() { rt::write(rt::console(), {"SHAPE PARAMETER MUST BE POSITIVE"}); }
void scale_message() { rt::write(rt::console(), {"SCALE PARAMETER MUST BE POSITIVE"}); }

// Seeds the generator from |seed| when seed <= 0 or it was never seeded; seed becomes
// |seed| + 1. Done in 64 bits and wrapped, so that -2147483648 cannot overflow.
void seeding_check(std::int32_t& seed) {
  if (seed > 0 && rng_state.congruential_word >= 0) return;
  const std::int64_t s = std::llabs(static_cast<std::int64_t>(seed));
  seed = static_cast<std::int32_t>(s + 1);
  rng_state.congruential_word = static_cast<std::int32_t>((s ^ 888889999) | 1);
  rng_state.xorshift_word = static_cast<std::uint32_t>(s ^ 777755555);
  rng_state.uniform_scale = seeded_scale;
}

// Squeeze method for a gamma deviate of shape d + 1/3 >= 1: returns v, the deviate being
// d x v. Consumes normals and uniforms in the order normal(s), uniform, normal(s), uniform...
double squeeze_v(double d, std::int32_t& seed) {
  const double c = 1.0 / std::sqrt(9.0 * d);
  for (;;) {
    double z, v;
    do {
      z = rand_normal(seed);
      v = c * z + 1.0;
    } while (v <= 0.0);
    v = v * v * v;
    const double u = rand_uniform(seed);
    if (1.0 - (z * z * 0.0331) * (z * z) > u) return v;
    if (std::log(u) < z * z * 0.5 + (1.0 - v + std::log(v)) * d) return v;
  }
}

// Shapes of the levels below 1 of the current shape + 1 chain, deepest last; kept between
// calls so that a draw allocates nothing once it has grown.
thread_local rt::vec1<double> chain_shape;

}  // namespace

double rand_uniform(std::int32_t& seed) {
  seeding_check(seed);

  std::uint32_t w = rng_state.xorshift_word;
  w = w ^ (w << 13);
  w = w ^ (w >> 17);
  w = w ^ (w << 5);
  rng_state.xorshift_word = w;

  // c = 16807 c mod 2147483647 (2^31 - 1). A word of 0 .. 2^31 - 1 (every seeding but that
  // from the most negative seed leaves one) makes a product of 46 bits, whose high bits fold
  // onto the low ones as 2^31 = 1 modulo 2^31 - 1: one multiplication, where Schrage's
  // overflow-free form takes a division by 127773. Both give the same, 0 .. 2^31 - 2. A
  // negative word goes through Schrage's form in 64 bits, as it always has.
  const std::int64_t c = rng_state.congruential_word;
  std::int64_t next;
  if (c >= 0) {
    const std::uint64_t x = 16807u * static_cast<std::uint64_t>(c);
    std::uint64_t folded = (x & 2147483647u) + (x >> 31);
    if (folded >= 2147483647u) folded = folded - 2147483647u;
    next = static_cast<std::int64_t>(folded);
  } else {
    next = 16807 * (c % 127773) - 2836 * (c / 127773);
    if (next < 0) next = next + 2147483647;
  }
  rng_state.congruential_word = static_cast<std::int32_t>(next);

  const std::uint32_t k =
      ((w ^ static_cast<std::uint32_t>(rng_state.congruential_word)) & 2147483647u) | 1u;
  return rng_state.uniform_scale * static_cast<double>(k);
}

double rand_normal(std::int32_t& seed) {
  if (rng_state.cached_flag & 1) {
    rng_state.cached_flag = 0;
    return rng_state.cached_normal;
  }
  double y1, y2, r;
  do {
    const double u1 = rand_uniform(seed);
    y1 = (u1 - 1.0) + u1;
    const double u2 = rand_uniform(seed);
    y2 = (u2 - 1.0) + u2;
    r = y1 * y1 + y2 * y2;
  } while (!(r > 0.0 && r < 1.0));
  const double f = std::sqrt(2.0 * std::log(r) / (0.0 - r));
  rng_state.cached_normal = y2 * f;
  rng_state.cached_flag = -1;
  return y1 * f;
}

double rand_gamma(double SHAPE, double SCALE, std::int32_t& seed) {
  if (!(SHAPE > 0.0)) shape_message();  // a NaN shape counts as non-positive
  if (SCALE <= 0.0) scale_message();
  if (!(SHAPE >= deepest_shape)) return std::numeric_limits<double>::quiet_NaN();

  if (SHAPE >= 1.0) {
    const double d = SHAPE - one_third;
    const double v = squeeze_v(d, seed);
    return d * v * SCALE;
  }

  // SHAPE < 1: gamma(SHAPE + 1, 1) x u^(1/SHAPE), climbed iteratively. The levels print
  // their messages on the way up and draw their uniforms on the way down, deepest first.
  std::int64_t levels = 0;
  double a = SHAPE;
  while (a < 1.0) {
    ++levels;
    if (chain_shape.size() < levels) chain_shape.resize(levels);
    chain_shape(levels) = a;
    a = a + 1.0;
    if (!(a > 0.0)) shape_message();
  }
  const double d = a - one_third;
  double g = d * squeeze_v(d, seed) * 1.0;
  for (std::int64_t level = levels; level >= 1; --level) {
    const double u = rand_uniform(seed);
    const double level_scale = level == 1 ? SCALE : 1.0;
    g = g * level_scale * std::pow(u, 1.0 / chain_shape(level));
  }
  return g;
}

double rand_chisq(double df, std::int32_t& seed) {
  const double a = df * 0.5;
  if (!(a > 0.0)) shape_message();
  if (a >= 1.0) {
    const double d = a - one_third;
    const double v = squeeze_v(d, seed);
    return v * (2.0 * d);
  }
  const double g = rand_gamma(1.0 + a, 1.0, seed);
  const double u = rand_uniform(seed);
  return g * 2.0 * std::pow(u, 1.0 / a);
}

double rand_scaled_inv_chisq(double df, double scale, std::int32_t& seed) {
  const double a = df * 0.5;
  if (!(a > 0.0)) shape_message();
  if (a >= 1.0) {
    const double d = a - one_third;
    const double v = squeeze_v(d, seed);
    return scale / (v * (2.0 * d));
  }
  const double g = rand_gamma(1.0 + a, 1.0, seed);
  const double u = rand_uniform(seed);
  return scale / (g * 2.0 * std::pow(u, 1.0 / a));
}

void rand_wishart(const rt::vec1<double>& factor, double df, std::int32_t n,
                  std::int32_t packed_size, rt::vec1<double>& result, std::int32_t& seed) {
  const std::int64_t need = packed_length(n > 0 ? n : 0);
  if (packed_size < need || factor.size() < need || result.size() < need)
    rt::internal_error("rand_wishart: packed vectors shorter than n(n + 1)/2");

  // T: the Bartlett factor, packed lower triangle; kept between calls (grown on demand).
  thread_local rt::vec1<double> T;
  if (T.size() < packed_size) T.resize(packed_size);

  for (std::int32_t k = 1; k <= packed_size; k += 2) {
    const double z1 = rand_normal(seed);
    const double z2 = rand_normal(seed);
    T(k) = z1;
    if (k + 1 > packed_size) break;
    T(k + 1) = z2;
  }

  for (std::int32_t i = 1; i <= n; ++i) {  // chi-square with df + 1 - i degrees of freedom
    const double a = ((df + 1.0) - static_cast<double>(i)) * 0.5;
    if (!(a > 0.0)) shape_message();
    double q;
    if (a >= 1.0) {
      const double d = a - one_third;
      const double v = squeeze_v(d, seed);
      q = v * d * 2.0;
    } else {
      const double g = rand_gamma(1.0 + a, 1.0, seed);
      const double u = rand_uniform(seed);
      q = g * 2.0 * std::pow(u, 1.0 / a);
    }
    T(packed_index(i, i)) = std::sqrt(q);
  }

  // M = factor x T, both lower triangular.
  for (std::int32_t c = 1; c <= n; ++c) {
    for (std::int32_t r = c; r <= n; ++r) {
      double s = 0.0;
      for (std::int32_t k = c; k <= r; ++k) s = s + factor(packed_index(r, k)) * T(packed_index(k, c));
      result(packed_index(r, c)) = s;
    }
  }

  // W = M x M transposed in place; backwards, so no element of M is overwritten before its
  // last use.
  for (std::int32_t c = n; c >= 1; --c) {
    for (std::int32_t r = n; r >= c; --r) {
      double s = 0.0;
      for (std::int32_t k = 1; k <= c; ++k)
        s = s + result(packed_index(r, k)) * result(packed_index(c, k));
      result(packed_index(r, c)) = s;
    }
  }
}

}  // namespace num

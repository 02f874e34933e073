// Random variates from one process-wide generator: uniform, normal, gamma, chi-square,
// scaled inverse chi-square and Wishart.
//
// The values drawn depend only on the program's seed and on the order of the calls: every
// routine consumes its uniform and normal draws in a fixed order, so a run repeats its chain
// exactly. Each routine takes the program's seed by reference; the first uniform draw of the
// process (and any draw handed a seed <= 0) seeds the generator from |seed| and leaves
// |seed| + 1 in the caller's variable.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// The generator: a 32-bit xorshift word combined with a multiplicative congruential word,
// plus the second deviate of the last polar pair of normals.
struct generator_state {
  std::uint32_t xorshift_word = 0xFFFFFFFFu;  // all bits set at program start
  std::int32_t congruential_word = -1;        // negative: not yet seeded
  double uniform_scale = 0.0;                 // 2^-31 - 2^-55 once seeded
  double cached_normal = 0.0;
  std::int32_t cached_flag = 0;               // -1 while cached_normal waits (lowest bit tested)
};

// The one generator of the process (the only global mutable state of the system). Tests may
// assign generator_state{} to get back to the program-start state.
extern generator_state rng_state;

// A real in (0, 1), never 0 nor 1.
double rand_uniform(std::int32_t& seed);

// A standard normal deviate (polar method; the second deviate of a pair is cached and is
// returned by the next normal draw of any routine).
double rand_normal(std::int32_t& seed);

// A gamma deviate with mean SHAPE x SCALE. A shape that is not positive writes
// "SHAPE PARAMETER MUST BE POSITIVE", a scale that is not positive "SCALE PARAMETER MUST BE
// POSITIVE", and the draw goes on (a shape below 1 climbs SHAPE + 1, SHAPE + 2 ... and
// repeats the message at every non-positive level). A shape that is not a number, or below
// -1000000, writes the shape message once, draws nothing and returns NaN.
double rand_gamma(double SHAPE, double SCALE, std::int32_t& seed);

// A chi-square deviate with df degrees of freedom (the draws of rand_gamma(df x 0.5, 2.0)).
double rand_chisq(double df, std::int32_t& seed);

// scale divided by a chi-square deviate with df degrees of freedom (same draws).
double rand_scaled_inv_chisq(double df, double scale, std::int32_t& seed);

// A Wishart matrix with df degrees of freedom and scale matrix factor x factor transposed,
// by the Bartlett decomposition. factor: packed lower Cholesky factor as chol_factor writes
// it; result: packed lower triangle of the draw. packed_size = n(n + 1)/2 sets the number of
// normal draws (rounded up to an even number).
void rand_wishart(const rt::vec1<double>& factor, double df, std::int32_t n,
                  std::int32_t packed_size, rt::vec1<double>& result, std::int32_t& seed);

}  // namespace num

// The stops of zumek_ro on (co)variance blocks that are not positive definite: the G block
// inverted before every round, and the new block drawn as the inverse of a Wishart draw.
// Exact console text: field widths, overflowing integer fields, blank lines, exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "numeric/random_variates.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/run_state.hpp"
#include "zumek_ro/sample_round.hpp"
#include "zumek_ro/steps.hpp"

namespace {

// n_effects effects, one 2 x 2 block at effect k whose G0 is not positive definite, one round.
void make_round_state(ro::run_state& s, std::int32_t n_effects, std::int32_t k) {
  s = ro::run_state{};
  s.n_effects = n_effects;
  s.n_rounds = 1;
  s.CORR.assign(n_effects, 0);
  s.CORR(k) = 2;
  s.G0.resize(n_effects, 2, 2, 0.0);
  s.G0(k, 1, 1) = 1.0;
  s.G0(k, 2, 2) = 1.0;
  s.G0(k, 1, 2) = 2.0;
  s.G0(k, 2, 1) = 2.0;
  s.G.resize(n_effects, 2, 2, 0.0);
  s.g_inverse.resize(n_effects, 2, 2, 0.0);
}

// The console of the stop, from the round's progress line on.
std::string g_block_stop(const char* effect_field) {
  return std::string("^        1  TH ITERATION\r\n \r\n -----------\r\n FATAL ERROR: MATRIX G\\(") +
         effect_field + "\\) IS NOT POSITIVE DEFINITE\\.\r\n -----------\r\n \r\n$";
}

}  // namespace

TEST(RoBlockStopsDeathTest, GBlockBeforeTheRoundNamesTheEffectInOneColumn) {
  ro::run_state s;
  make_round_state(s, 3, 2);
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        ro::run_sampling(s);
      },
      testing::ExitedWithCode(1), g_block_stop("2"));
  make_round_state(s, 11, 10);   // I1: effect 10 prints as one asterisk
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        ro::run_sampling(s);
      },
      testing::ExitedWithCode(1), g_block_stop("\\*"));
}

TEST(RoBlockStopsDeathTest, NewBlockNotPositiveDefiniteNamesEffectAndRound) {
  // Scale [1E13 + 5, 2; 2, 2]: its inverse has a first pivot near 1E-13, which the factor
  // rejects and leaves unscaled, so the Wishart draw has W(1, 1) near 1E-26 and its inverse
  // fails the pivot tolerance.
  ro::run_state s;
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
  s.sample(4) = 1.0;
  s.G0.resize(2, 2, 2, 0.0);
  s.G0(1, 1, 1) = 1.0E13;
  s.G0(1, 2, 2) = 1.0;
  s.G.resize(2, 2, 2, 0.0);
  s.QFORM.resize(2, 2, 2);
  s.packed_factor.assign(3, 0.0);
  s.packed_draw.assign(3, 0.0);
  s.type2_prior_df = 4.0;   // prior part G0 x (4 - 1 - 2)
  num::sparse_allocate(s.AMAT, 2, 4);
  num::sparse_init(s.AMAT);
  num::SBSIJ(s.AMAT, 1, 1, 1.0, 5, 0, rt::console(), s.IER);
  num::SBSIJ(s.AMAT, 2, 2, 1.0, 5, 0, rt::console(), s.IER);
  num::sparse_finish(s.AMAT);
  num::rng_state = num::generator_state{};
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        ro::draw_variances(s, 12345);
      },
      testing::ExitedWithCode(1),
      "^ \r\n -----------\r\n FATAL ERROR: MATRIX NEWG\\( 1\\) IS NOT POSITIVE DEFINITE\\.\r\n"
      "       ROUND:  12345\r\n -----------\r\n \r\n$");
}

// Variance draws of zumek_ro: a single variance by a scaled inverse chi-square draw, and each
// (co)variance block as the inverse of a Wishart draw.
#include <cmath>
#include <string>

#include "numeric/chol_factor.hpp"
#include "numeric/quadratic_forms.hpp"
#include "numeric/random_variates.hpp"
#include "numeric/sym_ginverse.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/sample_round.hpp"

namespace ro {

namespace {

[[noreturn]] void stop_typo_corr() {
  rt::stop("BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION", rt::exit_error);
}

// QFORM(j, a, b) for every pair of members a <= b of the block that starts at effect j.
void block_quadratic_forms(run_state& s, std::int32_t j) {
  const std::int32_t typo = s.TYPO(j);
  if (typo != 1 && typo != 2) stop_typo_corr();
  num::block_quadratic_forms(s.QFORM, j, typo, s.CORR(j), s.n_effects, s.remaining_levels(j),
                             s.n_equations, s.sample, s.effect_offset, s.AMAT);
}

// Copies block j (order m) of a (n_effects, 2, 2) array into a 2 x 2 column-major work block
// and back.
void get_block(const rt::vec3<double>& X, std::int32_t j, double w[4]) {
  w[0] = X(j, 1, 1);
  w[1] = X(j, 2, 1);
  w[2] = X(j, 1, 2);
  w[3] = X(j, 2, 2);
}
void put_block(rt::vec3<double>& X, std::int32_t j, const double w[4]) {
  X(j, 1, 1) = w[0];
  X(j, 2, 1) = w[1];
  X(j, 1, 2) = w[2];
  X(j, 2, 2) = w[3];
}

// The block of effect j as the inverse of a Wishart draw whose scale is the inverse of the
// quadratic forms plus the prior part.
void draw_wishart_block(run_state& s, std::int32_t j, std::int32_t ROUND) {
  const std::int32_t m = s.CORR(j);
  const double prior = s.type2_prior_df - 1.0 - m;
  for (std::int32_t a = 1; a <= m; ++a)
    for (std::int32_t b = 1; b <= m; ++b)
      s.QFORM(j, a, b) = s.QFORM(j, a, b) + s.G0(j, a, b) * prior;

  std::int32_t rank = 0;
  rank = num::invert_block(s.QFORM, j, m, 1.0E-12);
  if (rank < m)
    rt::stop_framed(rt::fixed_line()
                        .A("FATAL ERROR: MATRIX QFORM(", 27)
                        .I(j, 1)
                        .A(") ISNOT POSITIVE DEFINITE.", 27));

  // chol_factor works on the block copied into a contiguous m x m matrix: the 2 x 2 block
  // by columns for m = 2, its element (1, 1) alone for m = 1; the copy goes back afterwards.
  double c[4];
  get_block(s.QFORM, j, c);
  num::chol_factor(c, m, 1.0E-12, rank, s.packed_factor);   // its rank is not tested
  put_block(s.QFORM, j, c);

  const double df = s.AMAT.order + s.type2_prior_df;
  const std::int32_t packed_size = m * (m + 1) / 2;
  num::rand_wishart(s.packed_factor, df, m, packed_size, s.packed_draw, s.seed);
  for (std::int32_t a = 1; a <= m; ++a)
    for (std::int32_t b = 1; b <= a; ++b)
      s.G(j, a, b) = s.packed_draw(num::packed_index(a, b));
  for (std::int32_t a = 1; a <= m; ++a)
    for (std::int32_t b = a + 1; b <= m; ++b) s.G(j, a, b) = s.G(j, b, a);

  // NEWG: the new block is the inverse of the draw.
  rank = num::invert_block(s.G, j, m, 1.0E-12);
  if (rank < m)
    rt::stop_framed(rt::fixed_line()
                        .A("FATAL ERROR: MATRIX NEWG(", 26)
                        .I(j, 2)
                        .A(") IS NOT POSITIVE DEFINITE.", 27),
                    rt::fixed_line().A("ROUND:", 13).I(ROUND, 7));
  for (std::int32_t a = 1; a <= m; ++a) {
    if (!(std::isfinite(s.G(j, a, a)) && s.G(j, a, a) > 0.0)) num::stop_variance_not_finite(j);
    for (std::int32_t b = 1; b <= m; ++b)
      if (!std::isfinite(s.G(j, a, b))) num::stop_variance_not_finite(j);
  }
}

}  // namespace

void draw_variances(run_state& s, std::int32_t ROUND) {
  const std::int32_t ne = s.n_effects;
  for (std::int32_t b = 1; b <= 2; ++b)
    for (std::int32_t a = 1; a <= 2; ++a)
      for (std::int32_t e = 1; e <= ne; ++e) s.QFORM(e, a, b) = 0.0;

  for (std::int32_t j = 1; j <= ne; ++j) {
    if (s.CORR(j) <= 0) continue;
    block_quadratic_forms(s, j);
    if (s.TYPO(j) == 1) {
      num::draw_single_variance(s.G, s.G0, s.QFORM, j, s.remaining_levels(j), s.type1_prior_df,
                                s.seed);
    } else {
      draw_wishart_block(s, j, ROUND);
    }
  }
}

}  // namespace ro

// The (co)variance draws that close a round of zumek_tav: the family matrices at the new
// current_p_par, R, single variances and 2 x 2 blocks by sequential conditional draws.
#include <cmath>
#include <string>

#include "numeric/quadratic_forms.hpp"
#include "numeric/random_variates.hpp"
#include "numeric/sym_ginverse.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/family_classes.hpp"
#include "zumek_tav/grid_draw.hpp"
#include "zumek_tav/run_state.hpp"
#include "zumek_tav/sample_round.hpp"

namespace tav {

namespace {

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }

// Rebuilds every family's residual_matrix and RINV at current_p_par and returns the quadratic
// form of the family-correlated effect summed over the families.
double rebuild_family_matrices(run_state& s) {
  std::int32_t offset = 0;
  for (std::int32_t e = 1; e <= s.n_effects - 3; ++e) offset += s.remaining_levels(e);
  std::int64_t records = 0;
  for (std::int32_t f = 1; f <= s.n_families; ++f) records += s.family_block(f).n_records;
  if (offset + records > s.n_equations)
    rt::stop("BEWARE! MORE DATA RECORDS THAN LEVELS OF THE FAMILY-CORRELATED EFFECT",
             rt::exit_error);

  const double p = s.current_p_par;
  invert_classes(s, p);
  double type3_quadratic_sum = 0.0;
  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    tav::family_block& fb = s.family_block(f);
    const std::int32_t n = fb.n_records;
    const double* u = s.sample.data() + offset;
    if (f < s.n_families) {
      const rt::col_view resid = dense(fb.residual_matrix, n);
      const rt::col_view rinv = dense(fb.RINV, n);
      const rt::col_view link{fb.dam_link_matrix.data(), n};
      std::int32_t rank = 0;
      const std::int32_t cls = class_of(s, f);
      if (cls > 0) {
        // The class's inverse at p: the same numbers this family's own inversion would give.
        fill_residual_matrix(fb, p, fb.residual_matrix.data());
        const std::int64_t nn = static_cast<std::int64_t>(n) * n;
        const double* C = s.round.rinv_at_p.data() + s.round.class_start(cls);
        for (std::int64_t k = 0; k < nn; ++k) fb.RINV.data()[k] = C[k];
        rank = s.round.fail_at_p(cls) ? n - 1 : n;
      } else {
        for (std::int32_t c = 1; c <= n; ++c)
          for (std::int32_t r = 1; r <= n; ++r) {
            resid(r, c) = (r == c ? 1.0 : 0.0) + p * link(r, c);
            rinv(r, c) = resid(r, c);
          }
        num::sym_ginverse(fb.RINV.data(), n, n, 1.0E-12, rank);
      }
      if (rank < n)
        rt::stop_framed(rt::fixed_line()
                            .A("FATAL ERROR: RINV FOR FAMILY ", 30)
                            .I(f, 3)
                            .A("IS NOT POSITIVE DEFINITE.", 27));
      add_family_quadratic_form(fb.RINV.data(), n, u, false, type3_quadratic_sum);
    } else {
      // The rest group is the identity and is never inverted; it keeps only its diagonal.
      for (std::int32_t i = 1; i <= n; ++i) {
        fb.residual_matrix(i) = 1.0 + p * 0.0;
        fb.RINV(i) = fb.residual_matrix(i);
        type3_quadratic_sum = type3_quadratic_sum + u[i - 1] * u[i - 1] * fb.RINV(i);
      }
    }
    offset += n;
  }
  return type3_quadratic_sum;
}

// QFORM(j, a, b) for every pair of members of the block that starts at effect j.
void block_quadratic_forms(run_state& s, std::int32_t j) {
  round_work& w = s.round;
  const std::int32_t typo = s.TYPO(j);
  if (typo < 1 || typo > 3)
    rt::stop("BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION", rt::exit_error);
  if (typo == 3) return;
  // A block the sweep laid out in pairs is read from there: the values are the same.
  const num::sample_layout& L = w.layout;
  const double* pairs = L.active && j <= L.pair_first.size() && L.pair_first(j) >= 0 &&
                                s.CORR(j) == 2 && typo == 2
                            ? L.value.data() + L.pair_first(j)
                            : nullptr;
  num::block_quadratic_forms(w.QFORM, j, typo, s.CORR(j), s.n_effects, s.remaining_levels(j),
                             s.n_equations, s.sample, w.effect_offset, s.GMAT, pairs);
}

// Sequential draw of the 2 x 2 block of effect j: first variance, conditional variance,
// regression coefficient; then the block is test-inverted in g_draw_inverse.
void draw_type2_block(run_state& s, std::int32_t j, std::int32_t ROUND) {
  round_work& w = s.round;
  const std::int32_t corr = s.CORR(j);
  rt::vec3<double>& P = w.type2_prior_scale;
  if (ROUND == 1) {
    P(1, 1, 1) = (2.0 + s.type2_prior_df) * s.G0(j, 1, 1);
    P(1, 2, 1) = (s.G0(j, 1, 2) / s.G0(j, 1, 1)) * P(1, 1, 1);
    P(2, 1, 1) = P(1, 2, 1);
    P(2, 2, 1) = (s.G0(j, 2, 2) - s.G0(j, 1, 2) * s.G0(j, 1, 2) / s.G0(j, 1, 1)) *
                     (3.0 + s.type2_prior_df_second) +
                 P(1, 2, 1) * P(1, 2, 1) / P(1, 1, 1);
    w.type2_df_first = s.type2_prior_df + s.remaining_levels(j);
    w.type2_df_second = s.type2_prior_df_second + s.remaining_levels(j);
  }
  for (std::int32_t a = 1; a <= corr; ++a)
    for (std::int32_t b = 1; b <= corr; ++b) w.QFORM(j, a, b) = w.QFORM(j, a, b) + P(a, b, 1);
  const double S11 = w.QFORM(j, 1, 1), S12 = w.QFORM(j, 1, 2), S22 = w.QFORM(j, 2, 2);

  const double g11 = num::rand_scaled_inv_chisq(w.type2_df_first, S11, s.seed);
  s.G(j, 1, 1) = g11;
  const double c =
      num::rand_scaled_inv_chisq(w.type2_df_second + 1.0, S22 - S12 * S12 / S11, s.seed);
  const double z = num::rand_normal(s.seed);
  const double r = S12 / S11 + z * std::sqrt(c / S11);
  s.G(j, 1, 2) = g11 * r;
  s.G(j, 2, 1) = g11 * r;
  s.G(j, 2, 2) = c + g11 * r * r;

  // Test: invert the new block in a copy of G.
  const std::int32_t ne = s.n_effects;
  for (std::int32_t b = 1; b <= 2; ++b)
    for (std::int32_t a = 1; a <= 2; ++a)
      for (std::int32_t e = 1; e <= ne; ++e) s.g_draw_inverse(e, a, b) = s.G(e, a, b);
  if (num::invert_block(s.g_draw_inverse, j, corr, 1.0E-12) < corr)
    rt::stop_framed(rt::fixed_line()
                        .A("FATAL ERROR: MATRIX G(", 26)
                        .I(j, 2)
                        .A(") IS NOT POSITIVE DEFINITE.", 27),
                    rt::fixed_line().A("ROUND:", 13).I(ROUND, 7));
  // A draw that is not a number passes the rank test; it must not reach the next round.
  if (!finite_positive(g11) || !std::isfinite(r) || (corr == 2 && !finite_positive(c)))
    num::stop_variance_not_finite(j);
}

}  // namespace

void draw_variances(run_state& s, std::int32_t ROUND) {
  round_work& w = s.round;
  const std::int32_t ne = s.n_effects;

  const double type3_quadratic_sum = rebuild_family_matrices(s);
  const double df = s.NRDF + s.residual_prior_df;
  const double scale =
      type3_quadratic_sum + (s.residual_prior_df + 2.0) * s.G0(ne - 2, 1, 1);
  const double R = num::rand_scaled_inv_chisq(df, scale, s.seed);
  if (R > 20000.0) rt::stop(" BEWARE! R SAMPLE VALUE TOO BIG!", rt::exit_error);
  if (!finite_positive(R))
    rt::stop(" BEWARE! R SAMPLE VALUE IS NOT A FINITE POSITIVE NUMBER!", rt::exit_error);
  s.G(ne - 2, 1, 1) = R;

  for (std::int32_t b = 1; b <= 2; ++b)
    for (std::int32_t a = 1; a <= 2; ++a)
      for (std::int32_t e = 1; e <= ne; ++e) w.QFORM(e, a, b) = 0.0;

  for (std::int32_t j = 1; j <= ne; ++j) {
    if (s.CORR(j) <= 0) continue;
    block_quadratic_forms(s, j);
    switch (s.TYPO(j)) {
      case 1:
        num::draw_single_variance(s.G, s.G0, w.QFORM, j, s.remaining_levels(j),
                                  s.type1_prior_df, s.seed);
        break;
      case 2:
        draw_type2_block(s, j, ROUND);
        break;
      default:
        break;  // TYPO 3: its variance is R
    }
  }
}

}  // namespace tav

// Quadratic forms of the sampled effects for the variance draws.
#include "numeric/quadratic_forms.hpp"

#include <cmath>
#include <string>

#include "numeric/random_variates.hpp"
#include "runtime/prefetch.hpp"
#include "runtime/process.hpp"

namespace num {

namespace {

[[noreturn]] void stop_bilinear_dimensions() {
  rt::stop("INCOMPATIBLE DIMENSIONS FOR THE BILINEARFORM COMPUTATION", rt::exit_error);
}

}  // namespace

void block_quadratic_forms(rt::vec3<double>& QFORM, std::int32_t j, std::int32_t typo,
                           std::int32_t corr, std::int32_t n_effects, std::int32_t len,
                           std::int32_t n_equations, const rt::vec1<double>& sample,
                           const rt::vec1<std::int32_t>& effect_offset, const sparse_store& A,
                           const double* pairs) {
  if (corr > 2 || j + corr - 1 > n_effects)
    rt::stop("BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION", rt::exit_error);
  if (typo == 2 && len != A.order) stop_bilinear_dimensions();
  for (std::int32_t k = 1; k <= corr; ++k)
    if (effect_offset(j + k - 1) + static_cast<std::int64_t>(len > 0 ? len : 0) > n_equations)
      stop_bilinear_dimensions();  // a member's slice would run past the last equation

  if (typo == 2 && corr == 2) {
    // The three forms of a 2 x 2 pedigree block in one pass over A, each summed in the same
    // order as on its own: (1, 1), (1, 2) = (2, 1) and (2, 2). Member 1's u(i) is
    // u[(i - 1) step], member 2's v[(i - 1) step].
    const double* u = sample.data() + effect_offset(j);
    const double* v = sample.data() + effect_offset(j + 1);
    std::int64_t step = 1;
    if (pairs) {
      u = pairs;
      v = pairs + 1;
      step = 2;
    }
    // The rows come in order, so entry k + ahead of A is in this row or a later one: the
    // values its column will read, scattered over a sample far larger than the cache on big
    // data, are asked for that many entries ahead (one line holds both members' when paired).
    constexpr std::int32_t ahead = 64;
    const std::int32_t last_entry = A.row_start(A.order + 1);      // one past the last
    const std::int32_t* const column_at = A.column.data() - 1;     // 1-based view
    double q11 = 0.0, q12 = 0.0, q22 = 0.0;
    for (std::int32_t i = 1; i <= A.order; ++i) {
      const double ui = u[(i - 1) * step], vi = v[(i - 1) * step];
      for (std::int32_t k = A.row_start(i); k < A.row_start(i + 1); ++k) {
        if (k + ahead < last_entry) {
          const std::int64_t o = (column_at[k + ahead] - std::int64_t{1}) * step;
          rt::prefetch_read(u + o);
          if (!pairs) rt::prefetch_read(v + o);
        }
        const std::int32_t c = A.column(k);
        const double x = A.value(k);
        if (c == i) {
          q11 = q11 + ui * x * ui;
          q12 = q12 + ui * x * vi;
          q22 = q22 + vi * x * vi;
        } else if (c > i) {
          const double uc = u[(c - 1) * step], vc = v[(c - 1) * step];
          q11 = q11 + (ui * uc + ui * uc) * x;
          q12 = q12 + (ui * vc + vi * uc) * x;
          q22 = q22 + (vi * vc + vi * vc) * x;
        }
      }
    }
    QFORM(j, 1, 1) = q11;
    QFORM(j, 1, 2) = q12;
    QFORM(j, 2, 1) = q12;
    QFORM(j, 2, 2) = q22;
    return;
  }
  for (std::int32_t a = 1; a <= corr; ++a)
    for (std::int32_t b = a; b <= corr; ++b) {
      const double* u = sample.data() + effect_offset(j + a - 1);  // u[l - 1] is u(l)
      const double* v = sample.data() + effect_offset(j + b - 1);
      double q = 0.0;
      if (typo == 1) {
        for (std::int32_t l = 0; l < len; ++l) q = q + u[l] * v[l];
        QFORM(j, a, b) = q;
      } else {
        for (std::int32_t i = 1; i <= A.order; ++i)
          for (std::int32_t k = A.row_start(i); k < A.row_start(i + 1); ++k) {
            const std::int32_t c = A.column(k);
            const double x = A.value(k);
            if (c == i)
              q = q + u[i - 1] * x * v[i - 1];
            else if (c > i)
              q = q + (u[i - 1] * v[c - 1] + v[i - 1] * u[c - 1]) * x;
          }
        QFORM(j, a, b) = q;
        QFORM(j, b, a) = q;
      }
    }
}

void stop_variance_not_finite(std::int32_t j) {
  rt::stop("BEWARE! VARIANCE SAMPLE OF EFFECT " + std::to_string(j) +
               " IS NOT A FINITE POSITIVE NUMBER!",
           rt::exit_error);
}

void draw_single_variance(rt::vec3<double>& G, const rt::vec3<double>& G0,
                          const rt::vec3<double>& QFORM, std::int32_t j, std::int32_t len,
                          double prior_df, std::int32_t& seed) {
  const double g =
      rand_scaled_inv_chisq(len + prior_df, (prior_df + 2.0) * G0(j, 1, 1) + QFORM(j, 1, 1), seed);
  if (!(std::isfinite(g) && g > 0.0)) stop_variance_not_finite(j);
  G(j, 1, 1) = g;
}

}  // namespace num

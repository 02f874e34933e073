// Inverses of the (co)variance blocks, with the stop on a block that is not positive definite.
#include "numeric/covariance_blocks.hpp"

#include "numeric/sym_ginverse.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace num {

namespace {
constexpr double pivot_tolerance = 1.0E-12;
}  // namespace

void invert_starting_block(rt::vec3<double>& g_inverse, const rt::vec3<double>& G0,
                           std::int32_t k, std::int32_t n) {
  g_inverse = G0;
  if (invert_block(g_inverse, k, n, pivot_tolerance) < n)
    rt::stop_framed(rt::fixed_line()
                        .A(" FATAL ERROR: MATRIX G0(", 24)
                        .I(k, 2)
                        .A(") IS NOT POSITIVE DEFINITE.", 27));
}

void invert_current_blocks(rt::vec3<double>& g_inverse, const rt::vec3<double>& G,
                           std::int32_t n_effects, const rt::vec1<std::int32_t>& CORR) {
  g_inverse = G;
  for (std::int32_t k = 1; k <= n_effects; ++k) {
    if (CORR(k) == 0) continue;
    if (invert_block(g_inverse, k, CORR(k), pivot_tolerance) < CORR(k))
      rt::stop_framed(rt::fixed_line()
                          .A("FATAL ERROR: MATRIX G(", 23)
                          .I(k, 1)
                          .A(") IS NOT POSITIVE DEFINITE.", 27));
  }
}

}  // namespace num

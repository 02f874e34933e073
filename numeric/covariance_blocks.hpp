// Inverses of the (co)variance blocks that both programs take: the starting blocks G0 when the
// equations are built, the current blocks G before every sampling round. A block that is not
// positive definite ends the run.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// g_inverse := G0, then block k (of order n, the CORR of effect k) inverted in place. Stops
// with "FATAL ERROR: MATRIX G0(k) IS NOT POSITIVE DEFINITE." when a pivot is rejected.
void invert_starting_block(rt::vec3<double>& g_inverse, const rt::vec3<double>& G0,
                           std::int32_t k, std::int32_t n);

// g_inverse := G, then every block k with CORR(k) not 0 inverted in place, k = 1 ..
// n_effects. Stops with "FATAL ERROR: MATRIX G(k) IS NOT POSITIVE DEFINITE." at the first
// block with a rejected pivot.
void invert_current_blocks(rt::vec3<double>& g_inverse, const rt::vec3<double>& G,
                           std::int32_t n_effects, const rt::vec1<std::int32_t>& CORR);

}  // namespace num

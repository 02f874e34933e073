// Where every effect and every (co)variance block lies in the equations, worked out at the
// start of each sampling round of both programs for the single-site sweep.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// Sizes the bookkeeping arrays for n_effects effects (once per run, before the first round).
void size_block_bookkeeping(std::int32_t n_effects, rt::vec1<std::int32_t>& effect_offset,
                            rt::vec1<std::int32_t>& block_start,
                            rt::vec3<std::int32_t>& block_offset,
                            rt::vec3<double>& block_ginv_row);

// effect_offset(e): equations before effect e, effect_offset(n_effects + 1) all of them.
// block_start(k): first effect of the block of CORR(b) effects that holds effect k, 0 when k
// is in none. For k in block b and member c: block_offset(k, c, 1) = effect_offset(k),
// block_offset(k, c, 2) = effect_offset(b + c - 1), block_ginv_row(k, c, 1) =
// g_inverse(b, k - b + 1, c). A block of order above 2 or one that runs past the last effect
// stops the run ("BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION").
void build_block_bookkeeping(std::int32_t n_effects, const rt::vec1<std::int32_t>& remaining_levels,
                             const rt::vec1<std::int32_t>& CORR, const rt::vec3<double>& g_inverse,
                             rt::vec1<std::int32_t>& effect_offset,
                             rt::vec1<std::int32_t>& block_start,
                             rt::vec3<std::int32_t>& block_offset,
                             rt::vec3<double>& block_ginv_row);

}  // namespace num

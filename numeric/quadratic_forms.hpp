// Quadratic forms of the sampled effects that the variance draws of both programs take: for a
// (co)variance block, u_a' u_b over the plain levels of an independent effect, or u_a' A u_b
// over the relationship store A of a pedigree effect.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"

namespace num {

// QFORM(j, a, b) for every pair of members a <= b of the block of order corr (1 or 2) that
// starts at effect j. Member a's values are sample(effect_offset(j + a - 1) + l), l = 1 .. len.
// typo 1: the plain product, QFORM(j, a, b) only. typo 2: the form over A (finished,
// upper triangle held; A.order values per member), stored at (a, b) and (b, a); a 2 x 2 block
// takes its three forms in one pass over A, each summed in the same order as on its own.
// The caller has checked the block's order and that every member's slice lies in sample.
void block_quadratic_forms(rt::vec3<double>& QFORM, std::int32_t j, std::int32_t typo,
                           std::int32_t corr, std::int32_t len, const rt::vec1<double>& sample,
                           const rt::vec1<std::int32_t>& effect_offset, const sparse_store& A);

}  // namespace num

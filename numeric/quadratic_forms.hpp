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
// First the block is checked: an order above 2 or a block past effect n_effects stops with
// "BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION"; a pedigree effect whose len is not
// A.order, or a member's slice past equation n_equations, with "INCOMPATIBLE DIMENSIONS FOR
// THE BILINEARFORM COMPUTATION". The caller has checked typo. pairs, when given for a 2 x 2
// pedigree block, holds the same values as sample laid out in pairs (member 1's u(i) at
// pairs[2 i - 2], member 2's at pairs[2 i - 1]); the forms then read them from there.
void block_quadratic_forms(rt::vec3<double>& QFORM, std::int32_t j, std::int32_t typo,
                           std::int32_t corr, std::int32_t n_effects, std::int32_t len,
                           std::int32_t n_equations, const rt::vec1<double>& sample,
                           const rt::vec1<std::int32_t>& effect_offset, const sparse_store& A,
                           const double* pairs = nullptr);

// Ends the run on a variance draw of effect j that is not a finite positive number.
[[noreturn]] void stop_variance_not_finite(std::int32_t j);

// The variance of the independent random effect j (a block of order 1): a scaled inverse
// chi-square draw with len + prior_df degrees of freedom and scale (prior_df + 2) G0(j, 1, 1)
// + QFORM(j, 1, 1), into G(j, 1, 1); a draw that is not a finite positive number stops the run.
void draw_single_variance(rt::vec3<double>& G, const rt::vec3<double>& G0,
                          const rt::vec3<double>& QFORM, std::int32_t j, std::int32_t len,
                          double prior_df, std::int32_t& seed);

}  // namespace num

// A second home for the sample during the single-site sweep, laid out for the reads of the
// relationship terms: the two members of a 2 x 2 block of pedigree effects, each with a
// level per pedigree member, lie side by side level by level. A relationship entry reads both
// members' values of one member, and with the pairs side by side that is one cache line where
// the equation order has two far apart. Only where the values lie changes, never which values
// are read or the order of the sums, so the draws are the same to the last bit.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"

namespace num {

struct sample_layout {
  bool active = false;               // false: the sweep reads the sample in equation order,
                                     //   and the arrays below are empty
  rt::vec1<std::int32_t> place;      // n_equations: where equation i lies in value
  rt::vec1<std::int32_t> pair_first; // n_effects: places before the pairs of effect e's block,
                                     //   -1 when that block is not laid out in pairs
  rt::vec1<std::int32_t> column;     // one per entry of the sweep's store: place of its column
  rt::vec1<double> value;            // the sample; a pair starts at an even 0-based index
};

// Lays out the sample for a system of n_equations equations and n_effects effects (effect
// offsets and blocks as build_block_bookkeeping left them). A block is laid out in pairs when
// it has two members, both pedigree effects (TYPO 2) with pedigree_order levels each. The
// layout stays inactive when no block pairs or n_equations is below min_equations. store is
// the finished store the sweep walks (every column in 1 .. n_equations); its columns are
// mapped once here.
void build_sample_layout(sample_layout& L, std::int32_t min_equations, std::int32_t n_effects,
                         std::int32_t n_equations, const rt::vec1<std::int32_t>& TYPO,
                         const rt::vec1<std::int32_t>& CORR,
                         const rt::vec1<std::int32_t>& remaining_levels,
                         const rt::vec1<std::int32_t>& block_start,
                         const rt::vec1<std::int32_t>& effect_offset, std::int32_t pedigree_order,
                         const sparse_store& store);

// Copies the sample into the layout (once per sweep: the sweep keeps both in step after it).
inline void fill_sample_layout(sample_layout& L, const rt::vec1<double>& sample,
                               std::int32_t n_equations) {
  double* const y = L.value.data() - 1;
  const std::int32_t* const place = L.place.data() - 1;
  const double* const x = sample.data() - 1;
  for (std::int32_t i = 1; i <= n_equations; ++i) y[place[i]] = x[i];
}

}  // namespace num

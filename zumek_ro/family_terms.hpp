// The data terms that one family block adds to the mixed-model equations.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "zumek_ro/run_state.hpp"

namespace ro {

// Adds the upper triangle (row <= column) of W' RINV W to store (linked form) and W' RINV y
// to rhs, W being the block's coded records (equation, coefficient) and y its observations.
// The weights are the block's own: RINV for an ordinary family; for the rest group only its
// diagonal rest_rinv_diag, its records not crossed with each other. Every product goes
// through SBSIJ, zero ones included, in the order effect, record, effect, record; status
// 701 or 702 ends the run after SBSIJ's message. Used by the assembly and by the rounds.
void add_family_block_terms(const family_block& b, std::int32_t n_effects,
                            num::sparse_store& store, rt::vec1<double>& rhs, std::int32_t& IER);

}  // namespace ro

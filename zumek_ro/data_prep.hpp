// The data step of zumek_ro (inside STEP 1) and the link rule of its family blocks.
#pragma once

#include <cstdint>

#include "zumek_ro/run_state.hpp"

namespace ro {

// Reads the NRDF records of "dat.txt" (unit 1; n_effects + 1 values each, a progress line
// every 1000 records), groups them into maternal families on values 1 (head code),
// n_effects - 1 (animal_id) and n_effects (dam_id), writes "DAT1.sal" (unit 21) family by
// family with drop_last_level applied, sets n_families and creates the family blocks with
// their arrays zeroed. Both files are closed on return.
void prepare_data(run_state& s);

// Finds the linked pairs of a block from its record_value: (l, m) with l < m is linked when
// the dam_id (value n_effects) of record m equals the animal_id (value n_effects - 1) of
// record l exactly; the opposite order links nothing. Fills n_links, link_first,
// link_second, link_row_start, link_partner and link_partner_pair, and for the rest group
// sizes rest_residual_link and rest_rinv_link (zeroed). Linear in the records plus the pairs.
void find_linked_pairs(family_block& b, std::int32_t n_effects);

}  // namespace ro

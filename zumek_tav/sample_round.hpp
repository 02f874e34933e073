// One round of the Gibbs sampler of zumek_tav: chain line, location effects, p_PAR, variances.
#pragma once

#include <cstdint>

namespace tav {

struct run_state;

// Runs round ROUND: writes the values in force as one chain line, fills the coarse grid, draws
// every location effect one equation at a time, draws current_p_par on the grids, then R and
// the (co)variance blocks into G. The work arrays are sized on the first call.
void sample_round(run_state& s, std::int32_t ROUND);

// The stages, in the order the round runs them (exposed for the tests).
void size_round_work(run_state& s);
void write_chain_record(run_state& s);
void fill_coarse_grid(run_state& s);
void build_block_bookkeeping(run_state& s);
void sweep_location_effects(run_state& s);
void draw_variances(run_state& s, std::int32_t ROUND);

}  // namespace tav

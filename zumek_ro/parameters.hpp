// The run parameters of zumek_ro: the 57-line "param.txt".
#pragma once

#include "zumek_ro/run_state.hpp"

namespace ro {

// Reads "param.txt" (unit 37) at its fixed line positions into s, allocates the per-effect
// arrays, G, g_inverse, G0 and grid, and derives fine_grid_centre and coarse_grid_step.
// Values that would make a size, an index or the random generator go wrong stop the run.
void read_parameters(run_state& s);

}  // namespace ro

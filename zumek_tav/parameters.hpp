// The run parameters of zumek_tav: "param.txt" read at fixed line positions.
#pragma once

#include "zumek_tav/run_state.hpp"

namespace tav {

// Reads "param.txt" (unit 37, 59 lines), allocates the per-effect arrays, the (co)variance
// arrays and the grid, and derives the grid centre and the coarse step. Stops the run on an
// even number of grid points and on counts, seeds or correlation settings that cannot work.
void read_parameters(run_state& s);

}  // namespace tav

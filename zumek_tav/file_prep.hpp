// The data step of zumek_tav: maternal families and "DAT1.sal".
#pragma once

#include "zumek_tav/run_state.hpp"

namespace tav {

// Reads the NRDF records of "dat.txt" (unit 1), groups them into maternal families, writes
// them family by family to "DAT1.sal" (unit 21) with a running record number, and creates
// the family blocks with their dam_link_matrix read back from "DAT1.sal". Sets n_families.
// Leaves "DAT1.sal" open for reading on s.dat1_file (unit 21), at its start.
void FILE_PREP(run_state& s);

}  // namespace tav

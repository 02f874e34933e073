// The steps of a zumek_ro run after the parameter file, in the order main() calls them.
#pragma once

#include "zumek_ro/run_state.hpp"

namespace ro {

// STEP 1: the equation store, AMAT, the data step and the work files; ends with the
// equation and block counts.
void initialize_run(run_state& s);

// STEP 2: every family block read back from "DAT1.sal", coded, its residual covariance
// S2E0 (I + p_PAR x links) and the inverse built, its terms added to equation_store and rhs.
void add_data_contributions(run_state& s);

// STEP 3: the prior terms of the random effects (independent levels, pedigree).
void add_random_effect_terms(run_state& s);

// STEP 4: empty equations dropped, stores finished.
void drop_empty_equations(run_state& s);

// STEP 5: one ordering and one solution of the equations at the starting values.
void solve_equations(run_state& s);

// STEP 6: the sampling rounds.
void run_sampling(run_state& s);

// The output step: "SOLUTIONS.txt"; ends the run.
[[noreturn]] void write_solutions_file(run_state& s);

}  // namespace ro

// The numbered steps of a zumek_tav run, in the order main runs them. Each step writes its
// own console lines (titles, progress, closing lines) and stops the run on its failures.
#pragma once

#include "zumek_tav/run_state.hpp"

namespace tav {

// STEP 1: checks the model's level counts, allocates the run's arrays and stores, forms the
// maternal families ("DAT1.sal"), opens "DAT1.sal" for reading and the chain file for writing.
void initialize_run(run_state& s);

// The level counts that the assembly relies on: NLEV not negative with a sum that fits, one
// level per record for a TYPO-3 effect, at least n_pedigree levels for every effect of a
// pedigree block. Stops the run with a message naming the effect otherwise.
void check_model_levels(const run_state& s);

// STEP 2: the data contributions of every "DAT1.sal" record to equation_store, WW, rhs and
// data_rhs.
void add_data_contributions(run_state& s);

// STEP 3: the prior terms of the random effects (independent levels, pedigree, families).
void add_random_effect_terms(run_state& s);

// STEP 4: finds the empty equations, finishes the stores and removes those equations.
void drop_empty_equations(run_state& s);

// STEP 5: orders the equations and solves them once; the solution starts the chain.
void solve_equations(run_state& s);

// STEP 6: the sampling rounds, each after inverting the current G block by block.
void run_sampling(run_state& s);

// STEP 7: the solutions file "ZUMEK TEST - SOLS.txt", then the normal end of the run.
[[noreturn]] void write_solutions_file(run_state& s);

}  // namespace tav

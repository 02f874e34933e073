// One round of the Gibbs sampler of zumek_ro: chain line, rebuild of the data part of the
// equations at current_p_par, draw of current_s2e0, the location effects, p_PAR and the
// random-effect (co)variances.
#pragma once

#include <cstdint>

#include "runtime/prefetch.hpp"
#include "zumek_ro/run_state.hpp"

namespace ro {

// Runs round ROUND (1 .. n_rounds; round 1 also renumbers the family equations by shift).
// Needs the state the main program leaves before the rounds: remaining_levels, shift,
// n_equations after the drop, AMAT finished, the family blocks filled by the assembly, sample,
// G, g_inverse (the inverse of G, block by block), current_s2e0, current_p_par and an open
// chain_file. The work arrays are sized on the first call and kept for the run.
void sample_round(run_state& s, std::int32_t ROUND);

// The stages, in the order the round runs them (exposed for the tests).
void size_round_work(run_state& s);
void write_chain_record(run_state& s);
void fill_coarse_grid(run_state& s);
// Family matrices at current_p_par, residuals, residual_ss, data_store and round_rhs; round 1
// renumbers the equations first. The first call (and every round 1) builds the store through
// SBSIJ and records the slots; later calls replay them. literal forces the SBSIJ path.
void rebuild_data_part(run_state& s, std::int32_t ROUND, bool literal = false);
void draw_residual_variance(run_state& s);
void build_block_bookkeeping(run_state& s);
void sweep_location_effects(run_state& s);
void draw_p_par(run_state& s, std::int32_t ROUND);        // grid_draw.cpp
void draw_variances(run_state& s, std::int32_t ROUND);    // variance_draws.cpp

// How many families ahead the passes over the families ask for a family's arrays.
constexpr std::int32_t family_prefetch_distance = 4;

// Asks for what a pass over family block b reads first: its observations, residuals, equations
// and coefficients. Each block's arrays lie on their own in memory; at a large size a pass
// over the families would otherwise wait on them block after block. Only the first elements
// are asked for: a family's tables are that short, and a long block (the rest group) is read
// front to back, which the processor fetches ahead by itself.
inline void prefetch_family(const family_block& b) {
  rt::prefetch_read(b.residual.data());
  rt::prefetch_read(b.observation.data());
  const std::int64_t n = b.equation.d.size() < 64 ? b.equation.d.size() : 64;
  for (std::int64_t k = 0; k < n; k += 16) rt::prefetch_read(b.equation.d.data() + k);
  for (std::int64_t k = 0; k < n; k += 8) rt::prefetch_read(b.coefficient.d.data() + k);
}

// How many families ahead a pass asks for the elements of the vectors that a family's equations
// reach (its arrays, asked for family_prefetch_distance families ahead, are in cache by then).
constexpr std::int32_t family_equations_distance = 2;

// Asks for the elements of sample, and of rhs unless null, at the equations of block b (both
// 1-based with n elements; equations outside them are skipped). A family's records reach them at
// places spread over the whole of vectors that, on big data, are far larger than the cache. For
// the families of a few records only: it runs over all of the block's equations.
inline void prefetch_family_equations(const family_block& b, const double* sample, double* rhs,
                                      std::int64_t n) {
  const std::int32_t* const equation = b.equation.d.data();
  const std::int64_t m = b.equation.d.size();
  for (std::int64_t k = 0; k < m; ++k) {
    const std::int32_t q = equation[k];
    if (q <= 0 || q > n) continue;
    rt::prefetch_read(sample + (q - 1));
    if (rhs) rt::prefetch_write(rhs + (q - 1));
  }
}

}  // namespace ro

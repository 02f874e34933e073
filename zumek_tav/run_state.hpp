// Everything zumek_tav keeps for the whole run: one plain struct created by main and handed
// by reference to every step. Sections follow the steps that allocate or fill the fields.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/round_work.hpp"

namespace tav {

// One maternal family. An ordinary family keeps n_records x n_records matrices stored by
// columns (leading dimension n_records; see dense()). The rest group (the last family) may
// hold most records of a data set, and only its diagonal is ever used (its links are all
// zero and its RINV is the unit diagonal), so each of its three matrices keeps just the
// diagonal: element (i, i) is m(i). diagonal_only tells the two forms apart.
struct family_block {
  std::int32_t n_records = 0;
  rt::vec1<double> dam_link_matrix;  // 1.0 at (a, b) and (b, a): animal_id of a = dam_id of b, a < b
  rt::vec1<double> residual_matrix;  // I + p_PAR x dam_link_matrix (assembly, rounds)
  rt::vec1<double> RINV;             // inverse of residual_matrix (assembly, rounds)
  std::int32_t diagonal_only = 0;    // 1 for the rest group
};

// Column-major view of an ordinary family's matrix.
inline rt::col_view dense(rt::vec1<double>& m, std::int32_t n_records) {
  return rt::col_view{m.data(), n_records};
}

// WW: the data part of the equations (both triangles), a store with its own copies of the
// equation flags of the drop of empty equations and the slot through which values pass.
struct data_store : num::sparse_store {
  rt::vec1<std::int32_t> dropped;  // order
  rt::vec1<std::int32_t> shift;    // order
  double entry_value = 0.0;
};

struct run_state {
  // ---------------------------------------------------------------- parameters (param.txt)
  std::int32_t seed = 0;
  std::int32_t n_rounds = 0;
  std::int32_t NZ = 0;          // slots of equation_store and WW; GMAT gets INT(0.2 x NZ)
  std::int32_t n_pedigree = 0;
  std::int32_t NRDF = 0;        // records of dat.txt
  std::int32_t n_effects = 0;   // values of a dat.txt line; extent of the per-effect arrays

  rt::vec1<std::int32_t> NEST, NLEV, TYPO, fixed_effect_type, CORR, drop_last_level;
  rt::vec1<std::int32_t> remaining_levels;  // allocated by the reader, filled at the drop of empty equations

  double S2E0 = 0.0;   // starting residual variance, fixed divisor of the data terms
  double p_PAR = 0.0;  // starting within-family correlation

  rt::vec3<double> G, g_inverse, G0, g_draw_inverse;  // (n_effects, 2, 2)

  double residual_prior_df = 0.0;
  double type1_prior_df = 0.0;
  double type2_prior_df = 0.0;
  double type2_prior_df_second = 0.0;

  std::int32_t n_grid_points = 0;  // odd, 3 or more
  double coarse_grid_start = 0.0;
  double coarse_grid_end = 0.0;
  double fine_grid_step = 0.0;
  std::int32_t fine_grid_centre = 0;  // (n_grid_points + 1) / 2
  double coarse_grid_step = 0.0;      // (coarse_grid_end - coarse_grid_start) / (n_grid_points - 1)
  rt::vec1<double> grid;              // n_grid_points, filled by the rounds

  bool write_solutions = true;

  // ---------------------------------------------------------------- maternal families (FILE_PREP)
  std::int32_t n_families = 0;             // the rest group included: it is family n_families
  rt::vec1<tav::family_block> family_block;  // n_families, in family order

  // ---------------------------------------------------------------- main program and assembly
  std::int32_t n_equations = 0;  // sum of NLEV, lowered when empty equations are dropped
  std::int32_t ROUND = 0;
  std::int32_t IER = 0;          // status of every SBSIJ call
  std::int32_t solver_stages = 0;
  std::int64_t work_size = 0;      // 64-bit: 3 n + 6 nnz overflows 32 bits on large models
  std::int64_t FLAG = 0;
  std::int64_t spare_storage = 0;
  double current_p_par = 0.0;    // p_PAR in force; replaced by every round

  rt::vec1<double> rhs;                 // n_equations
  rt::vec1<double> record_value;        // n_effects: values of the record being assembled
  rt::vec1<std::int32_t> equation;      // n_effects (one trait): equation of each effect, 0 absent
  num::sparse_store equation_store;     // order n_equations, capacity NZ, upper triangle
  rt::vec1<std::int32_t> dropped;       // n_equations: 1 for an empty equation
  rt::vec1<std::int32_t> shift;         // n_equations: empty equations up to this one
  rt::vec1<double> solution;            // n_equations
  rt::vec1<double> data_rhs;            // n_equations: data part of rhs
  rt::vec1<std::int32_t> in_model;      // n_effects (one trait): 1 = true
  rt::vec1<double> coefficient;         // n_effects (one trait)

  data_store WW;                        // order n_equations, capacity NZ
  num::sparse_store GMAT;               // order n_pedigree, capacity INT(0.2 x NZ)

  rt::vec1<std::int32_t> permutation;          // n_equations after the drop
  rt::vec1<std::int32_t> inverse_permutation;  // n_equations after the drop
  rt::vec1<std::int32_t> int_work;             // work_size
  rt::vec1<double> real_work;                  // work_size
  rt::vec1<double> sample;                     // n_equations after the drop: current location effects

  rt::text_in dat1_file;     // "DAT1.sal", unit 21, read by the assembly
  rt::text_out chain_file;   // "CVC_CHAIN.txt", unit 25, one line per round

  // ---------------------------------------------------------------- sampling round
  // Work arrays kept between rounds and the prior scales set in round 1.
  round_work round;  // sized on the first round, reused by every later one
};

}  // namespace tav

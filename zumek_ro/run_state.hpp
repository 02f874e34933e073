// Everything zumek_ro keeps for a whole run: parameters, per-effect arrays, family blocks,
// equation stores, the sample and the work space of the sampling rounds. main() creates one
// run_state and hands it by reference to every step; nothing else holds run data.
#pragma once

#include <cstdint>
#include <vector>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "runtime/text_io.hpp"

namespace ro {

// A two-index array stored by columns, indexed from 1: a(i, j) with i fastest. Used for the
// per-record tables of a family block (effect, record) and its dense n x n matrices.
template <class T>
struct table {
  std::int64_t rows = 0, cols = 0;
  rt::vec1<T> d;

  // Sizes the table and sets every element to v.
  void assign(std::int64_t n_rows, std::int64_t n_cols, T v = T{}) {
    rows = n_rows > 0 ? n_rows : 0;
    cols = n_cols > 0 ? n_cols : 0;
    d.assign(rows * cols, v);
  }
  // Sizes the table with every element zero (vec1::assign_zeros: fresh storage is not written).
  void assign_zeros(std::int64_t n_rows, std::int64_t n_cols) {
    rows = n_rows > 0 ? n_rows : 0;
    cols = n_cols > 0 ? n_cols : 0;
    d.assign_zeros(rows * cols);
  }
  T& operator()(std::int64_t i, std::int64_t j) {
    RT_CHECK_INDEX("table row", i, rows);
    RT_CHECK_INDEX("table column", j, cols);
    return d((i - 1) + rows * (j - 1) + 1);
  }
  const T& operator()(std::int64_t i, std::int64_t j) const {
    RT_CHECK_INDEX("table row", i, rows);
    RT_CHECK_INDEX("table column", j, cols);
    return d((i - 1) + rows * (j - 1) + 1);
  }
  T* data() { return d.data(); }   // element (1, 1); a column-major block with leading dimension rows
  const T* data() const { return d.data(); }
};

// One maternal family, or the rest group (the last block), with n = n_records records in
// "DAT1.sal" order.
//
// Ordinary families hold dense n x n `residual_matrix` and `RINV`. The rest group can hold
// most records of a data set, so it never gets dense matrices: its residual covariance is the
// identity (times a variance) plus the few linked pairs, and its `RINV` is either the inverse
// of the diagonal (the assembly) or a copy of the residual matrix (the rounds). For it the
// dense tables stay empty and the rest_* fields below hold the diagonal and the pair values.
struct family_block {
  std::int32_t n_records = 0;
  char is_rest_group = 0;               // 1 for the last block

  table<std::int32_t> equation;         // (n_effects, n): equation of effect k of record r, 0 = absent
  rt::vec1<double> observation;         // (n)
  rt::vec1<double> residual;            // (n), every round
  table<double> record_value;           // (n_effects, n): values as read back from "DAT1.sal"
  table<double> coefficient;            // (n_effects, n)
  table<double> residual_matrix;        // (n, n), ordinary families only
  table<double> RINV;                   // (n, n), ordinary families only

  // Linked pairs (l, m), l < m, where the dam identifier of record m equals the animal
  // identifier of record l; filled by find_linked_pairs once the records are read back.
  // Sorted by l, then m: the order in which a row-by-row scan of the upper triangle meets them.
  std::int32_t n_links = 0;
  rt::vec1<std::int32_t> link_first;    // (n_links): l
  rt::vec1<std::int32_t> link_second;   // (n_links): m
  // The same pairs seen from each record, for sums taken row by row over a full matrix:
  // record r's partners are link_partner(link_row_start(r) .. link_row_start(r + 1) - 1),
  // ascending, and link_partner_pair gives the pair number (1 .. n_links) of each.
  rt::vec1<std::int32_t> link_row_start;     // (n + 1)
  rt::vec1<std::int32_t> link_partner;       // (2 n_links)
  rt::vec1<std::int32_t> link_partner_pair;  // (2 n_links)

  // Rest group only: element (l, l) of its residual matrix and of its RINV, and element
  // (l, m) = (m, l) of both at each linked pair. Every other element is 0.
  rt::vec1<double> rest_residual_diag;  // (n)
  rt::vec1<double> rest_rinv_diag;      // (n)
  rt::vec1<double> rest_residual_link;  // (n_links)
  rt::vec1<double> rest_rinv_link;      // (n_links)
};

struct run_state {
  // ------------------------------------------------ parameters ("param.txt", read_parameters)
  std::int32_t seed = 0;
  std::int32_t n_rounds = 0;
  std::int32_t NZ = 0;                  // slots of equation_store and of the round's data_store
  std::int32_t n_pedigree = 0;
  std::int32_t NRDF = 0;
  std::int32_t n_effects = 0;

  rt::vec1<std::int32_t> NEST;
  rt::vec1<std::int32_t> NLEV;
  rt::vec1<std::int32_t> TYPO;
  rt::vec1<std::int32_t> fixed_effect_type;
  rt::vec1<std::int32_t> CORR;
  rt::vec1<std::int32_t> drop_last_level;
  rt::vec1<std::int32_t> remaining_levels;   // allocated by the reader, filled in STEP 4

  double S2E0 = 0.0;
  double p_PAR = 0.0;
  rt::vec3<double> G;                   // (n_effects, 2, 2) current sample
  rt::vec3<double> g_inverse;           // (n_effects, 2, 2)
  rt::vec3<double> G0;                  // (n_effects, 2, 2) starting values and prior modes

  double residual_prior_df = 0.0;
  double type1_prior_df = 0.0;
  double type2_prior_df = 0.0;

  std::int32_t n_grid_points = 0;
  double coarse_grid_start = 0.0;
  double coarse_grid_end = 0.0;
  double fine_grid_step = 0.0;
  std::int32_t fine_grid_centre = 0;
  double coarse_grid_step = 0.0;
  rt::vec1<double> grid;                // (n_grid_points): coarse grid, then fine grid, each round

  bool write_solutions = false;

  // ------------------------------------------------ data step (prepare_data)
  std::int32_t n_families = 0;          // the rest group included
  std::vector<family_block> family;     // family[f - 1] is block f; block n_families is the rest group

  // ------------------------------------------------ main program
  std::int32_t n_equations = 0;
  std::int32_t ROUND = 0;
  std::int32_t IER = 0;
  std::int32_t solver_stages = 0;
  std::int64_t work_size = 0;           // solver work cells, 64-bit: 3 n + 6 nnz can pass 2^31
  std::int64_t FLAG = 0;
  std::int64_t spare_storage = 0;
  double current_s2e0 = 0.0;
  double current_p_par = 0.0;

  rt::vec1<double> rhs;                 // (n_equations)
  num::sparse_store equation_store;     // order n_equations, NZ slots; STEP 2 to STEP 5
  rt::vec1<std::int32_t> dropped;       // (n_equations) 1 = empty equation removed in STEP 4
  rt::vec1<std::int32_t> shift;         // (n_equations) empty equations up to and including e
  rt::vec1<double> solution;            // (n_equations)
  num::sparse_store AMAT;               // relationship_inverse: order n_pedigree, INT(0.1 x NZ) slots

  rt::vec1<std::int32_t> permutation;          // STEP 5
  rt::vec1<std::int32_t> inverse_permutation;
  rt::vec1<std::int32_t> int_work;             // (work_size)
  rt::vec1<double> real_work;                  // (work_size)
  rt::vec1<double> sample;                     // (n_equations after STEP 4), STEP 6

  rt::text_in dat1;                     // "DAT1.sal", unit 21
  rt::text_out chain_file;              // "CVC-CHAIN.txt", unit 25

  // ------------------------------------------------ sampling round work space
  // Sized once before the first round and reused, so that a round allocates nothing.
  rt::vec3<double> QFORM;               // (n_effects, 2, 2)
  rt::vec1<double> log_likelihood;      // (n_grid_points)
  rt::vec1<double> log_det_sum;         // (n_grid_points)
  rt::vec1<double> family_log_det;      // (n_grid_points)
  rt::vec1<double> CDF;                 // (n_grid_points)
  rt::vec1<std::int32_t> block_start;   // (n_effects)
  rt::vec3<std::int32_t> block_offset;  // (n_effects, 2, 2)
  rt::vec3<double> block_ginv_row;      // (n_effects, 2, 1)
  rt::vec1<double> work_rhs;            // (n_equations)
  rt::vec1<double> lower_sum;           // (n_equations)
  num::sparse_store data_store;         // order n_equations, NZ slots, rebuilt every round
  bool data_store_empty = false;        // data_store is as sparse_create left it, unfilled
  rt::vec1<double> round_rhs;           // (n_equations)
  double residual_ss = 0.0;
  rt::vec1<double> packed_factor;       // (3): packed lower Cholesky factor of a 2 x 2 scale
  rt::vec1<double> packed_draw;         // (3): packed Wishart draw
  rt::vec3<double> NEWG;                // (n_effects, 2, 2) a new block before it is accepted
  rt::vec1<std::int32_t> effect_offset; // (n_effects + 1): equations before effect e
  bool round_work_sized = false;        // the arrays above are sized once, on the first round

  // Replay of the data-store rebuild. The rebuild adds the same positions in the same order
  // every round; the first rebuild goes through SBSIJ and sparse_finish and records, for each
  // term t in that order, the slot of the finished store it lands in: term_slot(t) = -k when
  // the term is the first at slot k (it sets the value), +k when it adds to it. Later rounds
  // keep the finished structure and only replay the values.
  std::int64_t n_terms = 0;
  rt::vec1<std::int32_t> term_slot;     // (n_terms or more; sized from a count of the terms)
  bool terms_recorded = false;
  bool equations_renumbered = false;    // round 1 has renumbered the blocks' equations
  // The same terms compiled for the later rounds, once the recording round has placed them:
  // in the order of the slots they land in (within a slot, in their own order), the product of
  // the term's two coefficients and the place (from 1) of its weight in rinv_flat, minus that
  // place for the first term at a slot, which starts the next slot. rinv_flat holds, every
  // round, the classes' shared inverses (class_rinv as it stands), then the RINV of each family
  // inverted on its own, then the rest group's rest_rinv_diag; family_rinv_offset(f) is where
  // block f's weights start in it (from 0). Without the memory for it, the rounds replay
  // term_slot instead, as they also do when replay_by_slots is set: always in the comparison
  // build, whose files the tests compare with the program's.
  bool terms_compiled = false;
#ifdef ZUMEK_LITERAL_ROUNDS
  bool replay_by_slots = true;
#else
  bool replay_by_slots = false;
#endif
  rt::vec1<double> term_factor;              // (n_terms)
  rt::vec1<std::int32_t> term_source;        // (n_terms)
  rt::vec1<std::int64_t> family_rinv_offset; // (n_families)
  rt::vec1<double> rinv_flat;

  // Shared inverses of families with equal residual structure (family_classes.hpp), formed on
  // the first round. family_class(f) is the class of block f, 0 when block f is inverted on its
  // own. Class c's n x n matrices start at class_start(c) in class_rinv (at current_p_par) and,
  // one per grid point g, at class_start(c) x n_grid_points + (g - 1) n n in class_grid_rinv.
  std::int32_t n_classes = 0;
  rt::vec1<std::int32_t> family_class;       // (n_families)
  rt::vec1<std::int32_t> class_family;       // (n_classes): the first family of the class
  rt::vec1<std::int64_t> class_start;        // (n_classes + 1)
  rt::vec1<double> class_rinv;
  rt::vec1<double> class_grid_rinv;
  rt::vec1<double> class_grid_log_det;       // (n_classes x n_grid_points): (c - 1) ng + g
  rt::vec1<std::int32_t> class_grid_fail;    // (n_classes): first grid point of rank < n, or 0
};

}  // namespace ro

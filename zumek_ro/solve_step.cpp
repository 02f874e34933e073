// STEP 4 and STEP 5: the empty equations dropped, the equations ordered and solved once.
#include <cstdint>
#include <utility>

#include "numeric/equation_reduction.hpp"
#include "numeric/solve_equations.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/steps.hpp"

namespace ro {

void drop_empty_equations(run_state& s) {
  rt::text_out& con = rt::console();
  rt::write(con, {"***"});
  rt::write(con, {"STEP 4. BUILDING FINAL DATA STRUCTURE."});
  rt::write(con, {});

  const std::int32_t c = num::flag_empty_equations(
      s.n_effects, s.NLEV, s.equation_store.row_start, s.remaining_levels, s.dropped, s.shift);

  num::sparse_finish(s.equation_store);
  num::sparse_finish(s.AMAT);
  s.AMAT.link.release();   // the finished store never reads the links of its linked form

  if (c > 0) {
    rt::write(con, {});
    rt::write(con, {"ZERO ROWS FOUND. COLLAPSING THE SYSTEM..."});
    num::drop_flagged_equations(s.n_equations, s.equation_store.row_start,
                                s.equation_store.column, s.rhs, s.dropped, s.shift);
    rt::write(con, {"REMAINING EQUATIONS:", s.n_equations});
  }

  num::report_final_structure(s.n_effects, s.remaining_levels, s.n_equations, s.equation_store);
}

namespace {

// The rounds read neither the mixed-model equations nor the solver's order and work space:
// give their memory back once the solution stands, before the rounds size their own arrays.
// The per-round data_store gets fresh arrays of its own: the equation store's would have to
// be cleared in full, while fresh ones bring into memory only the slots the rounds fill.
void release_solver_arrays(run_state& s) {
  num::release_solver_work(s.permutation, s.inverse_permutation, s.int_work, s.real_work);
  s.equation_store.column.release();
  s.equation_store.value.release();
  s.equation_store.link.release();
}

}  // namespace

void solve_equations(run_state& s) {
  num::solve_equations(s.n_equations, s.equation_store, s.rhs, s.solution, s.work_size,
                       s.permutation, s.inverse_permutation, s.int_work, s.real_work,
                       s.spare_storage, s.solver_stages, s.FLAG);
  release_solver_arrays(s);

  rt::text_out& con = rt::console();
  rt::write(con, {"***"});
  rt::write(con, {"STEP 6. SAMPLING."});
  rt::write(con, {});
}

}  // namespace ro

// STEP 4 and STEP 5: the empty equations dropped, the equations ordered and solved once.
#include <cstdint>

#include "numeric/equation_reduction.hpp"
#include "numeric/solve_equations.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/steps.hpp"

namespace tav {

void drop_empty_equations(run_state& s) {
  rt::text_out& con = rt::console();
  rt::write(con, {});
  rt::write(con, {"***"});
  rt::write(con, {"STEP 4. BUILDING FINAL DATA STRUCTURE."});
  rt::write(con, {});

  // Only equation_store decides which equations are empty; WW and GMAT follow.
  const std::int32_t c = num::flag_empty_equations(
      s.n_effects, s.NLEV, s.equation_store.row_start, s.remaining_levels, s.dropped, s.shift);

  num::sparse_finish(s.equation_store);
  num::sparse_finish(s.WW);
  num::sparse_finish(s.GMAT);
  // The links only chain the entries of the linked form; the finished stores never read them.
  s.equation_store.link.release();
  s.WW.link.release();
  s.GMAT.link.release();

  if (c > 0) {
    rt::write(con, {"ZERO ROWS FOUND. COLLAPSING THE SYSTEM..."});
    num::drop_flagged_equations(s.n_equations, s.equation_store.row_start,
                                s.equation_store.column, s.rhs, s.dropped, s.shift);
    for (std::int64_t i = 1; i <= s.dropped.size(); ++i) {
      s.WW.dropped(i) = s.dropped(i);
      s.WW.shift(i) = s.shift(i);
    }
    num::drop_flagged_equations(s.WW.order, s.WW.row_start, s.WW.column, s.data_rhs,
                                s.WW.dropped, s.WW.shift);
    rt::write(con, {"REMAINING EQUATIONS:", s.n_equations});
  }

  num::report_final_structure(s.n_effects, s.remaining_levels, s.n_equations, s.equation_store);
}

namespace {

// The rounds read neither the mixed-model equations nor the solver's order and work space:
// give their memory back once the solution stands, before the rounds size their own arrays.
void release_solver_arrays(run_state& s) {
  num::release_solver_work(s.permutation, s.inverse_permutation, s.int_work, s.real_work);
  s.equation_store.column.release();
  s.equation_store.value.release();
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

}  // namespace tav

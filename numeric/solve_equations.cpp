// The end of the drop of empty equations and the one solve of the mixed-model equations.
#include "numeric/solve_equations.hpp"

#include <algorithm>
#include <limits>

#include "numeric/phase_times.hpp"
#include "numeric/sparse_solver.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace num {

void report_final_structure(std::int32_t n_effects, const rt::vec1<std::int32_t>& remaining_levels,
                            std::int32_t n_equations, const sparse_store& equations) {
  std::int64_t remaining = 0;
  for (std::int32_t k = 1; k <= n_effects; ++k) remaining += remaining_levels(k);
  if (remaining != n_equations) rt::stop("CHECK NLEV UPDATING", rt::exit_error);

  rt::text_out& con = rt::console();
  rt::write(con, {});
  rt::write(con, {"SETTING THE ACTUAL NUMBER OF NONZERO ENTRIES..."});
  rt::write(con, {"No. NONZERO ENTRIES:", equations.row_start(n_equations + 1) - 1});
  rt::write(con, {});
  rt::write(con, {"***"});
  rt::write(con, {"STEP 5. SOLVING MIXED MODEL EQUATIONS."});
  rt::write(con, {});
}

namespace {

[[noreturn]] void stop_sdrv(std::int64_t FLAG) {
  rt::text_out& con = rt::console();
  rt::write(con, {"ERROR IN SDRV"});
  rt::put(con, rt::fixed_line().A(" FLAG:").I(FLAG, 12));  // the free-form line, 64-bit wide
  rt::stop("", rt::exit_error);
}

// The symbolic stage ran out of room for its column lists (6n + k), or had none at all
// (10n + 1). Both mean only that the work space is too small for this factor.
bool column_lists_short(std::int32_t n, std::int64_t FLAG) {
  const std::int64_t N = n;
  return (FLAG > 6 * N && FLAG <= 7 * N) || (n > 0 && FLAG == 10 * N + 1);
}

// The next work size to try for the symbolic stage: twice the last, at most as many cells
// as 32-bit positions in the column lists can address (the lists begin at cell 3n + 2 and
// the stage keeps two arrays of n cells behind them). Equal to work_size when it cannot grow.
std::int64_t larger_work_size(std::int32_t n, std::int64_t work_size) {
  const std::int64_t N = n;
  const std::int64_t most = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 5 * N + 1;
  const std::int64_t doubled = std::max<std::int64_t>(2 * work_size, 5 * N + 2);
  return std::max(work_size, std::min(doubled, most));
}

}  // namespace

void solve_equations(std::int32_t n, sparse_store& equations, const rt::vec1<double>& rhs,
                     rt::vec1<double>& solution, std::int64_t& work_size,
                     rt::vec1<std::int32_t>& permutation,
                     rt::vec1<std::int32_t>& inverse_permutation,
                     rt::vec1<std::int32_t>& int_work, rt::vec1<double>& real_work,
                     std::int64_t& spare_storage, std::int32_t& solver_stages,
                     std::int64_t& FLAG) {
  sparse_store& a = equations;
  const std::int64_t nnz = std::int64_t{a.row_start(n + 1)} - 1;

  work_size = solver_work_size(n, nnz);
  permutation.assign(n, 0);
  inverse_permutation.assign(n, 0);
  // Zeroed storage from the system where it can be had: the cells the ordering never reaches
  // are then never brought into memory.
  int_work.assign_zeros(std::max<std::int64_t>(work_size, 0));
  real_work.release();   // sized once the symbolic factor is known

  phase_clock clock;
  solver_stages = 2;  // minimum-degree order, then reorder the upper triangle
  ODRV(n, a.row_start, a.column, a.value, permutation, inverse_permutation, work_size, int_work,
       solver_stages, FLAG);
  if (FLAG != 0) {
    rt::write(rt::console(), {"ERROR IN ODRV"});
    rt::stop("", rt::exit_error);
  }
  clock.lap("ordering");

  // The symbolic factor first: the space the numeric factor needs is then known, and the
  // work arrays grow to it when the first estimate is short. Factor and solve follow.
  solver_stages = 4;
  const std::int64_t first_work_size = work_size;
  for (;;) {
    SDRV(n, permutation, inverse_permutation, a.row_start, a.column, a.value, rhs, solution,
         work_size, int_work, real_work, spare_storage, solver_stages, FLAG);
    if (FLAG == 0 || !column_lists_short(n, FLAG)) break;
    const std::int64_t larger = larger_work_size(n, work_size);
    if (larger <= work_size) break;   // the column lists cannot be addressed in more cells
    work_size = larger;
    int_work.release();               // the symbolic stage starts afresh: nothing to keep
    int_work.assign_zeros(work_size);
  }
  if (FLAG != 0) stop_sdrv(FLAG);
  clock.lap("symbolic_factor");
  const factor_sizes sizes = SDRV_sizes(n, int_work);
  if (sizes.work_needed > work_size || work_size != first_work_size) {
    // After a regrown symbolic stage the numeric stage takes just the cells it needs.
    work_size = sizes.work_needed;
    int_work.resize(work_size, 0);   // keeps the symbolic factor
  }
  // Every real cell that the numeric stage and the solve read they have written before (the
  // working row is cleared by the stage itself), and about a third of the cells (those
  // in front of the solve's cells and behind the factor) they never touch: no fill, so that
  // the pages of those are never faulted in and the others only once.
  real_work.resize_for_overwrite(work_size);
  solver_stages = 2;
  SDRV(n, permutation, inverse_permutation, a.row_start, a.column, a.value, rhs, solution,
       work_size, int_work, real_work, spare_storage, solver_stages, FLAG);
  if (FLAG != 0) stop_sdrv(FLAG);
  clock.lap("numeric_factor_and_solve");
  phase_clock::count("factor_entries", sizes.factor_entries);
}

void release_solver_work(rt::vec1<std::int32_t>& permutation,
                         rt::vec1<std::int32_t>& inverse_permutation,
                         rt::vec1<std::int32_t>& int_work, rt::vec1<double>& real_work) {
  int_work.release();
  real_work.release();
  permutation.release();
  inverse_permutation.release();
}

}  // namespace num

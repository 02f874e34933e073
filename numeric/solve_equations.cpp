// The end of the drop of empty equations and the one solve of the mixed-model equations.
#include "numeric/solve_equations.hpp"

#include <algorithm>

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
  int_work.assign(std::max<std::int64_t>(work_size, 0), 0);
  real_work.assign(std::max<std::int64_t>(work_size, 0), 0.0);

  solver_stages = 2;  // minimum-degree order, then reorder the upper triangle
  ODRV(n, a.row_start, a.column, a.value, permutation, inverse_permutation, work_size, int_work,
       solver_stages, FLAG);
  if (FLAG != 0) {
    rt::write(rt::console(), {"ERROR IN ODRV"});
    rt::stop("", rt::exit_error);
  }

  // The symbolic factor first: the space the numeric factor needs is then known, and the
  // work arrays grow to it when the first estimate is short. Factor and solve follow.
  solver_stages = 4;
  SDRV(n, permutation, inverse_permutation, a.row_start, a.column, a.value, rhs, solution,
       work_size, int_work, real_work, spare_storage, solver_stages, FLAG);
  if (FLAG != 0) stop_sdrv(FLAG);
  const factor_sizes sizes = SDRV_sizes(n, int_work);
  if (sizes.work_needed > work_size) {
    work_size = sizes.work_needed;
    int_work.resize(work_size, 0);  // keeps the symbolic factor
    real_work.assign(work_size, 0.0);
  }
  solver_stages = 2;
  SDRV(n, permutation, inverse_permutation, a.row_start, a.column, a.value, rhs, solution,
       work_size, int_work, real_work, spare_storage, solver_stages, FLAG);
  if (FLAG != 0) stop_sdrv(FLAG);
}

}  // namespace num

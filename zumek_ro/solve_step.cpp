// STEP 4 and STEP 5: the empty equations dropped, the equations ordered and solved once.
#include <algorithm>
#include <cstdint>

#include "numeric/equation_reduction.hpp"
#include "numeric/sparse_solver.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/steps.hpp"

namespace ro {

void drop_empty_equations(run_state& s) {
  rt::text_out& con = rt::console();
  rt::write(con, {"***"});
  rt::write(con, {"STEP 4. BUILDING FINAL DATA STRUCTURE."});
  rt::write(con, {});

  // An equation is empty when its row, still linked, received no entry: its head is not
  // positive.
  std::int32_t e = 0;
  std::int32_t c = 0;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) {
    s.remaining_levels(k) = s.NLEV(k);
    for (std::int32_t l = 1; l <= s.NLEV(k); ++l) {
      ++e;
      s.dropped(e) = 0;
      if (s.equation_store.row_start(e) <= 0) {
        s.dropped(e) = 1;
        s.remaining_levels(k) -= 1;
        ++c;
      }
      s.shift(e) = c;  // empty equations among 1 .. e
    }
  }

  num::sparse_finish(s.equation_store);
  num::sparse_finish(s.AMAT);

  if (c > 0) {
    rt::write(con, {});
    rt::write(con, {"ZERO ROWS FOUND. COLLAPSING THE SYSTEM..."});
    num::drop_flagged_equations(s.n_equations, s.equation_store.row_start,
                                s.equation_store.column, s.rhs, s.dropped, s.shift);
    rt::write(con, {"REMAINING EQUATIONS:", s.n_equations});
  }

  std::int64_t remaining = 0;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) remaining += s.remaining_levels(k);
  if (remaining != s.n_equations) rt::stop("CHECK NLEV UPDATING", rt::exit_error);

  rt::write(con, {});
  rt::write(con, {"SETTING THE ACTUAL NUMBER OF NONZERO ENTRIES..."});
  rt::write(con, {"No. NONZERO ENTRIES:", s.equation_store.row_start(s.n_equations + 1) - 1});
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

void solve_equations(run_state& s) {
  const std::int32_t n = s.n_equations;
  num::sparse_store& a = s.equation_store;
  const std::int64_t nnz = std::int64_t{a.row_start(n + 1)} - 1;

  // Three cells per equation and six per stored entry, in 64 bits.
  s.work_size = num::solver_work_size(n, nnz);
  s.permutation.assign(n, 0);
  s.inverse_permutation.assign(n, 0);
  s.int_work.assign(std::max<std::int64_t>(s.work_size, 0), 0);
  s.real_work.assign(std::max<std::int64_t>(s.work_size, 0), 0.0);

  s.solver_stages = 2;  // minimum-degree order, then reorder the upper triangle
  num::ODRV(n, a.row_start, a.column, a.value, s.permutation, s.inverse_permutation, s.work_size,
            s.int_work, s.solver_stages, s.FLAG);
  if (s.FLAG != 0) {
    rt::write(rt::console(), {"ERROR IN ODRV"});
    rt::stop("", rt::exit_error);
  }

  // The symbolic factor first: the space the numeric factor needs is then known, and the
  // work arrays grow to it when the first estimate is short. Factor and solve follow; the
  // result is that of one call doing all three stages.
  s.solver_stages = 4;
  num::SDRV(n, s.permutation, s.inverse_permutation, a.row_start, a.column, a.value, s.rhs,
            s.solution, s.work_size, s.int_work, s.real_work, s.spare_storage, s.solver_stages,
            s.FLAG);
  if (s.FLAG != 0) stop_sdrv(s.FLAG);
  const num::factor_sizes sizes = num::SDRV_sizes(n, s.int_work);
  if (sizes.work_needed > s.work_size) {
    s.work_size = sizes.work_needed;
    s.int_work.resize(s.work_size, 0);  // keeps the symbolic factor
    s.real_work.assign(s.work_size, 0.0);
  }
  s.solver_stages = 2;
  num::SDRV(n, s.permutation, s.inverse_permutation, a.row_start, a.column, a.value, s.rhs,
            s.solution, s.work_size, s.int_work, s.real_work, s.spare_storage, s.solver_stages,
            s.FLAG);
  if (s.FLAG != 0) stop_sdrv(s.FLAG);

  rt::text_out& con = rt::console();
  rt::write(con, {"***"});
  rt::write(con, {"STEP 6. SAMPLING."});
  rt::write(con, {});
}

}  // namespace ro

// STEP 1: the equation store, AMAT, the data step and the work files.
#include <cstdint>
#include <new>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/data_prep.hpp"
#include "zumek_ro/steps.hpp"

namespace ro {

namespace {

// AMAT's vectors are allocated with a status test: probe the whole size first so that a
// store too large for memory gives the AMAT message rather than the out-of-memory line.
void allocate_amat(run_state& s) {
  const std::int32_t order = s.n_pedigree;
  const std::int32_t nz = static_cast<std::int32_t>(0.1 * s.NZ);   // INT(0.1 x NZ)
  const double bytes = 4.0 * (static_cast<double>(order) + 1.0) + 16.0 * static_cast<double>(nz);
  // A request the system grants is not yet memory (the pages come when first written), so
  // the size is held against what the arrays may take together before it is probed.
  if (bytes > static_cast<double>(rt::memory_limit() - rt::memory_held()))
    rt::stop("AMAT ALLOCATION ERROR", rt::exit_error);
  void* p = ::operator new(static_cast<std::size_t>(bytes) + 1, std::nothrow);
  if (p == nullptr) rt::stop("AMAT ALLOCATION ERROR", rt::exit_error);
  ::operator delete(p);
  num::sparse_create(s.AMAT, order, nz);
}

}  // namespace

void initialize_run(run_state& s) {
  std::int64_t n_equations = 0;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) n_equations += s.NLEV(k);
  s.n_equations = static_cast<std::int32_t>(n_equations);   // the reader bounds the sum

  // The equation-length arrays and the equation store come one after another and each is
  // zero-filled as it comes: ask for the whole group first, so that a model too large for
  // memory ends the run before any of it is written. rhs, solution (reals), dropped, shift
  // (integers); the store's row_start and row index (integers) and its NZ slots (column,
  // link: integers; value: real).
  const double n = static_cast<double>(s.n_equations);
  const double nz = static_cast<double>(s.NZ > 0 ? s.NZ : 0);
  rt::require_memory(n * (2.0 * 8.0 + 2.0 * 4.0) + 4.0 * (2.0 * n + 1.0) + 16.0 * nz);

  s.rhs.assign_zeros(s.n_equations);
  num::sparse_create(s.equation_store, s.n_equations, s.NZ);  // empty, linked form
  s.dropped.assign_zeros(s.n_equations);
  s.shift.assign_zeros(s.n_equations);
  s.solution.assign_zeros(s.n_equations);

  allocate_amat(s);

  prepare_data(s);

  rt::open_in(s.dat1, 21, "DAT1.sal");
  rt::open_out(s.chain_file, 25, "CVC-CHAIN.txt");
  rt::text_out& con = rt::console();
  rt::write(con, {});
  rt::write(con, {"NUMBER OF EQUATIONS:", s.n_equations});
  rt::write(con, {"   NUMBER OF BLOCKS:", s.n_families});
  rt::write(con, {});
  rt::write(con, {"***"});
}

}  // namespace ro

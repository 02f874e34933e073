// STEP 1: the run's arrays and stores, the maternal families and the files of the rounds.
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/file_prep.hpp"
#include "zumek_tav/steps.hpp"

namespace tav {

namespace {

[[noreturn]] void stop_on_effect(std::initializer_list<rt::write_item> first,
                                 std::initializer_list<rt::write_item> second) {
  rt::text_out& con = rt::console();
  rt::write(con, {});
  rt::write(con, first);
  rt::write(con, second);
  rt::write(con, {});
  rt::stop("FATAL ERROR: EXECUTION STOPPED", rt::exit_error);
}

// True when bytes can be obtained now: they fit under what all arrays may hold together (a
// request the system grants is not yet memory, the pages come when first written), and the
// system grants them; the space is given back at once. Lets a store that is too large for
// memory stop with the program's own message instead of the run-time error.
bool can_allocate(std::int64_t bytes) {
  if (bytes <= 0) return true;
  if (bytes > rt::memory_limit() - rt::memory_held()) return false;
  if (static_cast<std::uint64_t>(bytes) > std::numeric_limits<std::size_t>::max()) return false;
  std::unique_ptr<char[]> probe(new (std::nothrow) char[static_cast<std::size_t>(bytes)]);
  return probe != nullptr;
}

std::int64_t store_bytes(std::int64_t order, std::int64_t NZ, std::int64_t extra_ints) {
  const std::int64_t o = order > 0 ? order : 0;
  const std::int64_t z = NZ > 0 ? NZ : 0;
  return static_cast<std::int64_t>(sizeof(std::int32_t)) * (o + 1 + 2 * z + extra_ints) +
         static_cast<std::int64_t>(sizeof(double)) * z;
}

}  // namespace

void check_model_levels(const run_state& s) {
  const std::int32_t n = s.n_effects;
  std::int64_t total = 0;
  for (std::int32_t k = 1; k <= n; ++k) {
    if (s.NLEV(k) < 0)
      stop_on_effect({"FATAL ERROR: EFFECT", k, "HAS A NEGATIVE NUMBER OF LEVELS"},
                     {"NLEV:", s.NLEV(k)});
    total += s.NLEV(k);
  }
  if (total > std::numeric_limits<std::int32_t>::max())
    stop_on_effect({"FATAL ERROR: TOO MANY EQUATIONS (SUM OF NLEV)"}, {"PLEASE, CHECK NLEV"});

  for (std::int32_t k = 1; k <= n; ++k) {
    // The family-correlated effect numbers its levels by the running record number.
    if (s.TYPO(k) == 3 && s.NLEV(k) != s.NRDF)
      stop_on_effect({"FATAL ERROR: EFFECT", k, "HAS ONE LEVEL PER RECORD (TYPO 3)"},
                     {"BUT NLEV:", s.NLEV(k), "DIFFERS FROM NRDF:", s.NRDF});
    // A pedigree member's number is its level in every effect of the block.
    if (s.TYPO(k) == 2 && s.CORR(k) > 0) {
      for (std::int32_t a = 0; a < s.CORR(k) && k + a <= n; ++a)
        if (s.NLEV(k + a) < s.n_pedigree)
          stop_on_effect({"FATAL ERROR: EFFECT", k + a, "HAS FEWER LEVELS (NLEV) THAN"},
                         {"PEDIGREE MEMBERS:", s.NLEV(k + a), "<", s.n_pedigree});
    }
  }
}

void initialize_run(run_state& s) {
  rt::text_out& con = rt::console();
  check_model_levels(s);

  s.n_equations = 0;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) s.n_equations += s.NLEV(k);
  const std::int32_t n = s.n_equations;
  const std::int32_t m = s.n_effects;

  // The equation-length arrays and the equation store come one after another and each is
  // zero-filled as it comes: ask for the whole group first, so that a model too large for
  // memory ends the run before any of it is written. rhs, solution, data_rhs (reals),
  // dropped, shift (integers); the store's row_start, its row index (integers) and its NZ
  // slots (column, link: integers; value: real); the per-effect work arrays.
  rt::require_memory(static_cast<double>(n) * (3.0 * 8.0 + 2.0 * 4.0) +
                     static_cast<double>(store_bytes(n, s.NZ, std::int64_t{n})) +
                     static_cast<double>(m) * (8.0 + 4.0 + 4.0 + 8.0));

  s.rhs.assign_zeros(n);
  s.record_value.assign(m, 0.0);
  s.equation.assign(m, 0);
  num::sparse_create(s.equation_store, n, s.NZ);  // empty, linked form
  s.dropped.assign_zeros(n);
  s.shift.assign_zeros(n);
  s.solution.assign_zeros(n);
  s.data_rhs.assign_zeros(n);
  s.in_model.assign(m, 1);
  s.coefficient.assign(m, 0.0);

  if (!can_allocate(store_bytes(n, s.NZ, 2 * std::int64_t{n})))
    rt::stop("WW ALLOCATION ERROR", rt::exit_error);
  num::sparse_create(s.WW, n, s.NZ);
  s.WW.dropped.assign_zeros(n);
  s.WW.shift.assign_zeros(n);

  const std::int32_t gmat_nz = static_cast<std::int32_t>(0.2 * s.NZ);
  if (!can_allocate(store_bytes(s.n_pedigree, gmat_nz, 0)))
    rt::stop("GMAT ALLOCATION ERROR", rt::exit_error);
  num::sparse_create(s.GMAT, s.n_pedigree, gmat_nz);

  FILE_PREP(s);

  // "DAT1.sal" (unit 21) is open for reading already: FILE_PREP leaves it so, at its start.
  rt::open_out(s.chain_file, 25, "CVC_CHAIN.txt");

  rt::write(con, {});
  rt::write(con, {"NUMBER OF EQUATIONS:", s.n_equations});
  rt::write(con, {});
  rt::write(con, {"***"});
}

}  // namespace tav

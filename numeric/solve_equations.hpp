// The end of the drop of empty equations and the one solve of the mixed-model equations,
// the same in both programs.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"

namespace num {

// Checks that the levels left to the effects add up to n_equations (else stops with
// "CHECK NLEV UPDATING"), then reports the entries of the finished equation store and opens
// STEP 5 on the console.
void report_final_structure(std::int32_t n_effects, const rt::vec1<std::int32_t>& remaining_levels,
                            std::int32_t n_equations, const sparse_store& equations);

// Orders (ODRV), factors and solves (SDRV) the n equations of the finished store once:
// solution := the solution for rhs. The work arrays are sized here, three cells per equation
// and six per stored entry. When the symbolic factor's column lists do not fit in that, the
// integer work space doubles and the symbolic stage runs again (its result does not depend on
// the space, only whether it fits) until they fit; a larger array that cannot be had ends the
// run with the out-of-memory run-time error. The work arrays then grow to the size the
// numeric factor asks for (after a regrown symbolic stage, to exactly that size); the result
// is that of one SDRV call doing all stages. The store is reordered in place. A nonzero FLAG
// ends the run with "ERROR IN ODRV" or "ERROR IN SDRV" and the FLAG; the column lists end it
// so only when they outgrow what 32-bit positions address.
void solve_equations(std::int32_t n, sparse_store& equations, const rt::vec1<double>& rhs,
                     rt::vec1<double>& solution, std::int64_t& work_size,
                     rt::vec1<std::int32_t>& permutation,
                     rt::vec1<std::int32_t>& inverse_permutation,
                     rt::vec1<std::int32_t>& int_work, rt::vec1<double>& real_work,
                     std::int64_t& spare_storage, std::int32_t& solver_stages,
                     std::int64_t& FLAG);

// Gives back the solver's order and work space once the solution stands (the rounds read
// none of them).
void release_solver_work(rt::vec1<std::int32_t>& permutation,
                         rt::vec1<std::int32_t>& inverse_permutation,
                         rt::vec1<std::int32_t>& int_work, rt::vec1<double>& real_work);

}  // namespace num

// Removing the empty equations of a finished system, and giving the solution its full length
// back afterwards.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// Drops the equations marked in dropped (nonzero) from a store in row-compressed form and its
// right-hand side: the kept rows are renumbered 1 .. n - d in order, their columns c become
// c - shift(c), rhs is packed. Only empty rows may be marked and no kept row may hold a marked
// column; shift(e) counts the marked equations among 1 .. e. n is the number of equations on
// entry and the number kept on return. Slots and values stay where they are.
void drop_flagged_equations(std::int32_t& n, rt::vec1<std::int32_t>& row_start,
                            rt::vec1<std::int32_t>& column, rt::vec1<double>& rhs,
                            const rt::vec1<std::int32_t>& dropped,
                            const rt::vec1<std::int32_t>& shift);

// Spreads the n reduced values in x(1 .. n) over the n_full equations: marked equations get
// fill, the kept ones the reduced values in order. The number of unmarked equations among
// dropped(1 .. n_full) must equal n and x must hold n_full elements; anything else is a
// programming error and ends the run.
void expand_solution(std::int32_t n, std::int32_t n_full, const rt::vec1<std::int32_t>& dropped,
                     rt::vec1<double>& x, double fill);

}  // namespace num

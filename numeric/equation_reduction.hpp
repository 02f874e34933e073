// Removing the empty equations of a finished system, and giving the solution its full length
// back afterwards.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// Marks the empty equations of a store still in linked form, before it is finished: an
// equation is empty when its row received no entry (its head is not positive). Equations are
// numbered effect by effect, NLEV(k) of them for effect k. On return dropped(e) is 1 for an
// empty equation and 0 otherwise, shift(e) counts the empty equations among 1 .. e, and
// remaining_levels(k) is NLEV(k) less the empty equations of effect k. Returns the number of
// empty equations.
std::int32_t flag_empty_equations(std::int32_t n_effects, const rt::vec1<std::int32_t>& NLEV,
                                  const rt::vec1<std::int32_t>& row_start,
                                  rt::vec1<std::int32_t>& remaining_levels,
                                  rt::vec1<std::int32_t>& dropped, rt::vec1<std::int32_t>& shift);

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

// Removing empty equations from a finished store and restoring a full-length solution.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// Packs the rows, the column numbers and rhs of a row-compressed store to the equations whose
// dropped flag is 0; shift(e) counts the flagged equations among 1 .. e. n is lowered to the
// number of equations kept. Slots and values stay where they are.
void drop_flagged_equations(std::int32_t& n, rt::vec1<std::int32_t>& row_start,
                            rt::vec1<std::int32_t>& column, rt::vec1<double>& rhs,
                            const rt::vec1<std::int32_t>& dropped,
                            const rt::vec1<std::int32_t>& shift);

// Spreads the n reduced values at the start of x over its full length, fill at every flagged
// equation.
void expand_solution(std::int32_t n, const rt::vec1<std::int32_t>& dropped, rt::vec1<double>& x,
                     double fill);

}  // namespace num

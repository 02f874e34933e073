// Lower Cholesky factor of a small dense symmetric matrix, in place, with a pivot count and
// an optional packed copy of the factor.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// Packed lower triangle, diagonal included, row after row: (1,1), (2,1), (2,2), (3,1) ...
// Element (r, c), c <= r, is element packed_index(r, c) of a 1-based vector of n(n + 1)/2.
inline std::int64_t packed_index(std::int64_t r, std::int64_t c) { return r * (r - 1) / 2 + c; }
inline std::int64_t packed_length(std::int64_t n) { return n * (n + 1) / 2; }

// A: n x n, stored by columns with leading dimension n; the diagonal and lower triangle are
// read and overwritten by the factor L. A pivot below tolerance, or one that is not a finite
// number, is rejected: it only lowers the rank, and its column keeps the unscaled values (its
// diagonal the pivot itself) and still enters the later columns.
// rank: n minus the number of rejected pivots (n itself when n <= 0).
// This form sets the strict upper triangle of A to 0.0, so that A holds L alone.
void chol_factor(double* A, std::int32_t n, double tolerance, std::int32_t& rank);

// This form leaves the strict upper triangle of A as it was and copies the lower triangle
// into packed (at least n(n + 1)/2 elements).
void chol_factor(double* A, std::int32_t n, double tolerance, std::int32_t& rank,
                 rt::vec1<double>& packed);

}  // namespace num

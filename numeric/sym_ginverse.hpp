// Generalised inverse of a small dense symmetric matrix, in place, by a column Cholesky
// factorisation that rejects small pivots.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// A is stored by columns with leading dimension leading_dimension (>= n): element (r, c) at
// A[(r - 1) + (c - 1) * leading_dimension]. Only the diagonal and the lower triangle of the
// leading n x n part are read; on return that part holds, in both triangles, the inverse of
// the principal submatrix of the accepted pivots, with zero rows and columns at the rejected
// ones. A pivot below tolerance, or one that is not a finite number, is rejected. Rows
// n + 1 .. leading_dimension are left alone.
// rank: n minus the number of rejected pivots (n itself when n <= 0). No failure exit: the
// caller compares rank with n.
void sym_ginverse(double* A, std::int32_t n, std::int32_t leading_dimension, double tolerance,
                  std::int32_t& rank);

// The same, and determinant receives the determinant of the input: 0.0 when rank < n,
// 1.0 when n <= 0.
void sym_ginverse(double* A, std::int32_t n, std::int32_t leading_dimension, double tolerance,
                  std::int32_t& rank, double& determinant);

// Block k of a (n_effects, 2, 2) array of (co)variance blocks (G0, G, g_inverse ...): the
// 2 x 2 slice (k, 1..2, 1..2) is inverted in place as a matrix of order n (CORR(k)) with
// leading dimension 2; the whole slice is copied out and back. Returns the rank.
std::int32_t invert_block(rt::vec3<double>& blocks, std::int32_t k, std::int32_t n,
                          double tolerance);

}  // namespace num

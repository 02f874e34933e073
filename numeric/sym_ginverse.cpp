// Generalised inverse of a small dense symmetric matrix by a column Cholesky factorisation.
#include "numeric/sym_ginverse.hpp"

#include <cmath>

#include "runtime/array.hpp"

namespace num {

namespace {

// Left-looking lower Cholesky factor of column j; a rejected pivot zeroes its column.
// Returns false when the pivot of column j was rejected.
bool factor_column(const rt::col_view& a, std::int32_t n, std::int32_t j, double tolerance) {
  for (std::int32_t k = 1; k <= j - 1; ++k) {
    const double ajk = a(j, k);
    for (std::int32_t r = j; r <= n; ++r) a(r, j) = a(r, j) - ajk * a(r, k);
  }
  const double pivot = a(j, j);
  // A NaN or infinite pivot is rejected too, so that the rank reports the failure.
  if (!(std::isfinite(pivot) && !(pivot < tolerance))) {
    for (std::int32_t r = j; r <= n; ++r) a(r, j) = 0.0;
    return false;
  }
  const double root = std::sqrt(pivot);
  a(j, j) = root;
  for (std::int32_t r = j + 1; r <= n; ++r) a(r, j) = a(r, j) / root;
  return true;
}

// Column h of the inverse of L, formed in place over column h of L. The running sums that
// would live in a work vector are kept in A(r .. n, h) itself: column h of L is read only by
// the first step (r = h + 1), element by element before that element is overwritten, and
// A(r, h) is final once row r is reached.
void invert_factor_column(const rt::col_view& a, std::int32_t n, std::int32_t h) {
  if (a(h, h) == 0.0) {  // rejected pivot: the column of the inverse is zero
    for (std::int32_t r = h + 1; r <= n; ++r) a(r, h) = 0.0;
    return;
  }
  a(h, h) = 1.0 / a(h, h);
  for (std::int32_t r = h + 1; r <= n; ++r) {
    const double prev = a(r - 1, h);  // inverse element just formed
    if (r == h + 1) {
      for (std::int32_t i = r; i <= n; ++i) a(i, h) = 0.0 - prev * a(i, r - 1);
    } else {
      for (std::int32_t i = r; i <= n; ++i) a(i, h) = a(i, h) - prev * a(i, r - 1);
    }
    a(r, h) = a(r, r) == 0.0 ? 0.0 : a(r, h) / a(r, r);
  }
}

void ginverse(double* A, std::int32_t n, std::int32_t leading_dimension, double tolerance,
              std::int32_t& rank, double* determinant) {
  rank = n;
  if (n <= 0) {
    if (determinant) *determinant = 1.0;
    return;
  }
  const rt::col_view a{A, leading_dimension};

  for (std::int32_t j = 1; j <= n; ++j)
    if (!factor_column(a, n, j, tolerance)) --rank;

  if (determinant) {
    double det = 0.0;
    if (rank == n) {
      det = 1.0;
      for (std::int32_t j = 1; j <= n; ++j) det = det * (a(j, j) * a(j, j));
    }
    *determinant = det;
  }

  for (std::int32_t h = 1; h <= n; ++h) invert_factor_column(a, n, h);

  // Inverse = (inverse factor) transposed times (inverse factor); element (r, c) is written
  // after its last use as an inverse-factor element.
  for (std::int32_t c = 1; c <= n; ++c) {
    for (std::int32_t r = c; r <= n; ++r) {
      double s = 0.0;
      for (std::int32_t k = r; k <= n; ++k) s = s + a(k, c) * a(k, r);
      a(r, c) = s;
    }
  }

  for (std::int32_t c = 1; c <= n; ++c)
    for (std::int32_t r = c + 1; r <= n; ++r) a(c, r) = a(r, c);
}

}  // namespace

void sym_ginverse(double* A, std::int32_t n, std::int32_t leading_dimension, double tolerance,
                  std::int32_t& rank) {
  ginverse(A, n, leading_dimension, tolerance, rank, nullptr);
}

void sym_ginverse(double* A, std::int32_t n, std::int32_t leading_dimension, double tolerance,
                  std::int32_t& rank, double& determinant) {
  ginverse(A, n, leading_dimension, tolerance, rank, &determinant);
}

std::int32_t invert_block(rt::vec3<double>& blocks, std::int32_t k, std::int32_t n,
                          double tolerance) {
  double w[4] = {blocks(k, 1, 1), blocks(k, 2, 1), blocks(k, 1, 2), blocks(k, 2, 2)};
  std::int32_t rank = 0;
  sym_ginverse(w, n, 2, tolerance, rank);
  blocks(k, 1, 1) = w[0];
  blocks(k, 2, 1) = w[1];
  blocks(k, 1, 2) = w[2];
  blocks(k, 2, 2) = w[3];
  return rank;
}

}  // namespace num

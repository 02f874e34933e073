// Lower Cholesky factor with pivot rejection and packed output.
#include "numeric/chol_factor.hpp"

#include <cmath>

#include "runtime/process.hpp"

namespace num {

namespace {

void factor(const rt::col_view& a, std::int32_t n, double tolerance, std::int32_t& rank) {
  rank = n;
  for (std::int32_t j = 1; j <= n; ++j) {
    for (std::int32_t k = 1; k <= j - 1; ++k) {  // rejected columns included, unscaled
      const double ajk = a(j, k);
      for (std::int32_t r = j; r <= n; ++r) a(r, j) = a(r, j) - ajk * a(r, k);
    }
    const double pivot = a(j, j);
    // A NaN or infinite pivot is rejected too, so that the rank reports the failure.
    if (!(std::isfinite(pivot) && !(pivot < tolerance))) {
      --rank;
      continue;
    }
    const double root = std::sqrt(pivot);
    a(j, j) = root;
    for (std::int32_t r = j + 1; r <= n; ++r) a(r, j) = a(r, j) / root;
  }
}

}  // namespace

void chol_factor(double* A, std::int32_t n, double tolerance, std::int32_t& rank) {
  const rt::col_view a{A, n};
  factor(a, n, tolerance, rank);
  for (std::int32_t c = 2; c <= n; ++c)
    for (std::int32_t r = 1; r <= c - 1; ++r) a(r, c) = 0.0;
}

void chol_factor(double* A, std::int32_t n, double tolerance, std::int32_t& rank,
                 rt::vec1<double>& packed) {
  const rt::col_view a{A, n};
  if (n > 0 && packed.size() < packed_length(n))
    rt::internal_error("chol_factor: packed vector shorter than n(n + 1)/2");
  factor(a, n, tolerance, rank);
  for (std::int32_t r = 1; r <= n; ++r)
    for (std::int32_t c = 1; c <= r; ++c) packed(packed_index(r, c)) = a(r, c);
}

}  // namespace num

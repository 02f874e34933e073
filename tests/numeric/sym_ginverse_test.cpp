// Generalised inverse: the exact small cases, tolerance boundaries, rejected pivots, the
// parts of the storage that must stay untouched, and random positive definite matrices
// checked against the identity.
#include "numeric/sym_ginverse.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double tol = 1.0E-12;

TEST(SymGinverse, TwoByTwoExample) {
  double A[4] = {4.0, 2.0, 2.0, 3.0};
  std::int32_t rank = -7;
  double det = -7.0;
  num::sym_ginverse(A, 2, 2, tol, rank, det);
  EXPECT_EQ(rank, 2);
  EXPECT_DOUBLE_EQ(det, 8.0);
  EXPECT_DOUBLE_EQ(A[0], 0.375);
  EXPECT_DOUBLE_EQ(A[1], -0.25);
  EXPECT_DOUBLE_EQ(A[2], -0.25);
  EXPECT_DOUBLE_EQ(A[3], 0.5);
  EXPECT_EQ(A[1], A[2]);  // both triangles hold the same value
}

TEST(SymGinverse, ToleranceBoundary) {
  double below = 1.0E-13;
  std::int32_t rank = -1;
  double det = -1.0;
  num::sym_ginverse(&below, 1, 1, tol, rank, det);
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(below, 0.0);
  EXPECT_EQ(det, 0.0);

  double at = 1.0E-12;  // a pivot equal to the tolerance is accepted
  num::sym_ginverse(&at, 1, 1, tol, rank, det);
  EXPECT_EQ(rank, 1);
  EXPECT_DOUBLE_EQ(at, 1.0E12);
  EXPECT_DOUBLE_EQ(det, 1.0E-12);
}

TEST(SymGinverse, SingularTwoByTwo) {
  double A[4] = {1.0, 1.0, 1.0, 1.0};
  std::int32_t rank = -1;
  double det = -1.0;
  num::sym_ginverse(A, 2, 2, tol, rank, det);
  EXPECT_EQ(rank, 1);
  EXPECT_EQ(det, 0.0);
  EXPECT_EQ(A[0], 1.0);
  EXPECT_EQ(A[1], 0.0);
  EXPECT_EQ(A[2], 0.0);
  EXPECT_EQ(A[3], 0.0);
}

TEST(SymGinverse, NegativeMiddlePivotGivesInverseOfTheRest) {
  // Second pivot 1 - 2 x 2 = -3 is rejected; the rest is the inverse of rows/columns 1, 3.
  double A[9] = {1.0, 2.0, 0.5,  2.0, 1.0, 0.3,  0.5, 0.3, 2.0};
  std::int32_t rank = -1;
  double det = -1.0;
  num::sym_ginverse(A, 3, 3, tol, rank, det);
  EXPECT_EQ(rank, 2);
  EXPECT_EQ(det, 0.0);
  const double sub_det = 1.0 * 2.0 - 0.5 * 0.5;
  EXPECT_NEAR(A[0], 2.0 / sub_det, 1e-15);
  EXPECT_NEAR(A[2], -0.5 / sub_det, 1e-15);
  EXPECT_NEAR(A[6], -0.5 / sub_det, 1e-15);
  EXPECT_NEAR(A[8], 1.0 / sub_det, 1e-15);
  for (int i : {1, 3, 4, 5, 7}) EXPECT_EQ(A[i], 0.0) << i;
}

TEST(SymGinverse, NonFinitePivotIsRejected) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {nan, inf}) {
    double A[4] = {bad, 0.0, 0.0, 2.0};
    std::int32_t rank = -1;
    double det = -1.0;
    num::sym_ginverse(A, 2, 2, tol, rank, det);
    EXPECT_EQ(rank, 1);
    EXPECT_EQ(det, 0.0);
    EXPECT_EQ(A[0], 0.0);
    EXPECT_DOUBLE_EQ(A[3], 0.5);
  }
  // A NaN below the diagonal poisons the second pivot, which is then rejected.
  double B[4] = {1.0, nan, 0.0, 1.0};
  std::int32_t rank = -1;
  num::sym_ginverse(B, 2, 2, tol, rank);
  EXPECT_EQ(rank, 1);
}

TEST(SymGinverse, UpperTriangleInputIsIgnored) {
  double clean[9] = {5.0, 1.0, 2.0,  0.0, 4.0, 1.5,  0.0, 0.0, 3.0};
  double dirty[9] = {5.0, 1.0, 2.0,  99.0, 4.0, 1.5,  -7.0, 1e30, 3.0};
  std::int32_t r1 = 0, r2 = 0;
  num::sym_ginverse(clean, 3, 3, tol, r1);
  num::sym_ginverse(dirty, 3, 3, tol, r2);
  EXPECT_EQ(r1, 3);
  EXPECT_EQ(r2, 3);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(clean[i], dirty[i]) << i;
}

TEST(SymGinverse, OrderZeroWritesNothing) {
  double A[1] = {42.0};
  std::int32_t rank = -1;
  double det = -1.0;
  num::sym_ginverse(A, 0, 1, tol, rank, det);
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(det, 1.0);
  EXPECT_EQ(A[0], 42.0);
}

TEST(SymGinverse, RowsBeyondOrderKeepTheirValues) {
  // n = 2 inside a leading dimension of 4: rows 3 and 4 of both columns are left alone.
  double A[8] = {4.0, 2.0, -1.0, -2.0,  2.0, 3.0, -3.0, -4.0};
  std::int32_t rank = 0;
  num::sym_ginverse(A, 2, 4, tol, rank);
  EXPECT_EQ(rank, 2);
  EXPECT_DOUBLE_EQ(A[0], 0.375);
  EXPECT_DOUBLE_EQ(A[1], -0.25);
  EXPECT_DOUBLE_EQ(A[4], -0.25);
  EXPECT_DOUBLE_EQ(A[5], 0.5);
  EXPECT_EQ(A[2], -1.0);
  EXPECT_EQ(A[3], -2.0);
  EXPECT_EQ(A[6], -3.0);
  EXPECT_EQ(A[7], -4.0);
}

// Determinant by Gaussian elimination with partial pivoting, written independently.
double dense_det(std::vector<double> a, int n) {
  double det = 1.0;
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(a[i + k * n]) > std::fabs(a[p + k * n])) p = i;
    if (p != k) {
      for (int j = 0; j < n; ++j) std::swap(a[k + j * n], a[p + j * n]);
      det = -det;
    }
    det *= a[k + k * n];
    for (int i = k + 1; i < n; ++i) {
      const double m = a[i + k * n] / a[k + k * n];
      for (int j = k; j < n; ++j) a[i + j * n] -= m * a[k + j * n];
    }
  }
  return det;
}

TEST(SymGinverse, RandomPositiveDefiniteTimesInverseIsIdentity) {
  std::mt19937_64 gen(12345);
  std::uniform_real_distribution<double> unif(-1.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + trial % 9;
    const int ld = n + trial % 3;
    std::vector<double> B(n * n), S(n * n);
    for (double& b : B) b = unif(gen);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        double s = r == c ? 0.5 * n : 0.0;
        for (int k = 0; k < n; ++k) s += B[r + k * n] * B[c + k * n];
        S[r + c * n] = s;
      }
    std::vector<double> A(ld * n, 777.0);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) A[r + c * ld] = S[r + c * n];
    std::int32_t rank = 0;
    double det = 0.0;
    num::sym_ginverse(A.data(), n, ld, tol, rank, det);
    ASSERT_EQ(rank, n);
    EXPECT_NEAR(det / dense_det(S, n), 1.0, 1e-12);
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) {
        double s = 0.0;
        for (int k = 0; k < n; ++k) s += S[r + k * n] * A[k + c * ld];
        EXPECT_NEAR(s, r == c ? 1.0 : 0.0, 1e-12) << "n " << n << " (" << r << "," << c << ")";
        EXPECT_EQ(A[r + c * ld], A[c + r * ld]);
      }
      for (int extra = n; extra < ld; ++extra) EXPECT_EQ(A[extra + r * ld], 777.0);
    }
  }
}

}  // namespace

// A block of a (n_effects, 2, 2) array: only slice k changes; order 1 leaves the second row
// and column of the slice alone.
TEST(SymGinverseBlock, InvertsOneSliceInPlace) {
  rt::vec3<double> g;
  g.resize(3, 2, 2, 0.0);
  for (int e = 1; e <= 3; ++e) {
    g(e, 1, 1) = 4.0 + e;
    g(e, 2, 1) = g(e, 1, 2) = 1.0;
    g(e, 2, 2) = 3.0;
  }
  EXPECT_EQ(num::invert_block(g, 2, 2, 1.0E-12), 2);
  const double det = 6.0 * 3.0 - 1.0;
  EXPECT_NEAR(g(2, 1, 1), 3.0 / det, 1e-15);
  EXPECT_NEAR(g(2, 2, 2), 6.0 / det, 1e-15);
  EXPECT_NEAR(g(2, 1, 2), -1.0 / det, 1e-15);
  EXPECT_EQ(g(2, 2, 1), g(2, 1, 2));
  EXPECT_EQ(g(1, 1, 1), 5.0);
  EXPECT_EQ(g(3, 2, 2), 3.0);

  EXPECT_EQ(num::invert_block(g, 3, 1, 1.0E-12), 1);
  EXPECT_NEAR(g(3, 1, 1), 1.0 / 7.0, 1e-15);
  EXPECT_EQ(g(3, 1, 2), 1.0);
  EXPECT_EQ(g(3, 2, 2), 3.0);

  g(1, 2, 2) = 1.0 / 5.0;  // 5 x 0.2 - 1 x 1 = 0: singular
  EXPECT_LT(num::invert_block(g, 1, 2, 1.0E-12), 2);
}

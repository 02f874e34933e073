// Packed Cholesky factor: the small exact cases, treatment of rejected pivots, the upper
// triangle with and without packed output, and random positive definite matrices.
#include "numeric/chol_factor.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double tol = 1.0E-12;

TEST(CholFactor, PackedLayout) {
  EXPECT_EQ(num::packed_index(1, 1), 1);
  EXPECT_EQ(num::packed_index(2, 1), 2);
  EXPECT_EQ(num::packed_index(2, 2), 3);
  EXPECT_EQ(num::packed_index(3, 1), 4);
  EXPECT_EQ(num::packed_index(3, 3), 6);
  EXPECT_EQ(num::packed_length(3), 6);
}

TEST(CholFactor, TwoByTwoExample) {
  double A[4] = {4.0, 2.0, 2.0, 3.0};
  rt::vec1<double> packed(3, -1.0);
  std::int32_t rank = -1;
  num::chol_factor(A, 2, tol, rank, packed);
  EXPECT_EQ(rank, 2);
  EXPECT_EQ(packed(1), 2.0);
  EXPECT_EQ(packed(2), 1.0);
  EXPECT_EQ(packed(3), std::sqrt(2.0));
  EXPECT_EQ(A[2], 2.0);  // upper triangle kept with packed output
}

TEST(CholFactor, ZeroPivotIsOnlyCounted) {
  double A[4] = {1.0, 1.0, 1.0, 1.0};
  rt::vec1<double> packed(3, -1.0);
  std::int32_t rank = -1;
  num::chol_factor(A, 2, tol, rank, packed);
  EXPECT_EQ(rank, 1);
  EXPECT_EQ(packed(1), 1.0);
  EXPECT_EQ(packed(2), 1.0);
  EXPECT_EQ(packed(3), 0.0);
}

TEST(CholFactor, RejectedFirstPivotStaysUnscaledAndFeedsLaterColumns) {
  double A[4] = {-1.0, 2.0, 2.0, 5.0};
  rt::vec1<double> packed(3, -9.0);
  std::int32_t rank = -1;
  num::chol_factor(A, 2, tol, rank, packed);
  EXPECT_EQ(rank, 1);
  EXPECT_EQ(packed(1), -1.0);
  EXPECT_EQ(packed(2), 2.0);
  EXPECT_EQ(packed(3), 1.0);
}

TEST(CholFactor, WithoutPackedTheUpperTriangleIsZeroed) {
  double A[9] = {4.0, 2.0, 0.4,  7.0, 3.0, 0.5,  8.0, 9.0, 2.0};
  std::int32_t rank = -1;
  num::chol_factor(A, 3, tol, rank);
  EXPECT_EQ(rank, 3);
  EXPECT_EQ(A[3], 0.0);
  EXPECT_EQ(A[6], 0.0);
  EXPECT_EQ(A[7], 0.0);
  EXPECT_EQ(A[0], 2.0);
  EXPECT_EQ(A[1], 1.0);

  double B[9] = {4.0, 2.0, 0.4,  7.0, 3.0, 0.5,  8.0, 9.0, 2.0};
  rt::vec1<double> packed(6);
  num::chol_factor(B, 3, tol, rank, packed);
  EXPECT_EQ(B[3], 7.0);
  EXPECT_EQ(B[6], 8.0);
  EXPECT_EQ(B[7], 9.0);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= r; ++c) {
      EXPECT_EQ(packed(num::packed_index(r, c)), B[(r - 1) + (c - 1) * 3]);
      EXPECT_EQ(A[(r - 1) + (c - 1) * 3], B[(r - 1) + (c - 1) * 3]);
    }
}

TEST(CholFactor, OrderZeroWritesNothing) {
  double A[1] = {3.0};
  rt::vec1<double> packed(1, 5.0);
  std::int32_t rank = -1;
  num::chol_factor(A, 0, tol, rank, packed);
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(A[0], 3.0);
  EXPECT_EQ(packed(1), 5.0);
}

TEST(CholFactor, NonFinitePivotIsRejected) {
  double A[4] = {std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0, 4.0};
  std::int32_t rank = -1;
  num::chol_factor(A, 2, tol, rank);
  EXPECT_EQ(rank, 1);
  double B[4] = {std::numeric_limits<double>::infinity(), 0.0, 0.0, 4.0};
  num::chol_factor(B, 2, tol, rank);
  EXPECT_EQ(rank, 1);
  EXPECT_EQ(B[3], 2.0);
}

TEST(CholFactor, RandomPositiveDefiniteFactorReproducesTheMatrix) {
  std::mt19937_64 gen(99);
  std::uniform_real_distribution<double> unif(-1.0, 1.0);
  for (int n = 1; n <= 8; ++n) {
    std::vector<double> B(n * n), S(n * n);
    for (double& b : B) b = unif(gen);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        double s = r == c ? 0.5 * n : 0.0;
        for (int k = 0; k < n; ++k) s += B[r + k * n] * B[c + k * n];
        S[r + c * n] = s;
      }
    std::vector<double> A = S;
    rt::vec1<double> packed(num::packed_length(n));
    std::int32_t rank = 0;
    num::chol_factor(A.data(), n, tol, rank, packed);
    ASSERT_EQ(rank, n);
    for (int r = 1; r <= n; ++r)
      for (int c = 1; c <= r; ++c) {
        double s = 0.0;
        for (int k = 1; k <= c; ++k)
          s += packed(num::packed_index(r, k)) * packed(num::packed_index(c, k));
        EXPECT_NEAR(s, S[(r - 1) + (c - 1) * n], 1e-12);
      }
  }
}

}  // namespace

// Inversion of one 2 x 2 block of an (n_effects, 2, 2) array in place.
#include <gtest/gtest.h>

#include "numeric/sym_ginverse.hpp"
#include "runtime/array.hpp"

TEST(SymGinverseBlock, InvertsOnlyItsBlockBothTriangles) {
  rt::vec3<double> X;
  X.resize(3, 2, 2, 7.0);
  X(2, 1, 1) = 4.0;
  X(2, 2, 1) = 2.0;
  X(2, 1, 2) = 99.0;   // the strict upper triangle is not read
  X(2, 2, 2) = 3.0;
  std::int32_t rank = -1;
  rank = num::invert_block(X, 2, 2, 1.0E-12);
  EXPECT_EQ(rank, 2);
  EXPECT_NEAR(X(2, 1, 1), 0.375, 1e-15);
  EXPECT_NEAR(X(2, 2, 2), 0.5, 1e-15);
  EXPECT_NEAR(X(2, 2, 1), -0.25, 1e-15);
  EXPECT_EQ(X(2, 1, 2), X(2, 2, 1));
  for (int k : {1, 3})
    for (int a = 1; a <= 2; ++a)
      for (int b = 1; b <= 2; ++b) EXPECT_EQ(X(k, a, b), 7.0);
}

TEST(SymGinverseBlock, OrderOneLeavesTheOtherElementsAndReportsRank) {
  rt::vec3<double> X;
  X.resize(1, 2, 2, 5.0);
  X(1, 1, 1) = 4.0;
  std::int32_t rank = -1;
  rank = num::invert_block(X, 1, 1, 1.0E-12);
  EXPECT_EQ(rank, 1);
  EXPECT_EQ(X(1, 1, 1), 0.25);
  EXPECT_EQ(X(1, 2, 1), 5.0);
  EXPECT_EQ(X(1, 1, 2), 5.0);
  EXPECT_EQ(X(1, 2, 2), 5.0);
  X(1, 1, 1) = 1.0E-13;   // below the tolerance 1.0E-12
  rank = num::invert_block(X, 1, 1, 1.0E-12);
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(X(1, 1, 1), 0.0);
}

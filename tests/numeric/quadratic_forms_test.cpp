// Quadratic forms of a (co)variance block against dense products written here.
#include <gtest/gtest.h>

#include <vector>

#include "numeric/quadratic_forms.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"

namespace {

// A symmetric 4 x 4 matrix held as its upper triangle, rows finished, columns in a mixed order.
const double dense_A[4][4] = {{2.0, -0.5, 0.0, 0.25},
                              {-0.5, 1.5, 0.75, 0.0},
                              {0.0, 0.75, 3.0, -1.0},
                              {0.25, 0.0, -1.0, 1.25}};

num::sparse_store upper_store() {
  num::sparse_store A;
  A.order = 4;
  const std::vector<std::vector<int>> cols = {{4, 1, 2}, {3, 2}, {3, 4}, {4}};
  std::int32_t n = 0;
  for (const auto& r : cols) n += static_cast<std::int32_t>(r.size());
  A.NZ = n;
  A.row_start.assign(5, 0);
  A.column.assign(n, 0);
  A.value.assign(n, 0.0);
  std::int32_t k = 1;
  for (int i = 1; i <= 4; ++i) {
    A.row_start(i) = k;
    for (int c : cols[i - 1]) {
      A.column(k) = c;
      A.value(k) = dense_A[i - 1][c - 1];
      ++k;
    }
  }
  A.row_start(5) = k;
  return A;
}

double dense_form(const double* u, const double* v) {
  double q = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 4; ++c) q += u[i] * dense_A[i][c] * v[c];
  return q;
}

}  // namespace

TEST(BlockQuadraticForms, PedigreeBlockOfOrderTwoMatchesDenseAndSingleForms) {
  const num::sparse_store A = upper_store();
  rt::vec1<double> sample;
  sample.assign(11, 0.0);
  const double u[4] = {1.0, -2.0, 0.5, 3.0}, v[4] = {0.25, 1.0, -1.5, 2.0};
  for (int i = 1; i <= 4; ++i) {
    sample(2 + i) = u[i - 1];   // effect 2 follows 2 equations
    sample(6 + i) = v[i - 1];   // effect 3 follows 6
  }
  rt::vec1<std::int32_t> offset;
  offset.assign(4, 0);
  offset(1) = 0; offset(2) = 2; offset(3) = 6; offset(4) = 10;
  rt::vec3<double> Q;
  Q.resize(3, 2, 2, -7.0);
  num::block_quadratic_forms(Q, 2, 2, 2, 3, 4, 10, sample, offset, A);
  EXPECT_NEAR(Q(2, 1, 1), dense_form(u, u), 1e-12);
  EXPECT_NEAR(Q(2, 1, 2), dense_form(u, v), 1e-12);
  EXPECT_NEAR(Q(2, 2, 2), dense_form(v, v), 1e-12);
  EXPECT_EQ(Q(2, 2, 1), Q(2, 1, 2));
  EXPECT_EQ(Q(1, 1, 1), -7.0);   // other blocks untouched
  EXPECT_EQ(Q(3, 2, 2), -7.0);

  // The one-pass forms are bit for bit the forms of blocks of order 1 at each member.
  rt::vec3<double> R;
  R.resize(3, 2, 2, 0.0);
  num::block_quadratic_forms(R, 2, 2, 1, 3, 4, 10, sample, offset, A);
  EXPECT_EQ(R(2, 1, 1), Q(2, 1, 1));
  num::block_quadratic_forms(R, 3, 2, 1, 3, 4, 10, sample, offset, A);
  EXPECT_EQ(R(3, 1, 1), Q(2, 2, 2));

  // The same values laid out in pairs give the same bits.
  double pairs[8];
  for (int i = 0; i < 4; ++i) {
    pairs[2 * i] = u[i];
    pairs[2 * i + 1] = v[i];
  }
  rt::vec3<double> P;
  P.resize(3, 2, 2, 0.0);
  num::block_quadratic_forms(P, 2, 2, 2, 3, 4, 10, sample, offset, A, pairs);
  for (int a = 1; a <= 2; ++a)
    for (int b = 1; b <= 2; ++b) EXPECT_EQ(P(2, a, b), Q(2, a, b));
}

TEST(BlockQuadraticForms, IndependentEffectTakesThePlainProduct) {
  const num::sparse_store A = upper_store();
  rt::vec1<double> sample;
  sample.assign(5, 0.0);
  sample(1) = 9.0;
  sample(2) = 1.5; sample(3) = -2.0; sample(4) = 0.5;
  sample(5) = 9.0;
  rt::vec1<std::int32_t> offset;
  offset.assign(2, 0);
  offset(1) = 1; offset(2) = 4;
  rt::vec3<double> Q;
  Q.resize(1, 2, 2, -7.0);
  num::block_quadratic_forms(Q, 1, 1, 1, 1, 3, 5, sample, offset, A);
  EXPECT_EQ(Q(1, 1, 1), 1.5 * 1.5 + 4.0 + 0.25);
  EXPECT_EQ(Q(1, 2, 1), -7.0);
}

// A slice past the last equation, a pedigree effect whose levels are not A's order and a
// block past the last effect stop the run before anything is summed.
TEST(BlockQuadraticFormsDeathTest, BadBlocksStop) {
  const num::sparse_store A = upper_store();
  rt::vec1<double> sample;
  sample.assign(10, 0.0);
  rt::vec1<std::int32_t> offset;
  offset.assign(4, 0);
  offset(1) = 0; offset(2) = 2; offset(3) = 6; offset(4) = 10;
  rt::vec3<double> Q;
  Q.resize(3, 2, 2, 0.0);
  EXPECT_EXIT(num::block_quadratic_forms(Q, 2, 2, 2, 3, 4, 9, sample, offset, A),
              testing::ExitedWithCode(1),
              "^INCOMPATIBLE DIMENSIONS FOR THE BILINEARFORM COMPUTATION\r\n$");
  EXPECT_EXIT(num::block_quadratic_forms(Q, 2, 2, 1, 3, 3, 10, sample, offset, A),
              testing::ExitedWithCode(1),
              "^INCOMPATIBLE DIMENSIONS FOR THE BILINEARFORM COMPUTATION\r\n$");
  EXPECT_EXIT(num::block_quadratic_forms(Q, 3, 2, 2, 3, 4, 10, sample, offset, A),
              testing::ExitedWithCode(1), "^BEWARE! CHECK <<TYPO>> AND <<CORR>> DECLARATION\r\n$");
}

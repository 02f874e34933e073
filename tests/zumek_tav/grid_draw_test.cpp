// The family quadratic form of the p_PAR grid draw of zumek_tav.
#include "zumek_tav/grid_draw.hpp"

#include <gtest/gtest.h>

namespace {

TEST(GridQuadraticForm, UpperTriangleAndRestGroupDiagonal) {
  // RINV with distinct triangles: only the diagonal and the upper triangle are read.
  const double rinv[9] = {2.0, 99.0, 99.0, 0.5, 3.0, 99.0, -0.25, 0.125, 4.0};
  const double u[3] = {1.0, -2.0, 3.0};
  double sum = 10.0;
  tav::add_family_quadratic_form(rinv, 3, u, false, sum);
  const double expected = 10.0 + 1 * 1 * 2.0 + (-2.0) * (2.0 * 1.0) * 0.5 +
                          3.0 * (2.0 * 1.0) * -0.25 + (-2) * (-2) * 3.0 +
                          3.0 * (2.0 * -2.0) * 0.125 + 3.0 * 3.0 * 4.0;
  EXPECT_DOUBLE_EQ(sum, expected);
  double rest = 0.0;
  tav::add_family_quadratic_form(rinv, 3, u, true, rest);
  EXPECT_DOUBLE_EQ(rest, 2.0 + 4.0 * 3.0 + 9.0 * 4.0);
}

}  // namespace

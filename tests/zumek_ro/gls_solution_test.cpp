// The solution of STEP 5 against a dense generalised-least-squares solve of the same model:
// the mixed-model equations W' R^-1 W + G^-1 built here from "dat.txt" and "ped.txt" with
// dense matrices (R block-diagonal by family, A from the tabular method and inverted densely).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

#include "numeric/equation_reduction.hpp"
#include "tests/support/e2e.hpp"
#include "tests/zumek_ro/ro_model.hpp"
#include "zumek_ro/parameters.hpp"
#include "zumek_ro/run_state.hpp"
#include "zumek_ro/steps.hpp"

using namespace testing_support;

namespace {

using matrix = std::vector<std::vector<double>>;

matrix zeros(int n, int m) { return matrix(n, std::vector<double>(m, 0.0)); }

// Inverse by Gauss-Jordan elimination with partial pivoting.
matrix inverse(matrix a) {
  const int n = static_cast<int>(a.size());
  matrix x = zeros(n, n);
  for (int i = 0; i < n; ++i) x[i][i] = 1.0;
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    std::swap(x[c], x[p]);
    const double d = a[c][c];
    for (int j = 0; j < n; ++j) {
      a[c][j] /= d;
      x[c][j] /= d;
    }
    for (int r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a[r][c];
      if (f == 0.0) continue;
      for (int j = 0; j < n; ++j) {
        a[r][j] -= f * a[c][j];
        x[r][j] -= f * x[c][j];
      }
    }
  }
  return x;
}

struct record {
  double v[8];
};

}  // namespace

TEST(GlsSolution, EqualsDenseSolveOfMixedModelEquations) {
  const auto dir = scratch_dir("ro_gls_solution");
  write_file(dir / "param.txt", ro_test::model_param());
  write_file(dir / "dat.txt", ro_test::model_dat);
  write_file(dir / "ped.txt", ro_test::model_ped);

  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  auto s = std::make_unique<ro::run_state>();
  ro::read_parameters(*s);
  ro::initialize_run(*s);
  ro::add_data_contributions(*s);
  ro::add_random_effect_terms(*s);
  ro::drop_empty_equations(*s);
  ro::solve_equations(*s);
  num::expand_solution(s->n_equations, static_cast<std::int32_t>(s->dropped.size()), s->dropped,
                      s->solution, 0.0);
  std::filesystem::current_path(old);

  // ---- the model, built independently
  const int NLEV[8] = {0, 2, 3, 2, 1, 4, 20, 20};
  int first[8];
  first[1] = 0;
  for (int k = 2; k <= 7; ++k) first[k] = first[k - 1] + NLEV[k - 1];
  const int neq = first[7] + NLEV[7];   // 52
  const double S2E0 = 2.5, p = 0.3, pen_var = 0.7;
  const double G[2][2] = {{1.5, 0.3}, {0.3, 0.8}};

  std::vector<record> rec;
  std::istringstream in(ro_test::model_dat);
  record r{};
  while (in >> r.v[0] >> r.v[1] >> r.v[2] >> r.v[3] >> r.v[4] >> r.v[5] >> r.v[6] >> r.v[7])
    rec.push_back(r);
  const int n = static_cast<int>(rec.size());
  ASSERT_EQ(n, 14);

  // W (n x neq) and y.
  matrix W = zeros(n, neq);
  std::vector<double> y(n);
  for (int i = 0; i < n; ++i) {
    const double* v = rec[i].v;   // v[k - 1] is effect k
    W[i][first[1] + static_cast<int>(v[0]) - 1] += 1.0;                  // category
    if (v[1] != 3.0 && v[1] != 0.0)                                       // herd, level 3 dropped
      W[i][first[2] + static_cast<int>(std::fabs(v[1])) - 1] += v[1] > 0 ? 1.0 : -1.0;
    W[i][first[3] + static_cast<int>(v[0]) - 1] += v[2];                 // weight within category
    W[i][first[4]] += v[3];                                               // age
    W[i][first[5] + static_cast<int>(v[4]) - 1] += 1.0;                  // pen
    W[i][first[6] + static_cast<int>(v[5]) - 1] += 1.0;                  // animal
    if (v[6] != 0.0) W[i][first[7] + static_cast<int>(v[6]) - 1] += 1.0;  // dam
    y[i] = v[7];
  }

  // R: S2E0 on the diagonal; S2E0 p on the linked pairs of the two families (rows of dat.txt,
  // 0-based): family of head 10 = rows 1, 3, 4, 7, 11 (head row 3 is linked to 4, 7, 11);
  // family of head 16 = rows 6, 9. The rest group's links are not used.
  matrix R = zeros(n, n);
  for (int i = 0; i < n; ++i) R[i][i] = S2E0;
  const int links[4][2] = {{3, 4}, {3, 7}, {3, 11}, {6, 9}};
  for (auto& l : links) R[l[0]][l[1]] = R[l[1]][l[0]] = S2E0 * p;
  const matrix Ri = inverse(R);

  // A by the tabular method, then its inverse.
  std::vector<int> sire(21), dam(21);
  {
    std::istringstream pin(ro_test::model_ped);
    int a, si, d;
    while (pin >> a >> si >> d) {
      sire[a] = si;
      dam[a] = d;
    }
  }
  matrix A = zeros(20, 20);
  for (int a = 1; a <= 20; ++a) {
    for (int b = 1; b < a; ++b) {
      double x = 0.0;
      if (sire[a] > 0) x += 0.5 * A[b - 1][sire[a] - 1];
      if (dam[a] > 0) x += 0.5 * A[b - 1][dam[a] - 1];
      A[a - 1][b - 1] = A[b - 1][a - 1] = x;
    }
    A[a - 1][a - 1] = 1.0 + (sire[a] > 0 && dam[a] > 0 ? 0.5 * A[sire[a] - 1][dam[a] - 1] : 0.0);
  }
  EXPECT_GT(A[12][12], 1.2);   // animal 13, from a full-sib mating of inbred parents
  const matrix Ai = inverse(A);
  matrix Gi = inverse({{G[0][0], G[0][1]}, {G[1][0], G[1][1]}});

  // C = W' R^-1 W + G^-1, rhs = W' R^-1 y.
  matrix C = zeros(neq, neq);
  std::vector<double> b(neq, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      if (Ri[i][j] == 0.0) continue;
      for (int e = 0; e < neq; ++e) {
        if (W[i][e] == 0.0) continue;
        b[e] += W[i][e] * Ri[i][j] * y[j];
        for (int f = 0; f < neq; ++f) C[e][f] += W[i][e] * Ri[i][j] * W[j][f];
      }
    }
  for (int l = 0; l < 4; ++l) C[first[5] + l][first[5] + l] += 1.0 / pen_var;
  for (int a = 0; a < 2; ++a)
    for (int h = 0; h < 2; ++h)
      for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 20; ++j) C[first[6 + a] + i][first[6 + h] + j] += Gi[a][h] * Ai[i][j];

  // Drop the empty equation (herd 3), solve, and expand with 0 there.
  std::vector<int> kept;
  for (int e = 0; e < neq; ++e) {
    bool empty = true;
    for (int f = 0; f < neq; ++f) empty = empty && C[e][f] == 0.0;
    if (!empty) kept.push_back(e);
  }
  ASSERT_EQ(static_cast<int>(kept.size()), neq - 1);
  const int m = static_cast<int>(kept.size());
  matrix Ck = zeros(m, m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) Ck[i][j] = C[kept[i]][kept[j]];
  const matrix Cki = inverse(Ck);
  std::vector<double> x(neq, 0.0);
  for (int i = 0; i < m; ++i) {
    double t = 0.0;
    for (int j = 0; j < m; ++j) t += Cki[i][j] * b[kept[j]];
    x[kept[i]] = t;
  }

  ASSERT_EQ(s->solution.size(), neq);
  ASSERT_EQ(s->n_equations, neq - 1);
  for (int e = 0; e < neq; ++e)
    EXPECT_NEAR(s->solution(e + 1), x[e], 1e-8 * std::max(1.0, std::fabs(x[e]))) << "equation " << e + 1;
  EXPECT_EQ(s->solution(first[2] + 3), 0.0);   // the dropped herd level
  EXPECT_EQ(s->n_families, 3);
}

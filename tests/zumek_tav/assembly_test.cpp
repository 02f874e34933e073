// The equations of a small model with every kind of effect, assembled, reduced and solved by
// the program's steps, against a dense solve of the same mixed-model equations built here
// from the inputs: design matrix, dense inverse relationship matrix, family covariances.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "numeric/equation_reduction.hpp"
#include "runtime/text_io.hpp"
#include "tests/support/e2e.hpp"
#include "tests/support/tav_small_model.hpp"
#include "zumek_tav/parameters.hpp"
#include "zumek_tav/run_state.hpp"
#include "zumek_tav/steps.hpp"

using namespace testing_support;

namespace {

using matrix = std::vector<std::vector<double>>;

matrix zeros(int n) { return matrix(n + 1, std::vector<double>(n + 1, 0.0)); }

// Inverse by Gauss-Jordan with partial pivoting (1-based, n x n).
matrix inverse(matrix a, int n) {
  matrix x = zeros(n);
  for (int i = 1; i <= n; ++i) x[i][i] = 1.0;
  for (int c = 1; c <= n; ++c) {
    int p = c;
    for (int r = c + 1; r <= n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    std::swap(x[c], x[p]);
    const double d = a[c][c];
    for (int k = 1; k <= n; ++k) {
      a[c][k] /= d;
      x[c][k] /= d;
    }
    for (int r = 1; r <= n; ++r) {
      if (r == c || a[r][c] == 0.0) continue;
      const double f = a[r][c];
      for (int k = 1; k <= n; ++k) {
        a[r][k] -= f * a[c][k];
        x[r][k] -= f * x[c][k];
      }
    }
  }
  return x;
}

struct record {
  double v[8];
  double y;
};

std::vector<record> parse_records() {
  std::vector<record> out;
  std::istringstream in(tav_small_model::dat_text());
  record r;
  while (in >> r.v[0] >> r.v[1] >> r.v[2] >> r.v[3] >> r.v[4] >> r.v[5] >> r.v[6] >> r.y) {
    out.push_back(r);
  }
  return out;
}

}  // namespace

TEST(Assembly, SolutionEqualsDenseSolveOfTheMixedModelEquations) {
  auto dir = scratch_dir("tav_assembly_dense");
  tav_small_model::write_inputs(dir);
  ASSERT_EQ(::chdir(dir.c_str()), 0);

  tav::run_state s;
  std::fflush(stdout);
  tav::read_parameters(s);
  tav::initialize_run(s);
  tav::add_data_contributions(s);
  tav::add_random_effect_terms(s);
  tav::drop_empty_equations(s);
  tav::solve_equations(s);
  rt::vec1<double> x = s.solution;
  num::expand_solution(s.n_equations, static_cast<std::int32_t>(s.dropped.size()), s.dropped, x, 0.0);

  // ---- the same equations, dense, from the inputs
  const int NLEV[9] = {0, 3, 4, 3, 1, 4, 16, 12, 12};
  int first[10];
  first[1] = 1;
  for (int k = 1; k <= 8; ++k) first[k + 1] = first[k] + NLEV[k];
  const int n = first[9] - 1;
  const double S2E0 = 2.5, p = 0.3;
  const std::vector<record> recs = parse_records();
  ASSERT_EQ(recs.size(), 16u);

  matrix C = zeros(n);
  std::vector<double> b(n + 1, 0.0);
  for (std::size_t r = 0; r < recs.size(); ++r) {
    const record& q = recs[r];
    std::vector<double> w(n + 1, 0.0);
    w[first[1] + static_cast<int>(q.v[0]) - 1] += 1.0;
    const int l2 = static_cast<int>(std::fabs(q.v[1]));
    if (l2 != 0 && l2 != 4) w[first[2] + l2 - 1] += q.v[1] > 0 ? 1.0 : -1.0;  // 4 is dropped
    w[first[3] + static_cast<int>(q.v[0]) - 1] += q.v[2];  // slope within effect-1 level
    w[first[4]] += q.v[3];
    w[first[5] + static_cast<int>(q.v[4]) - 1] += 1.0;
    w[first[6] + static_cast<int>(r)] += 1.0;  // record number = line (family order)
    w[first[7] + static_cast<int>(q.v[5]) - 1] += 1.0;
    if (q.v[6] != 0.0) w[first[8] + static_cast<int>(q.v[6]) - 1] += 1.0;
    for (int i = 1; i <= n; ++i) {
      if (w[i] == 0.0) continue;
      b[i] += q.y * w[i] / S2E0;
      for (int j = 1; j <= n; ++j) C[i][j] += w[i] * w[j] / S2E0;
    }
  }
  // Independent levels.
  for (int l = 0; l < 4; ++l) C[first[5] + l][first[5] + l] += 1.0 / 1.5;
  // Family-correlated effect: blocks of (I + p L)^-1 / R; families {1,2,3} (1 dam of 2, 3),
  // {4,5} (4 dam of 5), the rest on the diagonal.
  {
    matrix f1 = zeros(3);
    for (int i = 1; i <= 3; ++i) f1[i][i] = 1.0;
    f1[1][2] = f1[2][1] = f1[1][3] = f1[3][1] = p;
    matrix f2 = zeros(2);
    f2[1][1] = f2[2][2] = 1.0;
    f2[1][2] = f2[2][1] = p;
    const matrix i1 = inverse(f1, 3), i2 = inverse(f2, 2);
    const int b6 = first[6] - 1;
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 3; ++j) C[b6 + i][b6 + j] += i1[i][j] / 0.8;
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) C[b6 + 3 + i][b6 + 3 + j] += i2[i][j] / 0.8;
    for (int i = 6; i <= 16; ++i) C[b6 + i][b6 + i] += 1.0 / 0.8;
  }
  // Animal and maternal block: G0^-1 (x) A^-1, A from the tabular method.
  {
    const int sire[13] = {0, 0, 0, 0, 0, 1, 1, 4, 1, 7, 7, 1, 4};
    const int dam[13] = {0, 0, 0, 0, 0, 2, 3, 2, 2, 5, 6, 5, 8};
    matrix A = zeros(12);
    auto a = [&](int i, int j) { return i == 0 || j == 0 ? 0.0 : A[i][j]; };
    for (int i = 1; i <= 12; ++i) {
      for (int j = 1; j < i; ++j) A[i][j] = A[j][i] = 0.5 * (a(j, sire[i]) + a(j, dam[i]));
      A[i][i] = 1.0 + 0.5 * a(sire[i], dam[i]);
    }
    EXPECT_GT(A[9][9], 1.0);   // inbred
    EXPECT_GT(A[11][11], 1.0);
    const matrix Ai = inverse(A, 12);
    matrix G = zeros(2);
    G[1][1] = 3.0;
    G[1][2] = G[2][1] = -0.6;
    G[2][2] = 1.2;
    const matrix Gi = inverse(G, 2);
    for (int u = 1; u <= 2; ++u)
      for (int v = 1; v <= 2; ++v)
        for (int i = 1; i <= 12; ++i)
          for (int j = 1; j <= 12; ++j)
            C[first[6 + u] + i - 1][first[6 + v] + j - 1] += Gi[u][v] * Ai[i][j];
  }
  // Drop the empty equations (only effect 2, level 4) and solve.
  std::vector<int> keep;
  for (int i = 1; i <= n; ++i) {
    bool empty = true;
    for (int j = 1; j <= n; ++j) empty = empty && C[i][j] == 0.0;
    if (!empty) keep.push_back(i);
  }
  ASSERT_EQ(static_cast<int>(keep.size()), n - 1);
  EXPECT_EQ(s.n_equations, n - 1);
  EXPECT_EQ(s.dropped(first[2] + 3), 1);
  const int m = static_cast<int>(keep.size());
  matrix Ck = zeros(m);
  for (int i = 1; i <= m; ++i)
    for (int j = 1; j <= m; ++j) Ck[i][j] = C[keep[i - 1]][keep[j - 1]];
  const matrix Cinv = inverse(Ck, m);
  std::vector<double> ref(n + 1, 0.0);
  for (int i = 1; i <= m; ++i) {
    double t = 0.0;
    for (int j = 1; j <= m; ++j) t += Cinv[i][j] * b[keep[j - 1]];
    ref[keep[i - 1]] = t;
  }

  ASSERT_EQ(x.size(), n);
  for (int i = 1; i <= n; ++i)
    EXPECT_NEAR(x(i), ref[i], 1e-8 * std::max(1.0, std::fabs(ref[i]))) << "equation " << i;
  EXPECT_EQ(x(first[2] + 3), 0.0);

  // The data part alone: data_rhs (reduced) against X'y / S2E0.
  for (int i = 1; i <= m; ++i)
    EXPECT_NEAR(s.data_rhs(i), b[keep[i - 1]], 1e-12) << "equation " << keep[i - 1];
}

namespace {

// The scratch file's lines, with line `line` (1-based) replaced by `text`.
std::string with_line(const std::string& file, int line, const std::string& text) {
  std::istringstream in(file);
  std::string out, l;
  for (int k = 1; std::getline(in, l); ++k) out += (k == line ? text : l) + "\n";
  return out;
}

}  // namespace

// Records are read a few places ahead of the one being added: a record that cannot be read still
// stops the run only at its turn, after the records before it (whose own faults come first).
// The scratch file holds three values a line, three lines a record: record 3 unreadable; then
// record 2 with a class level out of range and record 4 unreadable.
TEST(AssemblyDeathTest, ScratchFaultsStopAtTheirRecordsTurn) {
  auto dir = scratch_dir("tav_assembly_read_ahead");
  tav_small_model::write_inputs(dir);
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  struct fault {
    std::map<int, std::string> lines;
    const char* expected;
  };
  const std::vector<fault> faults = {
      {{{7, "x"}}, " BEWARE! ERROR IN LINE +2\r\n \r\n"},
      {{{4, "9 1 1"}, {10, "x"}},
       " FATAL ERROR IN RECORD +2 OF DAT1.sal, EFFECT +1\r\n CLASS LEVEL OUT OF RANGE"},
  };
  for (const fault& f : faults) {
    tav::run_state s;
    std::fflush(stdout);
    tav::read_parameters(s);
    tav::initialize_run(s);
    std::string dat1 = read_file(dir / "DAT1.sal");
    for (const auto& [line, text] : f.lines) dat1 = with_line(dat1, line, text);
    write_file(dir / "DAT1.sal", dat1);
    rt::close(s.dat1_file);
    rt::open_in(s.dat1_file, 21, "DAT1.sal");
    EXPECT_EXIT(
        {
          std::fflush(stdout);
          dup2(2, 1);
          tav::add_data_contributions(s);
        },
        testing::ExitedWithCode(1), std::string(f.expected))
        << f.expected;
  }
}

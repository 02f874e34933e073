// The pedigree pass against a dense relationship matrix built here by the tabular method, and
// the exact text of "ERROR FILE.txt" and of the console.
#include "numeric/pedigree.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "numeric/sparse_store.hpp"
#include "tests/support/e2e.hpp"

using namespace testing_support;

namespace {

struct ped_line {
  int member, sire, dam;
};

std::string ped_text(const std::vector<ped_line>& p) {
  std::string s;
  for (const ped_line& l : p)
    s += std::to_string(l.member) + " " + std::to_string(l.sire) + " " + std::to_string(l.dam) + "\n";
  return s;
}

// The parents as the pass must leave them: a parent not lower than its member is unknown.
std::vector<ped_line> cleaned(std::vector<ped_line> p) {
  for (ped_line& l : p) {
    if (l.sire >= l.member) l.sire = 0;
    if (l.dam >= l.member) l.dam = 0;
  }
  return p;
}

using dense = std::vector<std::vector<double>>;  // (n + 1) x (n + 1), row and column 0 unused

// Numerator relationship matrix by the tabular method, row by row in member order.
dense tabular_A(const std::vector<ped_line>& raw) {
  std::vector<ped_line> p = cleaned(raw);
  const int n = static_cast<int>(p.size());
  dense A(n + 1, std::vector<double>(n + 1, 0.0));
  for (int i = 1; i <= n; ++i) {
    const int s = p[i - 1].sire, d = p[i - 1].dam;
    for (int j = 1; j < i; ++j) {
      const double v = 0.5 * ((s ? A[j][s] : 0.0) + (d ? A[j][d] : 0.0));
      A[i][j] = v;
      A[j][i] = v;
    }
    A[i][i] = 1.0 + ((s && d) ? 0.5 * A[s][d] : 0.0);
  }
  return A;
}

using entries = std::map<std::pair<int, int>, double>;

// The entries of a finished store; a column twice in a row fails the test.
entries store_entries(const num::sparse_store& s) {
  entries m;
  for (int i = 1; i <= s.order; ++i)
    for (int k = s.row_start(i); k < s.row_start(i + 1); ++k) {
      auto [it, fresh] = m.emplace(std::make_pair(i, s.column(k)), s.value(k));
      EXPECT_TRUE(fresh) << "row " << i << " column " << s.column(k) << " twice";
    }
  return m;
}

struct pass_setup {
  int n_effects = 1;
  int effect = 1;
  std::vector<int> NLEV;   // default: n_pedigree for every effect
  std::vector<int> CORR;   // default: 1 for every effect
  double g[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
  int progress_interval = 1000;
  int NZ = 0;              // default: ample
  bool fill_relationship_inverse = true;
};

struct pass_run {
  num::sparse_store eq, rel;
  num::pedigree_work work;
  std::string console;
  std::string error_file;
};

std::filesystem::path enter_scratch(const std::string& name) {
  auto dir = scratch_dir(name);
  EXPECT_EQ(::chdir(dir.c_str()), 0);
  return dir;
}

rt::vec1<std::int32_t> to_vec1(const std::vector<int>& v) {
  rt::vec1<std::int32_t> r(static_cast<std::int64_t>(v.size()));
  for (std::size_t i = 0; i < v.size(); ++i) r(static_cast<std::int64_t>(i) + 1) = v[i];
  return r;
}

struct program_arrays {
  rt::vec1<std::int32_t> NLEV, CORR;
  rt::vec3<double> g_inverse;
  num::pedigree_pass_input in;
  int n_equations = 0;
};

program_arrays arrays_for(const pass_setup& c, int n) {
  program_arrays a;
  std::vector<int> nlev = c.NLEV.empty() ? std::vector<int>(c.n_effects, n) : c.NLEV;
  std::vector<int> corr = c.CORR.empty() ? std::vector<int>(c.n_effects, 1) : c.CORR;
  a.NLEV = to_vec1(nlev);
  a.CORR = to_vec1(corr);
  a.g_inverse.resize(c.n_effects, 2, 2, 0.0);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) a.g_inverse(c.effect, i, j) = c.g[i - 1][j - 1];
  for (int v : nlev) a.n_equations += v;
  a.in.effect = c.effect;
  a.in.n_pedigree = n;
  a.in.progress_interval = c.progress_interval;
  a.in.fill_relationship_inverse = c.fill_relationship_inverse;
  return a;
}

// Runs the pass in the current folder on "ped.txt" as it stands; the stores stay linked.
void run_here(pass_run& r, const pass_setup& c, int n, bool init_stores = true,
              bool capture = true, bool keep_work = true) {
  program_arrays a = arrays_for(c, n);
  if (init_stores) {
    const int NZ = c.NZ ? c.NZ : 16 * (n + 1) * 4 + 64;
    num::sparse_allocate(r.eq, a.n_equations, NZ);
    num::sparse_init(r.eq);
    num::sparse_allocate(r.rel, n, NZ);
    num::sparse_init(r.rel);
  }
  if (capture) testing::internal::CaptureStdout();
  num::pedigree_pass(a.in, a.NLEV, a.CORR, a.g_inverse, r.eq, r.rel, keep_work ? &r.work : nullptr);
  std::fflush(stdout);
  if (capture) r.console = testing::internal::GetCapturedStdout();
  r.error_file = read_file("ERROR FILE.txt");
}

// Writes the pedigree in a fresh scratch folder, runs the pass and finishes both stores.
pass_run run_pass(const std::string& name, const std::vector<ped_line>& p, pass_setup c = {}) {
  enter_scratch(name);
  write_file("ped.txt", ped_text(p));
  pass_run r;
  run_here(r, c, static_cast<int>(p.size()));
  num::sparse_finish(r.eq);
  num::sparse_finish(r.rel);
  return r;
}

const std::string error_file_head =
    "+++++++++++\n"
    "ERRORS FILE\n"
    "+++++++++++\n"
    " \n"
    "PEDIGREE INCONSISTENCIES\n"
    "------------------------\n"
    " \n"
    "     ID  OBSERVATIONS\n"
    "-------  ------------\n";

const std::string clean_close = " \nNO INCONSISTENCIES HAVE BEEN FOUND.\n";

const std::string warning_lines =
    " \n"
    " BEWARE! PEDIGREE INCONSISTENCIES FOUND.\n"
    " SOME IDs HAS BEEN SET TO 0.\n"
    " CHECK ERROR FILE.\n";

void expect_F_and_D(const pass_run& r, const std::vector<ped_line>& raw) {
  dense A = tabular_A(raw);
  std::vector<ped_line> p = cleaned(raw);
  auto F = [&](int i) { return i == 0 ? -1.0 : A[i][i] - 1.0; };
  for (std::size_t i = 1; i <= p.size(); ++i) {
    const int X = static_cast<int>(i);
    EXPECT_NEAR(r.work.F(X), F(X), 1e-13) << "F of member " << X;
    const double D = 0.5 - (F(p[i - 1].sire) + F(p[i - 1].dam)) * 0.25;
    EXPECT_NEAR(r.work.D(X), D, 1e-13) << "D of member " << X;
  }
  EXPECT_EQ(r.work.F(0), -1.0);
}

// A small pedigree with full-sib and parent-offspring matings.
const std::vector<ped_line> small_pedigree = {
    {1, 0, 0}, {2, 0, 0},
    {3, 1, 2}, {4, 2, 1},   // full sibs on consecutive lines, parents in either column
    {5, 3, 4},              // full-sib mating: F = 0.25
    {6, 1, 3},              // parent-offspring mating: F = 0.25
    {7, 0, 5},              // one known parent
    {8, 4, 3},              // full sib of 5, not on the next line: F from the walk
    {9, 6, 8}, {10, 5, 8}, {11, 8, 5},
    {12, 10, 9}, {13, 12, 12},  // a member of both parents 12
};

}  // namespace

TEST(PedigreeInbreeding, SmallPedigreeMatchesTabularMethod) {
  pass_run r = run_pass("ped_small", small_pedigree);
  EXPECT_EQ(r.work.F(5), 0.25);
  EXPECT_EQ(r.work.F(6), 0.25);
  EXPECT_EQ(r.work.F(8), 0.25);
  EXPECT_EQ(r.work.F(4), 0.0);
  EXPECT_EQ(r.work.F(7), 0.0);
  EXPECT_EQ(r.work.D(7), 0.75 - 0.25 * 0.25);
  EXPECT_EQ(r.work.D(1), 1.0);
  EXPECT_EQ(r.work.F(11), r.work.F(10));  // consecutive full sibs share F exactly
  expect_F_and_D(r, small_pedigree);
  EXPECT_EQ(r.error_file, crlf(error_file_head + clean_close));
  EXPECT_EQ(r.console, "");
}

TEST(PedigreeInbreeding, OneKnownParentTerms) {
  pass_run r = run_pass("ped_one_parent", {{1, 0, 0}, {2, 0, 0}, {3, 0, 1}, {4, 2, 0}});
  const double D3 = 0.5 - (-1.0 + 0.0) * 0.25;
  EXPECT_EQ(D3, 0.75);
  entries rel = store_entries(r.rel);
  EXPECT_EQ(rel.size(), 8u);
  EXPECT_EQ(rel.at({3, 3}), 1.0 / D3);
  EXPECT_EQ(rel.at({1, 1}), 1.0 + (-0.5 / D3) * -0.5);
  EXPECT_EQ(rel.at({1, 3}), (-0.5 / D3) * 1.0);
  EXPECT_EQ(rel.at({3, 1}), (1.0 / D3) * -0.5);
  EXPECT_EQ(rel.at({4, 2}), (1.0 / D3) * -0.5);
  EXPECT_EQ(r.work.F(3), 0.0);
}

namespace {

// Members mating within a sliding window of earlier members, so that inbreeding builds up;
// some unknown parents, consecutive full sibs, self-fertilisation and parents out of order.
std::vector<ped_line> random_pedigree(int n, int window, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<ped_line> p;
  for (int i = 1; i <= n; ++i) {
    int lo = i > window ? i - window : 1;
    auto pick = [&]() { return i == 1 ? 0 : std::uniform_int_distribution<int>(lo, i - 1)(gen); };
    int u = std::uniform_int_distribution<int>(0, 99)(gen);
    ped_line l{i, pick(), pick()};
    if (u < 8) l.sire = 0;
    else if (u < 16) l.dam = 0;
    else if (u < 40 && i > 1) { l.sire = p.back().dam; l.dam = p.back().sire; }
    else if (u < 42) l.dam = l.sire;
    else if (u < 44) l.sire = std::min(i + u % 3, n);   // the pass clears it (and warns)
    if (i == 1) l = {1, 0, 0};
    p.push_back(l);
  }
  return p;
}

// F and D of every member by the plain walk: pending ancestors in a set taken largest first,
// weights in an array over the whole pedigree, the sum accumulated in visiting order; one walk
// per member with both parents known, one after the other. Returns the most members a walk
// visited.
std::size_t plain_walks(const std::vector<ped_line>& q, std::vector<double>& F, std::vector<double>& D) {
  const int n = static_cast<int>(q.size());
  F.assign(n + 1, 0.0);
  D.assign(n + 1, 0.0);
  std::vector<double> weight(n + 1, 0.0);
  F[0] = -1.0;
  std::size_t longest = 0;
  for (int X = 1; X <= n; ++X) {
    const int s = q[X - 1].sire, d = q[X - 1].dam;
    D[X] = 0.5 - (F[s] + F[d]) * 0.25;
    if (s == 0 || d == 0) continue;
    std::set<int> pending;   // every weight is 0.0 here: a visit sets its own back
    weight[X] = 1.0;
    double sum = -1.0;
    std::size_t visited = 0;
    for (int Z = X;;) {
      ++visited;
      const int a = std::max(q[Z - 1].sire, q[Z - 1].dam), b = std::min(q[Z - 1].sire, q[Z - 1].dam);
      if (a > 0) {
        weight[a] += 0.5 * weight[Z];
        pending.insert(a);
        if (b > 0) {
          weight[b] += 0.5 * weight[Z];
          pending.insert(b);
        }
      }
      sum = sum + (weight[Z] * weight[Z]) * D[Z];
      weight[Z] = 0.0;   // no later visit of the walk passes weight to Z
      if (pending.empty()) break;
      Z = *pending.rbegin();
      pending.erase(Z);
    }
    F[X] = sum;
    longest = std::max(longest, visited);
  }
  return longest;
}

}  // namespace

TEST(PedigreeInbreeding, RandomPedigreeInverseTimesDenseIsIdentity) {
  const int n = 400;
  std::vector<ped_line> p = random_pedigree(n, 40, 20240611);
  pass_run r = run_pass("ped_random", p);
  expect_F_and_D(r, p);
  dense A = tabular_A(p);
  double max_F = 0.0;
  for (int i = 1; i <= n; ++i) max_F = std::max(max_F, r.work.F(i));
  EXPECT_GT(max_F, 0.3);

  entries rel = store_entries(r.rel);
  std::vector<std::vector<std::pair<int, double>>> rows(n + 1);
  for (auto& [ij, v] : rel) rows[ij.first].push_back({ij.second, v});
  double worst = 0.0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double s = 0.0;
      for (auto& [k, v] : rows[i]) s += v * A[k][j];
      worst = std::max(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
    }
  EXPECT_LT(worst, 1e-12);
  for (auto& [ij, v] : rel) EXPECT_EQ(rel.at({ij.second, ij.first}), v);   // symmetric
  EXPECT_NE(r.console.find(crlf(warning_lines)), std::string::npos);
}

TEST(PedigreeInbreeding, DeepPedigreeWithThousandsOfAncestors) {
  // Many overlapping generations give walks over more than a thousand ancestors.
  std::vector<ped_line> p = random_pedigree(2500, 150, 99);
  pass_setup c;
  c.CORR = {0};
  pass_run r = run_pass("ped_deep", p, c);
  expect_F_and_D(r, p);

  // Bit for bit equal to the plain walk.
  std::vector<double> F, D;
  const std::size_t longest = plain_walks(cleaned(p), F, D);
  const int n = static_cast<int>(p.size());
  EXPECT_GT(longest, 1000u);
  for (int X = 1; X <= n; ++X) {
    ASSERT_EQ(r.work.F(X), F[X]) << "F of member " << X;
    ASSERT_EQ(r.work.D(X), D[X]) << "D of member " << X;
  }
}

// Parents drawn from the whole pedigree before a member: walks that reach from the top of a
// pedigree of 40,000 members to its start, their searches for the next ancestor going down
// across the ten summary words of the pending sets (the smaller tests have one or two), bit
// for bit equal to the plain walk.
TEST(PedigreeInbreeding, WidePedigreeWalksAcrossAllLevels) {
  std::vector<ped_line> p = random_pedigree(40000, 40000, 7);
  pass_setup c;
  c.CORR = {0};
  pass_run r = run_pass("ped_wide", p, c);
  EXPECT_EQ(r.work.pending[0][1].size(), 10);
  std::vector<double> F, D;
  plain_walks(cleaned(p), F, D);
  const int n = static_cast<int>(p.size());
  int inbred = 0;
  for (int X = 1; X <= n; ++X) {
    ASSERT_EQ(r.work.F(X), F[X]) << "F of member " << X;
    ASSERT_EQ(r.work.D(X), D[X]) << "D of member " << X;
    inbred += F[X] > 0.0;
  }
  EXPECT_GT(inbred, 1000);
}

// The pass walks for a member's F only when an offspring's line needs it, the walks of both
// parents side by side when both wait: a member whose walk is held across lines, a full sib
// whose F waits for the walk of the first of its run, members never a parent (walked at the end
// for the caller that keeps the work arrays), and pedigrees where parents come from the last few lines. F and D are bit for bit those of
// walks one after the other.
TEST(PedigreeInbreeding, HeldWalksGiveThePlainResults) {
  std::vector<ped_line> hand = {
      {1, 0, 0}, {2, 0, 0}, {3, 1, 2}, {4, 2, 1},
      {5, 3, 4},              // 3 and its full sib 4: one walk
      {6, 5, 3},              // 5 walked, 3 known
      {7, 0, 6},              // one unknown parent: 6 walked
      {8, 4, 3},              // 8 waits
      {9, 3, 5}, {10, 5, 3},  // 10 waits for the walk of its full sib 9
      {11, 10, 8},            // walks of 9 and 8 side by side; 10 takes F of 9
      {12, 9, 6},
      {13, 12, 11},           // walks of 12 and 11 side by side
      {14, 12, 11},           // 13 and 14 never parents: walked at the end, once
  };
  std::vector<std::vector<ped_line>> cases = {hand};
  for (unsigned seed = 1; seed <= 6; ++seed) cases.push_back(random_pedigree(400, 3 + 4 * static_cast<int>(seed), seed));
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    pass_run r = run_pass("ped_held_" + std::to_string(c), cases[c]);
    std::vector<double> F, D;
    plain_walks(cleaned(cases[c]), F, D);
    for (int X = 1; X <= static_cast<int>(cases[c].size()); ++X) {
      ASSERT_EQ(r.work.F(X), F[X]) << "F of member " << X;
      ASSERT_EQ(r.work.D(X), D[X]) << "D of member " << X;
    }
    ASSERT_NO_FATAL_FAILURE(expect_F_and_D(r, cases[c]));
  }
}

// The scan of "ped.txt" ahead of the pass lets each walk a parent needs run beside another; a
// file the scan does not take (here a line over two lines, which the pass reads as one
// statement) leaves the walks to the offspring's lines. F, D and the stores are the same.
TEST(PedigreeInbreeding, WalksOfParentsRunInPairsWhenTheScanTakesTheFile) {
  const std::vector<ped_line> p = random_pedigree(3000, 400, 77);
  const int n = static_cast<int>(p.size());
  // The walks the pass needs: one per run of consecutive full sibs with a member that is a
  // parent, parents as the checks leave them.
  const std::vector<ped_line> q = cleaned(p);
  std::vector<int> first_sib(n + 1, 0);
  std::set<int> roots;
  for (int X = 1; X <= n; ++X) {
    const auto& l = q[X - 1];
    const bool sib = X > 1 && std::minmax(l.sire, l.dam) == std::minmax(q[X - 2].sire, q[X - 2].dam);
    first_sib[X] = sib ? first_sib[X - 1] : X;
  }
  for (const auto& l : q)
    for (int parent : {l.sire, l.dam})
      if (parent > 0 && q[parent - 1].sire > 0 && q[parent - 1].dam > 0) roots.insert(first_sib[parent]);
  ASSERT_GT(roots.size(), 1000u);

  pass_run whole = run_pass("ped_scan_whole", p);
  std::string split = ped_text(p);
  split.replace(split.find(' '), 1, "\n");  // "1\n0 0": one statement over two lines
  enter_scratch("ped_scan_split");
  write_file("ped.txt", split);
  pass_run lazy;
  run_here(lazy, {}, n);
  EXPECT_EQ(lazy.console, whole.console);
  // Nearly every walk in a pair: a walk held is run alone when the next line needs it.
  EXPECT_GE(200 * whole.work.walks_side_by_side, 95 * static_cast<std::int64_t>(roots.size()));
  EXPECT_LT(4 * lazy.work.walks_side_by_side, static_cast<std::int64_t>(roots.size()));

  std::vector<double> F, D;
  plain_walks(q, F, D);
  for (int X = 1; X <= n; ++X) {
    ASSERT_EQ(whole.work.F(X), F[X]) << "F of member " << X;
    ASSERT_EQ(lazy.work.F(X), F[X]) << "F of member " << X;
    ASSERT_EQ(whole.work.D(X), D[X]) << "D of member " << X;
    ASSERT_EQ(lazy.work.D(X), D[X]) << "D of member " << X;
  }
  num::sparse_finish(lazy.rel);
  EXPECT_EQ(store_entries(lazy.rel), store_entries(whole.rel));

  // Tabs and CR LF line ends are plain text to the scan.
  std::string crlf_tabs;
  for (const ped_line& l : p)
    crlf_tabs += std::to_string(l.member) + "\t" + std::to_string(l.sire) + "  " + std::to_string(l.dam) + "\r\n";
  enter_scratch("ped_scan_crlf");
  write_file("ped.txt", crlf_tabs);
  pass_run crlf_run;
  run_here(crlf_run, {}, n);
  EXPECT_EQ(crlf_run.work.walks_side_by_side, whole.work.walks_side_by_side);
  for (int X = 1; X <= n; ++X) ASSERT_EQ(crlf_run.work.F(X), F[X]) << "F of member " << X;
}

// Without the work arrays the pass leaves out the walks no offspring needs; the stores it fills
// must be bit for bit those of the run that works out F of every member.
TEST(PedigreeInbreeding, StoresDoNotDependOnKeepingTheWorkArrays) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<ped_line> p = random_pedigree(600, 5 + 20 * static_cast<int>(seed), seed + 40);
    pass_setup c;
    c.n_effects = 2;
    c.CORR = {2, 0};
    c.g[0][1] = c.g[1][0] = -0.25;
    c.g[1][1] = 2.0;
    enter_scratch("ped_keep_" + std::to_string(seed));
    write_file("ped.txt", ped_text(p));
    pass_run kept, dropped;
    run_here(kept, c, static_cast<int>(p.size()));
    run_here(dropped, c, static_cast<int>(p.size()), true, true, false);
    EXPECT_EQ(dropped.console, kept.console);
    for (num::sparse_store* s : {&kept.eq, &kept.rel, &dropped.eq, &dropped.rel}) num::sparse_finish(*s);
    for (auto [a, b] : {std::pair{&kept.eq, &dropped.eq}, std::pair{&kept.rel, &dropped.rel}}) {
      ASSERT_EQ(a->order, b->order);
      for (int i = 1; i <= a->order + 1; ++i) ASSERT_EQ(a->row_start(i), b->row_start(i)) << "row " << i;
      for (int k = 1; k < a->row_start(a->order + 1); ++k) {
        ASSERT_EQ(a->column(k), b->column(k)) << "slot " << k;
        ASSERT_EQ(a->value(k), b->value(k)) << "slot " << k;
      }
    }
    EXPECT_GT(store_entries(kept.eq).size(), 3u * p.size());
  }
}

TEST(PedigreeTerms, CorrTwoBlockInUpperTriangleOfEquations) {
  // Effects: 1 (3 levels), 2 and 3 the correlated pair of effect 2, with more levels than
  // members so that the block's equations are offset within the store.
  pass_setup c;
  c.n_effects = 4;
  c.effect = 2;
  c.NLEV = {3, 14, 15, 2};
  c.CORR = {1, 2, 1, 1};
  c.g[0][0] = 2.5; c.g[0][1] = -0.75; c.g[1][0] = -0.75; c.g[1][1] = 1.25;
  pass_run r = run_pass("ped_corr2", small_pedigree, c);
  entries rel = store_entries(r.rel);
  entries eq = store_entries(r.eq);
  const int first[2] = {4, 18};
  std::size_t expected_count = 0;
  for (int a = 0; a < 2; ++a)
    for (int h = 0; h < 2; ++h)
      for (auto& [ij, v] : rel) {
        const int row = ij.first + first[a] - 1, col = ij.second + first[h] - 1;
        if (row > col) continue;
        ++expected_count;
        auto it = eq.find({row, col});
        ASSERT_NE(it, eq.end()) << row << "," << col;
        EXPECT_NEAR(it->second, c.g[a][h] * v, 1e-12 * std::fabs(c.g[a][h] * v) + 1e-15);
      }
  EXPECT_EQ(eq.size(), expected_count);
  for (auto& [ij, v] : eq) EXPECT_LE(ij.first, ij.second);
}

TEST(PedigreeTerms, SecondCallAddsToEquationsOnly) {
  pass_setup c;
  c.n_effects = 2;
  c.CORR = {1, 1};
  c.g[0][0] = 2.0;
  enter_scratch("ped_two_calls");
  write_file("ped.txt", ped_text(small_pedigree));
  pass_run r;
  run_here(r, c, 13);
  c.effect = 2;
  c.g[0][0] = 3.0;
  c.fill_relationship_inverse = false;
  run_here(r, c, 13, false);
  num::sparse_finish(r.eq);
  num::sparse_finish(r.rel);

  pass_run once = run_pass("ped_one_call", small_pedigree);
  entries rel = store_entries(r.rel), rel1 = store_entries(once.rel);
  ASSERT_EQ(rel.size(), rel1.size());
  for (auto& [ij, v] : rel1) EXPECT_EQ(rel.at(ij), v);
  entries eq = store_entries(r.eq);
  for (auto& [ij, v] : rel1) {
    if (ij.first > ij.second) continue;
    EXPECT_NEAR(eq.at(ij), 2.0 * v, 1e-12);
    EXPECT_NEAR(eq.at({ij.first + 13, ij.second + 13}), 3.0 * v, 1e-12);
  }
}

TEST(PedigreeTerms, CorrZeroAddsNothing) {
  pass_setup c;
  c.CORR = {0};
  pass_run r = run_pass("ped_corr0", small_pedigree, c);
  EXPECT_EQ(r.eq.row_start(r.eq.order + 1), 1);
  EXPECT_EQ(r.rel.row_start(r.rel.order + 1), 1);
  EXPECT_EQ(r.work.F(5), 0.25);
}

TEST(PedigreeFiles, InconsistenciesOfTheExamples) {
  std::vector<ped_line> p = {{1, 0, 0}, {2, 0, 0}, {3, 4, 1}, {4, 1, 4},
                             {5, 5, 7}, {6, 1, 2}, {7, 6, 2}};
  pass_run r = run_pass("ped_inconsistent", p);
  EXPECT_EQ(r.error_file, crlf(error_file_head +
                               "      3  INDIVIDUAL ID IS LOWER THAN ITS SIRE\n"
                               "      4  INDIVIDUAL AND ITS DAM ID ARE EQUAL\n"
                               "      5  INDIVIDUAL AND ITS SIRE ID ARE EQUAL\n"
                               "      5  INDIVIDUAL ID IS LOWER THAN ITS DAM\n"));
  EXPECT_EQ(r.console, crlf(warning_lines));
  EXPECT_EQ(r.work.D(5), 1.0);
  EXPECT_EQ(r.work.F(5), 0.0);
  EXPECT_EQ(r.work.member(5).larger_parent, 0);
  EXPECT_EQ(r.work.member(5).smaller_parent, 0);
  entries rel = store_entries(r.rel);
  EXPECT_EQ(rel.at({5, 5}), 1.0);
  EXPECT_EQ(r.rel.row_start(6) - r.rel.row_start(5), 1);   // member 5 alone in its row
  EXPECT_EQ(r.work.member(3).larger_parent, 1);
  expect_F_and_D(r, p);
}

TEST(PedigreeFiles, EmptyPedigree) {
  pass_run r = run_pass("ped_empty", {});
  EXPECT_EQ(r.error_file, crlf(error_file_head + clean_close));
  EXPECT_EQ(r.console, "");
}

TEST(PedigreeFiles, ProgressLines) {
  std::vector<ped_line> p;
  for (int i = 1; i <= 2500; ++i) p.push_back({i, i > 2 ? i - 2 : 0, i > 1 ? i - 1 : 0});
  pass_run r = run_pass("ped_progress", p);
  EXPECT_EQ(r.console, crlf("     1000  TH INDIVIDUAL READ\n     2000  TH INDIVIDUAL READ\n"));
  pass_setup c;
  c.progress_interval = 10000;
  pass_run r2 = run_pass("ped_progress_ro", p, c);
  EXPECT_EQ(r2.console, "");
}

// ------------------------------------------------------------ stops on lines that cannot be used

namespace {

// Runs the pass in a child process with the console going to "console.txt"; the child must
// stop with exit status 1.
std::string console_of_failed_pass(const std::string& name, const std::string& ped,
                                   int n_pedigree, pass_setup c = {}) {
  enter_scratch(name);
  write_file("ped.txt", ped);
  EXPECT_EXIT(
      {
        std::freopen("console.txt", "w", stdout);
        pass_run r;
        run_here(r, c, n_pedigree, true, false);
      },
      testing::ExitedWithCode(1), "");
  return read_file("console.txt");
}

}  // namespace

TEST(PedigreeStops, MemberNotItsLineNumber) {
  EXPECT_EQ(console_of_failed_pass("ped_bad_member", "1 0 0\n3 1 0\n3 1 2\n", 3),
            crlf(" \n FATAL ERROR IN PEDIGREE FILE, LINE           2\n"
                 " INDIVIDUAL ID DIFFERS FROM ITS LINE NUMBER.\n \n"));
}

TEST(PedigreeStops, NegativeParents) {
  EXPECT_EQ(console_of_failed_pass("ped_neg_sire", "1 0 0\n2 -1 1\n", 2),
            crlf(" \n FATAL ERROR IN PEDIGREE FILE, LINE           2\n NEGATIVE SIRE ID.\n \n"));
  EXPECT_EQ(console_of_failed_pass("ped_neg_dam", "1 0 0\n2 1 0\n3 1 -2\n", 3),
            crlf(" \n FATAL ERROR IN PEDIGREE FILE, LINE           3\n NEGATIVE DAM ID.\n \n"));
}

TEST(PedigreeStops, ParentsAboveThePedigree) {
  EXPECT_EQ(console_of_failed_pass("ped_big_sire", "1 0 0\n2 3 1\n", 2),
            crlf(" \n FATAL ERROR IN PEDIGREE FILE, LINE           2\n"
                 " SIRE ID ABOVE THE NUMBER OF PEDIGREE MEMBERS.\n \n"));
  EXPECT_EQ(console_of_failed_pass("ped_big_dam", "1 0 0\n2 0 9\n", 2),
            crlf(" \n FATAL ERROR IN PEDIGREE FILE, LINE           2\n"
                 " DAM ID ABOVE THE NUMBER OF PEDIGREE MEMBERS.\n \n"));
}

TEST(PedigreeStops, BlockWithFewerLevelsThanMembers) {
  pass_setup c;
  c.n_effects = 3;
  c.effect = 2;
  c.NLEV = {5, 3, 2};
  c.CORR = {1, 2, 1};
  EXPECT_EQ(console_of_failed_pass("ped_nlev", "1 0 0\n2 0 0\n3 1 2\n", 3, c),
            crlf(" \n FATAL ERROR: EFFECT           3 HAS FEWER LEVELS (NLEV) THAN\n"
                 " PEDIGREE MEMBERS:           2 <           3\n \n"));
}

TEST(PedigreeStops, FullStoreStops) {
  pass_setup c;
  c.NZ = 3;
  std::string out = console_of_failed_pass("ped_full", ped_text(small_pedigree), 13, c);
  EXPECT_NE(out.find("NZ TOO SMALL - NO ROOM FOR NEW ENTRY"), std::string::npos) << out;
}

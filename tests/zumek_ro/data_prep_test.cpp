// The data step of zumek_ro: "DAT1.sal", family blocks, progress lines, read failures, and
// the link rule of the blocks.
#include "zumek_ro/data_prep.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <span>

#include "runtime/text_io.hpp"
#include "tests/support/e2e.hpp"
#include "tests/zumek_ro/ro_inputs.hpp"
#include "zumek_ro/parameters.hpp"

using namespace testing_support;

namespace {

// Five effects: herd/head code, a class effect with drop_last_level, a class, animal, dam.
std::string small_param(int nrdf) {
  return ro_test::param_text_with({{19, std::to_string(nrdf)},
                                   {27, "3 2 4 40 40"},
                                   {28, "0 0 0 0 0"},
                                   {30, "0 0 0 0 0"},
                                   {31, "0 1 0 0 1"}});
}

// Records: value 1 (2 = head), value 2, value 3, animal_id, dam_id, observation.
const char* small_dat =
    "2 1 1 10 0 5.5\n"      // r1  head of family 1
    "1 2 2 11 10 6.25\n"    // r2  daughter of r1: family 1; value 2 = NLEV 2 is dropped
    "2 1 3 20 0 4.0\n"      // r3  head nobody names: rest group
    "1 1 1 12 11 3.5\n"     // r4  rest group
    "3 2 2 30 0 -1.5\n"     // r5  rest group, value 2 dropped
    "1 1 4 14 12 2.0\n"     // r6  rest group; its dam is r4's animal: a linked pair
    "2 2 4 40 0 0.125\n"    // r7  head of family 2, value 2 dropped
    "1 1 1 41 40 1e-3\n"    // r8  family 2 (formed on dam 40, which is then dropped)
    "1 1 1 50 51 2.5\n"     // r9  rest group; names the later r10 as dam: no link
    "1 1 1 51 0 3.0\n";     // r10 rest group

// Free-form reals, 24 columns each.
const std::string R0 = "  0.000000000000000E+000";
const std::string R1 = "   1.00000000000000     ";
const std::string R2 = "   2.00000000000000     ";
const std::string R3 = "   3.00000000000000     ";
const std::string R4 = "   4.00000000000000     ";

std::string rec(const std::string& a, const std::string& b, const std::string& c,
                const std::string& d, const std::string& e, const std::string& f) {
  return a + b + c + "\r\n" + d + e + f + "\r\n";
}
std::string id(const char* v) { return std::string("   ") + v + "     "; }

const std::string expected_dat1 =
    // family 1
    rec(R2, R1, R1, id("10.0000000000000"), R0, id("5.50000000000000")) +
    rec(R1, R0, R2, id("11.0000000000000"), id("10.0000000000000"), id("6.25000000000000")) +
    // family 2
    rec(R2, R0, R4, id("40.0000000000000"), R0, "  0.125000000000000     ") +
    rec(R1, R1, R1, id("41.0000000000000"), R0, "  1.000000000000000E-003") +
    // rest group
    rec(R2, R1, R3, id("20.0000000000000"), R0, R4) +
    rec(R1, R1, R1, id("12.0000000000000"), id("11.0000000000000"), id("3.50000000000000")) +
    rec(R3, R0, R2, id("30.0000000000000"), R0, "  -1.50000000000000     ") +
    rec(R1, R1, R4, id("14.0000000000000"), id("12.0000000000000"), R2) +
    rec(R1, R1, R1, id("50.0000000000000"), id("51.0000000000000"), id("2.50000000000000")) +
    rec(R1, R1, R1, id("51.0000000000000"), R0, R3);

void enter(const std::string& name, const std::string& param, const std::string& dat) {
  auto dir = scratch_dir("ro_data_" + name);
  write_file(dir / "param.txt", param);
  write_file(dir / "dat.txt", dat);
  std::filesystem::current_path(dir);
}

// Reads the blocks back from "DAT1.sal" as the assembly does: record_value, then observation.
void read_back(ro::run_state& s) {
  rt::text_in f;
  rt::open_in(f, 21, "DAT1.sal");
  for (ro::family_block& b : s.family)
    for (std::int32_t r = 1; r <= b.n_records; ++r)
      rt::read(f, {std::span<double>(&b.record_value(1, r), static_cast<std::size_t>(s.n_effects)),
                   b.observation(r)});
  rt::close(f);
}

std::vector<std::pair<int, int>> pairs_of(const ro::family_block& b) {
  std::vector<std::pair<int, int>> v;
  for (int p = 1; p <= b.n_links; ++p) v.emplace_back(b.link_first(p), b.link_second(p));
  return v;
}

}  // namespace

TEST(RoDataStep, Dat1HoldsFamiliesInOrderWithLastLevelsDropped) {
  enter("small", small_param(10), small_dat);
  ro::run_state s;
  ro::read_parameters(s);
  testing::internal::CaptureStdout();
  ro::prepare_data(s);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");   // no families line, no progress

  EXPECT_EQ(read_file("DAT1.sal"), expected_dat1);
  ASSERT_EQ(s.n_families, 3);
  ASSERT_EQ(s.family.size(), 3u);
  const int sizes[] = {2, 2, 6};
  for (int f = 1; f <= 3; ++f) {
    const ro::family_block& b = s.family[f - 1];
    EXPECT_EQ(b.n_records, sizes[f - 1]);
    EXPECT_EQ(b.is_rest_group, f == 3 ? 1 : 0);
    const int n = b.n_records;
    EXPECT_EQ(b.equation.rows, 5);
    EXPECT_EQ(b.equation.cols, n);
    EXPECT_EQ(b.record_value.d.size(), 5 * n);
    EXPECT_EQ(b.coefficient.d.size(), 5 * n);
    EXPECT_EQ(b.observation.size(), n);
    EXPECT_EQ(b.residual.size(), n);
    for (double x : b.record_value.d) EXPECT_EQ(x, 0.0);
    for (std::int32_t e : b.equation.d) EXPECT_EQ(e, 0);
    if (f < 3) {
      EXPECT_EQ(b.residual_matrix.d.size(), n * n);
      EXPECT_EQ(b.RINV.d.size(), n * n);
    } else {   // the rest group never gets dense matrices
      EXPECT_EQ(b.residual_matrix.d.size(), 0);
      EXPECT_EQ(b.RINV.d.size(), 0);
      EXPECT_EQ(b.rest_residual_diag.size(), n);
      EXPECT_EQ(b.rest_rinv_diag.size(), n);
    }
  }
}

TEST(RoDataStep, LinksFollowTheReadBackValues) {
  enter("links", small_param(10), small_dat);
  ro::run_state s;
  ro::read_parameters(s);
  ro::prepare_data(s);
  read_back(s);
  for (ro::family_block& b : s.family) ro::find_linked_pairs(b, s.n_effects);

  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(pairs_of(s.family[0]), (P{{1, 2}}));   // dam 10 of record 2 = animal of record 1
  EXPECT_EQ(pairs_of(s.family[1]), P{});           // the dam 40 was dropped to 0
  // Rest group: r3 r4 r5 r6 r9 r10; r6 (4th) names r4 (2nd); r9 names the later r10: nothing.
  const ro::family_block& rest = s.family[2];
  EXPECT_EQ(pairs_of(rest), (P{{2, 4}}));
  EXPECT_EQ(rest.rest_residual_link.size(), 1);
  EXPECT_EQ(rest.rest_rinv_link.size(), 1);
  EXPECT_EQ(rest.observation(3), -1.5);
  // Per-record partners: records 2 and 4 see each other, pair 1.
  EXPECT_EQ(rest.link_row_start(2), 1);
  EXPECT_EQ(rest.link_row_start(3), 2);
  EXPECT_EQ(rest.link_row_start(7), 3);
  EXPECT_EQ(rest.link_partner(1), 4);
  EXPECT_EQ(rest.link_partner(2), 2);
  EXPECT_EQ(rest.link_partner_pair(2), 1);
}

TEST(RoDataStep, ProgressLineEvery1000Records) {
  std::string dat;
  for (int i = 1; i <= 2500; ++i) dat += "1 1 1 " + std::to_string(100 + i) + " 0 1.0\n";
  enter("progress", small_param(2500), dat);
  ro::run_state s;
  ro::read_parameters(s);
  testing::internal::CaptureStdout();
  ro::prepare_data(s);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "     1000  RECORDS READ\r\n     2000  RECORDS READ\r\n");
  ASSERT_EQ(s.n_families, 1);   // no heads: one block with every record
  EXPECT_EQ(s.family[0].n_records, 2500);
  EXPECT_EQ(s.family[0].is_rest_group, 1);
}

TEST(RoDataStep, NoRecordsGiveAnEmptyRestGroup) {
  enter("empty", small_param(0), "");
  ro::run_state s;
  ro::read_parameters(s);
  ro::prepare_data(s);
  EXPECT_EQ(read_file("DAT1.sal"), "");
  ASSERT_EQ(s.n_families, 1);
  EXPECT_EQ(s.family[0].n_records, 0);
  ro::find_linked_pairs(s.family[0], s.n_effects);
  EXPECT_EQ(s.family[0].n_links, 0);
}

TEST(RoDataStep, EndOfFileStopsWithItsMessage) {
  auto dir = scratch_dir("ro_data_eof");
  write_file(dir / "param.txt", small_param(12));
  write_file(dir / "dat.txt", small_dat);
  run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_TRUE(r.out.ends_with(
      " STEP 1. INITIALIZATION.\r\n \r\n \r\n BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER\r\n"))
      << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
}

TEST(RoDataStep, BadValueStopsNamingTheRecord) {
  auto dir = scratch_dir("ro_data_bad");
  write_file(dir / "param.txt", small_param(3));
  write_file(dir / "dat.txt", "2 1 1 10 0 5.5\n1 2 x 11 10 6.25\n1 1 1 1 1 1\n");
  run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_TRUE(r.out.ends_with(" BEWARE! ERROR          59  IN LINE           2\r\n \r\n")) << r.out;
  EXPECT_EQ(r.err, "FATAL ERROR: EXECUTION STOPPED\r\n");
  EXPECT_EQ(r.status, 1);
}

TEST(RoDataStep, StepOneConsole) {
  auto dir = scratch_dir("ro_data_console");
  write_file(dir / "param.txt", small_param(10));
  write_file(dir / "dat.txt", small_dat);
  run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_TRUE(r.out.starts_with(crlf(" ---------------------\n"
                                     " PROGRAM ZUMEK_RO v1.1\n"
                                     " ---------------------\n"
                                     " \n"
                                     " PARAMETER FILE SUCCESFULLY READ. START EXECUTION...\n"
                                     " \n"
                                     " STEP 1. INITIALIZATION.\n"
                                     " \n"
                                     " \n"
                                     " NUMBER OF EQUATIONS:          89\n"
                                     "    NUMBER OF BLOCKS:           3\n"
                                     " \n"
                                     " ***\n")))
      << r.out;
  EXPECT_EQ(read_file(dir / "DAT1.sal"), expected_dat1);
}

// The link rule on blocks built directly: the brute-force double loop against the indexed
// search used for large blocks, with repeated identifiers in both directions.
TEST(RoLinks, LargeBlockMatchesTheDoubleLoop) {
  std::mt19937 gen(7);
  for (int n : {1, 5, 32, 33, 200, 1000}) {
    ro::family_block b;
    b.n_records = n;
    b.is_rest_group = 1;
    b.record_value.assign(4, n, 0.0);
    std::uniform_int_distribution<int> pick(0, n / 3 + 2);
    for (int r = 1; r <= n; ++r) {
      b.record_value(3, r) = pick(gen);
      b.record_value(4, r) = pick(gen) == 0 ? -0.0 : pick(gen);
    }
    ro::find_linked_pairs(b, 4);
    std::vector<std::pair<int, int>> want;
    for (int l = 1; l < n; ++l)
      for (int m = l + 1; m <= n; ++m)
        if (b.record_value(4, m) == b.record_value(3, l)) want.emplace_back(l, m);
    ASSERT_EQ(pairs_of(b), want) << n;
    // Row by row: earlier partners, then later ones, each ascending; pair numbers match.
    for (int r = 1; r <= n; ++r) {
      std::vector<int> row;
      for (int p = 1; p <= b.n_links; ++p) {
        if (b.link_second(p) == r) row.push_back(b.link_first(p));
      }
      for (int p = 1; p <= b.n_links; ++p)
        if (b.link_first(p) == r) row.push_back(b.link_second(p));
      std::vector<int> got;
      for (int q = b.link_row_start(r); q < b.link_row_start(r + 1); ++q) {
        got.push_back(b.link_partner(q));
        int p = b.link_partner_pair(q);
        EXPECT_TRUE((b.link_first(p) == r && b.link_second(p) == b.link_partner(q)) ||
                    (b.link_second(p) == r && b.link_first(p) == b.link_partner(q)));
      }
      EXPECT_EQ(got, row) << n << " " << r;
    }
  }
}

TEST(RoLinks, OnlyTheLaterRecordsDamLinks) {
  ro::family_block b;
  b.n_records = 3;
  b.record_value.assign(4, 3, 0.0);
  // animal, dam: r1 = (7, 9), r2 = (9, 7), r3 = (5, 9)
  b.record_value(3, 1) = 7; b.record_value(4, 1) = 9;
  b.record_value(3, 2) = 9; b.record_value(4, 2) = 7;
  b.record_value(3, 3) = 5; b.record_value(4, 3) = 9;
  ro::find_linked_pairs(b, 4);
  // (1,2): dam of r2 = animal of r1. (2,3): dam of r3 = animal of r2. r1's dam 9 names the
  // later r2 and links nothing by itself.
  EXPECT_EQ(pairs_of(b), (std::vector<std::pair<int, int>>{{1, 2}, {2, 3}}));
}

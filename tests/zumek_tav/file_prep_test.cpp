// The data step of zumek_tav: families, "DAT1.sal", family blocks and the console block.
#include "zumek_tav/file_prep.hpp"

#include <gmock/gmock-matchers.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <span>
#include <string>

#include "tests/support/e2e.hpp"

using namespace testing_support;
using testing::HasSubstr;

namespace {

// Free-form real fields as the writer lays them out: 15 significant digits in 24 columns,
// fixed-point numbers right-aligned in 19 columns and followed by 5 blanks, exponent form
// (zero included) right-aligned in 24.
std::string fx(const std::string& digits) {
  return std::string(19 - digits.size(), ' ') + digits + "     ";
}
std::string ex(const std::string& digits) { return std::string(24 - digits.size(), ' ') + digits; }
const std::string zero = ex("0.000000000000000E+000");

void enter(const std::string& name, const std::string& dat) {
  auto dir = scratch_dir(name);
  write_file(dir / "dat.txt", dat);
  ASSERT_EQ(::chdir(dir.c_str()), 0);
}

tav::run_state state(int n_effects, int nrdf) {
  tav::run_state s;
  s.n_effects = n_effects;
  s.NRDF = nrdf;
  return s;
}

// Runs FILE_PREP and returns what it wrote to the console.
std::string run_file_prep(tav::run_state& s) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  tav::FILE_PREP(s);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

std::string family_block_text(const std::string& count) {
  return crlf(" \n ---------------------\n No. MATERNAL FAMILIES: " + count +
              "\n ---------------------\n \n");
}

// Five effects: value 1 (head code), value 2, animal, dam, observation.
//   r1 plain record (rest); r2 daughter of 200 listed before her dam's head; r3 head 100;
//   r4, r6 daughters of 100; r5 head nobody names (rest, its number reused); r7 head 200;
//   r8 value 1 = 2.0000001, not a head; r9 daughter of 300, who heads no family.
const char* example_dat =
    "1 1 101 0 10.5\n"
    "1, 3, 201, 200, 6.0   comma separated\n"
    "2 2 100 0 11.0\n"
    "1 1 102 100 12.0\n"
    "2 1 103\n"
    "7 13.25 record over two lines\n"
    "1 2 104 100 9.75\n"
    "2 1 200 0 7.0\n"
    "2.0000001 1 300 0 1.5\n"
    "1 1 301 300 -2.0\n";

}  // namespace

TEST(FilePrep, WritesFamiliesInOrderWithRunningRecordNumbers) {
  enter("file_prep_example", example_dat);
  tav::run_state s = state(5, 9);
  std::string console = run_file_prep(s);
  EXPECT_EQ(console, family_block_text("   3"));
  ASSERT_EQ(s.n_families, 3);

  // Family 1: r3, r4, r6; family 2: r2, r7; rest group: r1, r5, r8, r9.
  auto rec = [](const std::string& v1, const std::string& v2, const std::string& number,
                const std::string& animal, const std::string& dam, const std::string& obs) {
    return v1 + v2 + number + "\r\n" + animal + dam + obs + "\r\n";
  };
  std::string expected =
      rec(fx("2.00000000000000"), fx("2.00000000000000"), fx("1.00000000000000"),
          fx("100.000000000000"), zero, fx("11.0000000000000")) +
      rec(fx("1.00000000000000"), fx("1.00000000000000"), fx("2.00000000000000"),
          fx("102.000000000000"), fx("100.000000000000"), fx("12.0000000000000")) +
      rec(fx("1.00000000000000"), fx("2.00000000000000"), fx("3.00000000000000"),
          fx("104.000000000000"), fx("100.000000000000"), fx("9.75000000000000")) +
      rec(fx("1.00000000000000"), fx("3.00000000000000"), fx("4.00000000000000"),
          fx("201.000000000000"), fx("200.000000000000"), fx("6.00000000000000")) +
      rec(fx("2.00000000000000"), fx("1.00000000000000"), fx("5.00000000000000"),
          fx("200.000000000000"), zero, fx("7.00000000000000")) +
      rec(fx("1.00000000000000"), fx("1.00000000000000"), fx("6.00000000000000"),
          fx("101.000000000000"), zero, fx("10.5000000000000")) +
      rec(fx("2.00000000000000"), fx("1.00000000000000"), fx("7.00000000000000"),
          fx("103.000000000000"), fx("7.00000000000000"), fx("13.2500000000000")) +
      rec(fx("2.00000010000000"), fx("1.00000000000000"), fx("8.00000000000000"),
          fx("300.000000000000"), zero, fx("1.50000000000000")) +
      rec(fx("1.00000000000000"), fx("1.00000000000000"), fx("9.00000000000000"),
          fx("301.000000000000"), fx("300.000000000000"), fx("-2.00000000000000"));
  EXPECT_EQ(read_file("DAT1.sal"), expected);

  // Family 1 links its head (position 1) with both daughters, not the daughters together.
  tav::family_block& f1 = s.family_block(1);
  ASSERT_EQ(f1.n_records, 3);
  EXPECT_EQ(f1.diagonal_only, 0);
  ASSERT_EQ(f1.dam_link_matrix.size(), 9);
  rt::col_view l1 = tav::dense(f1.dam_link_matrix, 3);
  const double want1[3][3] = {{0, 1, 1}, {1, 0, 0}, {1, 0, 0}};
  for (int a = 1; a <= 3; ++a)
    for (int b = 1; b <= 3; ++b) EXPECT_EQ(l1(a, b), want1[a - 1][b - 1]) << a << "," << b;
  // Family 2: the daughter comes before her dam, so nothing is linked.
  tav::family_block& f2 = s.family_block(2);
  ASSERT_EQ(f2.n_records, 2);
  for (double v : f2.dam_link_matrix) EXPECT_EQ(v, 0.0);
  for (tav::family_block* b : {&f1, &f2}) {
    EXPECT_EQ(b->residual_matrix.size(), b->n_records * b->n_records);
    EXPECT_EQ(b->RINV.size(), b->n_records * b->n_records);
    for (double v : b->residual_matrix) EXPECT_EQ(v, 0.0);
    for (double v : b->RINV) EXPECT_EQ(v, 0.0);
  }
  // The rest group keeps only diagonals, all zero.
  tav::family_block& rest = s.family_block(3);
  EXPECT_EQ(rest.n_records, 4);
  EXPECT_EQ(rest.diagonal_only, 1);
  EXPECT_EQ(rest.dam_link_matrix.size(), 4);
  EXPECT_EQ(rest.residual_matrix.size(), 4);
  EXPECT_EQ(rest.RINV.size(), 4);

  // "DAT1.sal" is left open for the assembly on unit 21, at its start: the records read from
  // it are those of the file, in its order, up to its end.
  ASSERT_TRUE(s.dat1_file.open);
  EXPECT_EQ(s.dat1_file.unit, 21);
  EXPECT_EQ(s.dat1_file.text, expected);
  double values[6] = {};
  for (int r = 1; r <= 9; ++r) {
    ASSERT_EQ(rt::read_with_status(s.dat1_file, {std::span<double>(values, 6)}), rt::read_ok) << r;
    EXPECT_EQ(values[2], static_cast<double>(r));
  }
  EXPECT_EQ(values[3], 301.0);
  EXPECT_EQ(rt::read_with_status(s.dat1_file, {std::span<double>(values, 6)}),
            rt::read_end_of_file);
}

TEST(FilePrep, NoRecordsGiveAnEmptyRestGroupAndAnEmptyFile) {
  enter("file_prep_empty", "");
  tav::run_state s = state(5, 0);
  EXPECT_EQ(run_file_prep(s), family_block_text("   1"));
  ASSERT_EQ(s.n_families, 1);
  EXPECT_EQ(s.family_block(1).n_records, 0);
  EXPECT_EQ(read_file("DAT1.sal"), "");
}

TEST(FilePrep, EveryRecordInAFamilyLeavesTheRestGroupEmpty) {
  enter("file_prep_all", "2 5 0 11\n1 6 5 12\n");
  tav::run_state s = state(4, 2);
  run_file_prep(s);
  ASSERT_EQ(s.n_families, 2);
  EXPECT_EQ(s.family_block(1).n_records, 2);
  EXPECT_EQ(s.family_block(2).n_records, 0);
  EXPECT_EQ(s.family_block(2).RINV.size(), 0);
  EXPECT_EQ(tav::dense(s.family_block(1).dam_link_matrix, 2)(1, 2), 1.0);
}

TEST(FilePrep, TenThousandFamiliesShowAsterisks) {
  // 9999 heads with one daughter each: 10000 families with the rest group.
  std::string dat;
  for (int h = 1; h <= 9999; ++h) {
    dat += "2 " + std::to_string(h) + " 0 1\n";
    dat += "1 " + std::to_string(100000 + h) + " " + std::to_string(h) + " 1\n";
  }
  enter("file_prep_many", dat);
  tav::run_state s = state(4, 2 * 9999);
  EXPECT_EQ(run_file_prep(s), family_block_text("****"));
  EXPECT_EQ(s.n_families, 10000);
  EXPECT_EQ(s.family_block(10000).n_records, 0);
}

TEST(FilePrep, ShortDataFileStopsWithTheNrdfMessage) {
  enter("file_prep_eof", "1 1 101 0 10.5\n1 1 102 0 11.5\n");
  EXPECT_EXIT(
      {
        std::freopen("console.txt", "wb", stdout);
        tav::run_state s = state(5, 3);
        tav::FILE_PREP(s);
      },
      testing::ExitedWithCode(1), testing::Eq(std::string()));
  EXPECT_EQ(read_file("console.txt"),
            crlf(" \n BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER\n"));
}

TEST(FilePrep, BadValueStopsWithStatusAndRecordIndex) {
  enter("file_prep_bad", "1 1 101 0 10.5\n1 1\n102 0 11.5\n1 1 1x3 0 2\n");
  EXPECT_EXIT(
      {
        std::freopen("console.txt", "wb", stdout);
        tav::run_state s = state(5, 3);
        tav::FILE_PREP(s);
      },
      testing::ExitedWithCode(1), HasSubstr("FATAL ERROR: EXECUTION STOPPED"));
  EXPECT_EQ(read_file("console.txt"),
            crlf(" BEWARE! ERROR          59  IN LINE           3\n \n"));
}

TEST(FilePrep, MissingDataFileIsTheRunTimeError) {
  auto dir = scratch_dir("file_prep_missing");
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  EXPECT_EXIT(
      {
        tav::run_state s = state(5, 0);
        tav::FILE_PREP(s);
      },
      testing::ExitedWithCode(29), HasSubstr("file not found, unit 1, file "));
}

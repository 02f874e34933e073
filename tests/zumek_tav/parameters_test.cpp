// "param.txt" of zumek_tav: line positions, derived grid values and the checks of bad input.
#include "zumek_tav/parameters.hpp"

#include <gmock/gmock-matchers.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/e2e.hpp"

using namespace testing_support;
using testing::HasSubstr;

namespace {

// A valid eight-effect parameter file; lines not listed carry a comment.
std::map<int, std::string> good_lines() {
  return {{15, "12345"},
          {16, "10"},
          {17, "1000"},
          {18, "50"},
          {19, "20"},
          {20, "8"},
          {26, "0 0 0 0 0 0 0 0"},
          {27, "3 4 5 6 7 20 50 50"},
          {28, "0 0 0 0 1 3 2 0"},
          {29, "0 0 0 0 0 0 0 0"},
          {30, "0 0 0 0 1 1 2 0"},
          {31, "1 0 0 0 0 0 0 0"},
          {37, "1.5"},
          {38, "0.25"},
          {39, "0.3"},
          {40, "0.4"},
          {41, "0.5"},
          {42, "0.05"},
          {43, "0.6"},
          {46, "4"},
          {47, "5"},
          {48, "6"},
          {49, "7"},
          {52, "9"},
          {53, "-0.9 0.9"},
          {54, "0.01"},
          {59, "T"}};
}

// Writes "param.txt" with 59 lines (plus extra ones) in a fresh folder and enters it.
void enter_with_params(const std::string& name, const std::map<int, std::string>& lines,
                       const std::vector<std::string>& extra = {}) {
  auto dir = scratch_dir(name);
  std::string text;
  for (int l = 1; l <= 59; ++l) {
    auto it = lines.find(l);
    text += it != lines.end() ? it->second : "comment line " + std::to_string(l);
    text += "\r\n";
  }
  for (const auto& e : extra) text += e + "\n";
  write_file(dir / "param.txt", text);
  ASSERT_EQ(::chdir(dir.c_str()), 0);
}

// Expects read_parameters to stop with exit status 1 and the stop text on stderr.
void expect_stop(const std::map<int, std::string>& lines, const std::string& text) {
  enter_with_params("param_stop", lines);
  EXPECT_EXIT(
      {
        tav::run_state s;
        tav::read_parameters(s);
      },
      testing::ExitedWithCode(1), HasSubstr(text));
}

}  // namespace

TEST(ReadParameters, ReadsEveryLinePositionIgnoringCommentsAfterValues) {
  auto lines = good_lines();
  lines[15] = "12345   seed of the run";
  lines[27] = "3 4 5 6 7 20 50 50 99 99 levels, extra values ignored";
  lines[53] = "-0.9, 0.9   coarse range";
  enter_with_params("param_good", lines);
  tav::run_state s;
  tav::read_parameters(s);
  EXPECT_EQ(s.seed, 12345);
  EXPECT_EQ(s.n_rounds, 10);
  EXPECT_EQ(s.NZ, 1000);
  EXPECT_EQ(s.n_pedigree, 50);
  EXPECT_EQ(s.NRDF, 20);
  ASSERT_EQ(s.n_effects, 8);
  EXPECT_EQ(s.NLEV(1), 3);
  EXPECT_EQ(s.NLEV(8), 50);
  EXPECT_EQ(s.TYPO(6), 3);
  EXPECT_EQ(s.CORR(7), 2);
  EXPECT_EQ(s.drop_last_level(1), 1);
  EXPECT_EQ(s.remaining_levels.size(), 8);
  EXPECT_EQ(s.S2E0, 1.5);
  EXPECT_EQ(s.p_PAR, 0.25);
  EXPECT_EQ(s.G0(5, 1, 1), 0.3);
  EXPECT_EQ(s.G0(6, 1, 1), 0.4);
  EXPECT_EQ(s.G0(7, 1, 1), 0.5);
  EXPECT_EQ(s.G0(7, 1, 2), 0.05);
  EXPECT_EQ(s.G0(7, 2, 1), 0.05);
  EXPECT_EQ(s.G0(7, 2, 2), 0.6);
  // Every other element of G0, and all of g_draw_inverse, is zero.
  double others = 0.0;
  for (int k = 1; k <= 8; ++k)
    for (int a = 1; a <= 2; ++a)
      for (int b = 1; b <= 2; ++b) {
        others += s.g_draw_inverse(k, a, b) != 0.0;
        if (k == 5 && a == 1 && b == 1) continue;
        if (k == 6 && a == 1 && b == 1) continue;
        if (k == 7) continue;
        others += s.G0(k, a, b) != 0.0;
      }
  EXPECT_EQ(others, 0.0);
  EXPECT_EQ(s.G.extent(1), 8);
  EXPECT_EQ(s.residual_prior_df, 4.0);
  EXPECT_EQ(s.type1_prior_df, 5.0);
  EXPECT_EQ(s.type2_prior_df, 6.0);
  EXPECT_EQ(s.type2_prior_df_second, 7.0);
  EXPECT_EQ(s.n_grid_points, 9);
  EXPECT_EQ(s.coarse_grid_start, -0.9);
  EXPECT_EQ(s.coarse_grid_end, 0.9);
  EXPECT_EQ(s.fine_grid_step, 0.01);
  EXPECT_EQ(s.fine_grid_centre, 5);
  EXPECT_EQ(s.coarse_grid_step, (0.9 - -0.9) / 8.0);
  EXPECT_EQ(s.grid.size(), 9);
  EXPECT_TRUE(s.write_solutions);
}

TEST(ReadParameters, LineFortyTwoIsCopiedEvenWhenLineFortyThreeDiffers) {
  auto lines = good_lines();
  lines[42] = "-0.125";
  lines[43] = "7.5";
  lines[59] = "F";
  enter_with_params("param_copy", lines);
  tav::run_state s;
  tav::read_parameters(s);
  EXPECT_EQ(s.G0(7, 1, 2), -0.125);
  EXPECT_EQ(s.G0(7, 2, 1), -0.125);
  EXPECT_EQ(s.G0(7, 2, 2), 7.5);
  EXPECT_FALSE(s.write_solutions);
}

TEST(ReadParameters, ABlankLineShiftsEveryLaterValueByOneLine) {
  auto lines = good_lines();
  lines[53] = "";        // the coarse range is missing: its read goes on to lines 54 and 55
  lines[55] = "0.5";
  lines[56] = "0.002";
  enter_with_params("param_shift", lines, {"comment line 60", "F"});
  tav::run_state s;
  tav::read_parameters(s);
  EXPECT_EQ(s.coarse_grid_start, 0.01);
  EXPECT_EQ(s.coarse_grid_end, 0.5);
  EXPECT_EQ(s.fine_grid_step, 0.002);
  EXPECT_EQ(s.coarse_grid_step, (0.5 - 0.01) / 8.0);
  EXPECT_FALSE(s.write_solutions);  // taken from line 61
}

TEST(ReadParameters, EvenNumberOfGridPointsStops) {
  for (const char* n : {"0", "2", "4", "-2"}) {
    auto lines = good_lines();
    lines[52] = n;
    lines[53] = "not read";
    expect_stop(lines, "PLEASE, SET AN ODD NUMBER OF GRID POINTS. PROGRAM TERMINATED.");
  }
}

TEST(ReadParameters, BadCountsAndSettingsStopBeforeUse) {
  struct bad {
    int line;
    const char* value;
    const char* text;
  };
  const bad cases[] = {
      {20, "3", "PLEASE, SET 4 OR MORE EFFECTS (LINE 20). PROGRAM TERMINATED."},
      {20, "-8", "PLEASE, SET 4 OR MORE EFFECTS (LINE 20). PROGRAM TERMINATED."},
      {16, "-1", "PLEASE, SET A NON-NEGATIVE NUMBER OF ROUNDS (LINE 16). PROGRAM TERMINATED."},
      {17, "-5", "PLEASE, SET A NON-NEGATIVE NZ (LINE 17). PROGRAM TERMINATED."},
      {18, "-1", "PLEASE, SET A NON-NEGATIVE PEDIGREE SIZE (LINE 18). PROGRAM TERMINATED."},
      {19, "-20", "PLEASE, SET A NON-NEGATIVE NRDF (LINE 19). PROGRAM TERMINATED."},
      {30, "0 0 0 0 3 1 2 0", "PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT 5). PROGRAM TERMINATED."},
      {30, "0 0 0 -1 1 1 2 0", "PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT 4). PROGRAM TERMINATED."},
      {30, "0 0 0 0 1 1 0 2",
       "PLEASE, CHECK CORR (LINE 30): THE BLOCK OF EFFECT 8 REACHES PAST THE LAST EFFECT. "
       "PROGRAM TERMINATED."},
      {52, "1", "PLEASE, SET 3 OR MORE GRID POINTS (LINE 52). PROGRAM TERMINATED."},
      {52, "-3", "PLEASE, SET 3 OR MORE GRID POINTS (LINE 52). PROGRAM TERMINATED."},
  };
  for (const bad& c : cases) {
    auto lines = good_lines();
    lines[c.line] = c.value;
    expect_stop(lines, c.text);
  }
}

TEST(ReadParameters, SeedsThatCannotStartTheGeneratorStop) {
  const char* text =
      "PLEASE, SET ANOTHER SEED (LINE 15): THIS ONE CANNOT START THE RANDOM GENERATOR. "
      "PROGRAM TERMINATED.";
  // |seed| + 1 must fit 32 bits; (|seed| XOR 888889999) OR 1 must not be the modulus 2^31 - 1.
  const std::int32_t lock = 888889999 ^ 2147483647;
  for (std::int64_t seed : {std::int64_t{2147483647}, std::int64_t{-2147483648LL},
                            std::int64_t{lock}, std::int64_t{lock ^ 1}, std::int64_t{-lock}}) {
    auto lines = good_lines();
    lines[15] = std::to_string(seed);
    expect_stop(lines, text);
  }
  for (std::int32_t seed : {0, -1, 2147483646, lock + 2}) {
    auto lines = good_lines();
    lines[15] = std::to_string(seed);
    enter_with_params("param_seed_ok", lines);
    tav::run_state s;
    tav::read_parameters(s);
    EXPECT_EQ(s.seed, seed);
  }
}

TEST(ReadParameters, MissingOrShortFileEndsWithTheRunTimeError) {
  auto dir = scratch_dir("param_missing");
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  EXPECT_EXIT(
      {
        tav::run_state s;
        tav::read_parameters(s);
      },
      testing::ExitedWithCode(29), HasSubstr("file not found, unit 37, file "));
  auto short_dir = scratch_dir("param_short");
  write_file(short_dir / "param.txt", "a\nb\n");
  ASSERT_EQ(::chdir(short_dir.c_str()), 0);
  EXPECT_EXIT(
      {
        tav::run_state s;
        tav::read_parameters(s);
      },
      testing::ExitedWithCode(24), HasSubstr("end-of-file during read, unit 37, file "));
}

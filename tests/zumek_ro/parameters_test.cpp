// The 57-line parameter file of zumek_ro: line positions, derived values and input checks.
#include "zumek_ro/parameters.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/e2e.hpp"
#include "tests/zumek_ro/ro_inputs.hpp"

using namespace testing_support;

namespace {

// Writes param.txt into a fresh folder and makes it the working directory.
void enter_with_param(const std::string& name, const std::string& text) {
  auto dir = scratch_dir("ro_param_" + name);
  write_file(dir / "param.txt", text);
  std::filesystem::current_path(dir);
}

ro::run_state read_text(const std::string& name, const std::string& text) {
  enter_with_param(name, text);
  ro::run_state s;
  ro::read_parameters(s);
  return s;
}

}  // namespace

TEST(RoParameters, EveryLinePositionLandsInItsParameter) {
  ro::run_state s = read_text("positions", ro_test::param_text(ro_test::default_param_lines()));
  EXPECT_EQ(s.seed, 12345);
  EXPECT_EQ(s.n_rounds, 10);
  EXPECT_EQ(s.NZ, 1000);
  EXPECT_EQ(s.n_pedigree, 5);
  EXPECT_EQ(s.NRDF, 4);
  ASSERT_EQ(s.n_effects, 5);
  const int nlev[] = {3, 2, 4, 5, 5}, typo[] = {0, 0, 1, 2, 0}, corr[] = {0, 0, 1, 2, 0};
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(s.NEST(k), 0);
    EXPECT_EQ(s.NLEV(k), nlev[k - 1]);
    EXPECT_EQ(s.TYPO(k), typo[k - 1]);
    EXPECT_EQ(s.fixed_effect_type(k), 0);
    EXPECT_EQ(s.CORR(k), corr[k - 1]);
    EXPECT_EQ(s.drop_last_level(k), k == 1 ? 1 : 0);
  }
  EXPECT_EQ(s.remaining_levels.size(), 5);
  EXPECT_EQ(s.S2E0, 2.5);
  EXPECT_EQ(s.p_PAR, 0.3);
  EXPECT_EQ(s.residual_prior_df, 4.0);
  EXPECT_EQ(s.type1_prior_df, 5.0);
  EXPECT_EQ(s.type2_prior_df, 6.0);
  EXPECT_EQ(s.n_grid_points, 9);
  EXPECT_EQ(s.coarse_grid_start, -0.8);
  EXPECT_EQ(s.coarse_grid_end, 0.8);
  EXPECT_EQ(s.fine_grid_step, 0.05);
  EXPECT_EQ(s.fine_grid_centre, 5);
  EXPECT_EQ(s.coarse_grid_step, (0.8 - -0.8) / 8.0);
  EXPECT_EQ(s.grid.size(), 9);
  EXPECT_TRUE(s.write_solutions);
}

TEST(RoParameters, G0GetsFourValuesAndTheCopyOfLine41) {
  ro::run_state s = read_text("g0", ro_test::param_text_with({{42, "0.9 0.55 extra values"}}));
  EXPECT_EQ(s.G0.extent(1), 5);
  EXPECT_EQ(s.G0(3, 1, 1), 0.7);
  EXPECT_EQ(s.G0(4, 1, 1), 1.1);
  EXPECT_EQ(s.G0(4, 1, 2), 0.2);
  EXPECT_EQ(s.G0(4, 2, 1), 0.2);   // line 41, whatever line 42 holds
  EXPECT_EQ(s.G0(4, 2, 2), 0.9);
  for (int k = 1; k <= 5; ++k)
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) {
        bool set = (k == 3 && i == 1 && j == 1) || k == 4;
        if (!set) {
          EXPECT_EQ(s.G0(k, i, j), 0.0) << k << i << j;
        }
      }
}

TEST(RoParameters, AShortLineShiftsTheLaterPositions) {
  // Line 51 lacks its second value: the read takes line 52, and every later read one line on.
  ro::run_state s = read_text(
      "shift", ro_test::param_text_with({{51, "-0.8"}, {53, "0.01"}, {58, "F"}}));
  EXPECT_EQ(s.coarse_grid_start, -0.8);
  EXPECT_EQ(s.coarse_grid_end, 0.05);
  EXPECT_EQ(s.fine_grid_step, 0.01);
  EXPECT_FALSE(s.write_solutions);
}

// Each bad value stops with its message and exit status 1.
struct bad_case {
  const char* name;
  int line;
  const char* text;
  const char* message;   // regular expression on the standard error stream
};

#define END " PROGRAM TERMINATED\\.\r?\n$"
#define SEED "^PLEASE, SET ANOTHER SEED \\(LINE 15\\): THIS ONE CANNOT START THE RANDOM GENERATOR\\." END

class RoParameterChecks : public ::testing::TestWithParam<bad_case> {};

TEST_P(RoParameterChecks, StopsWithMessageAndStatus1) {
  const bad_case& c = GetParam();
  enter_with_param(std::string("bad_") + c.name, ro_test::param_text_with({{c.line, c.text}}));
  ro::run_state s;
  EXPECT_EXIT(ro::read_parameters(s), ::testing::ExitedWithCode(1), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RoParameterChecks,
    ::testing::Values(
        bad_case{"even_grid", 50, "4", "^PLEASE, SET AN ODD NUMBER OF GRID POINTS\\. PROGRAM TERMINATED\\.\r?\n$"},
        bad_case{"zero_grid", 50, "0", "^PLEASE, SET AN ODD NUMBER OF GRID POINTS\\. PROGRAM TERMINATED\\.\r?\n$"},
        bad_case{"one_grid", 50, "1", "^PLEASE, SET 3 OR MORE GRID POINTS \\(LINE 50\\)\\." END},
        bad_case{"negative_grid", 50, "-3", "^PLEASE, SET 3 OR MORE GRID POINTS \\(LINE 50\\)\\." END},
        bad_case{"two_effects", 20, "2", "^PLEASE, SET 3 OR MORE EFFECTS \\(LINE 20\\)\\." END},
        bad_case{"negative_rounds", 16, "-1", "^PLEASE, SET A NON-NEGATIVE NUMBER OF ROUNDS \\(LINE 16\\)\\." END},
        bad_case{"negative_nz", 17, "-5", "^PLEASE, SET A NON-NEGATIVE NZ \\(LINE 17\\)\\." END},
        bad_case{"negative_pedigree", 18, "-5", "^PLEASE, SET A NON-NEGATIVE PEDIGREE SIZE \\(LINE 18\\)\\." END},
        bad_case{"negative_nrdf", 19, "-4", "^PLEASE, SET A NON-NEGATIVE NRDF \\(LINE 19\\)\\." END},
        bad_case{"seed_max", 15, "2147483647", SEED},
        bad_case{"seed_max_negative", 15, "-2147483647", SEED},
        bad_case{"seed_min", 15, "-2147483648", SEED},
        bad_case{"seed_lock", 15, "1258593648", SEED},
        bad_case{"seed_lock_negative", 15, "-1258593649", SEED},
        bad_case{"corr_three", 30, "0 0 3 2 0", "^PLEASE, SET CORR TO 0, 1 OR 2 \\(LINE 30, EFFECT 3\\)\\." END},
        bad_case{"corr_negative", 30, "-1 0 1 2 0", "^PLEASE, SET CORR TO 0, 1 OR 2 \\(LINE 30, EFFECT 1\\)\\." END},
        bad_case{"block_past_end", 30, "0 0 1 0 2", "^PLEASE, CHECK CORR \\(LINE 30\\): THE BLOCK OF EFFECT 5 REACHES PAST THE LAST EFFECT\\." END},
        bad_case{"negative_nlev", 27, "3 -2 4 5 5", "^PLEASE, SET A NON-NEGATIVE NLEV \\(LINE 27, EFFECT 2\\)\\." END},
        bad_case{"huge_nlev", 27, "2000000000 2000000000 4 5 5", "^PLEASE, CHECK NLEV \\(LINE 27\\): MORE THAN 2147483647 EQUATIONS\\." END},
        bad_case{"short_block", 27, "3 2 4 5 4", "^PLEASE, CHECK NLEV \\(LINE 27\\): EFFECT 5 OF THE PEDIGREE BLOCK OF EFFECT 4 HAS FEWER LEVELS THAN THE PEDIGREE SIZE\\." END}),
    [](const ::testing::TestParamInfo<bad_case>& i) { return std::string(i.param.name); });

TEST(RoParameters, AcceptedEdgeValues) {
  // The largest seeds that seed the generator safely, a three-point grid and three effects.
  ro::run_state s = read_text("edges", ro_test::param_text_with({{15, "-2147483646"},
                                                                 {20, "3"},
                                                                 {26, "0 0 0"},
                                                                 {27, "2 5 5"},
                                                                 {28, "1 2 0"},
                                                                 {29, "0 0 0"},
                                                                 {30, "1 2 0"},
                                                                 {31, "0 0 0"},
                                                                 {50, "3"}}));
  EXPECT_EQ(s.seed, -2147483646);
  EXPECT_EQ(s.G0(1, 1, 1), 0.7);
  EXPECT_EQ(s.G0(2, 2, 1), 0.2);
  EXPECT_EQ(s.fine_grid_centre, 2);
  EXPECT_EQ(s.coarse_grid_step, 0.8);
}

TEST(RoParameters, MissingFileIsRunTimeError29) {
  auto dir = scratch_dir("ro_param_missing");
  std::filesystem::current_path(dir);
  ro::run_state s;
  EXPECT_EXIT(ro::read_parameters(s), ::testing::ExitedWithCode(29),
              "severe \\(29\\): file not found, unit 37, file .*param\\.txt");
}

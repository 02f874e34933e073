// zumek_ro end to end: the binary run in a scratch folder on a small model, its console,
// stop text, exit status and files byte for byte, and the stops of the assembly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/e2e.hpp"
#include "tests/zumek_ro/ro_model.hpp"

using namespace testing_support;

namespace {

// Everything the run writes, as checked by hand against the layouts: two blocks and the rest
// group, herd 3 dropped, no rounds.
const char* full_console =
    " ---------------------\n"
    " PROGRAM ZUMEK_RO v1.1\n"
    " ---------------------\n"
    " \n"
    " PARAMETER FILE SUCCESFULLY READ. START EXECUTION...\n"
    " \n"
    " STEP 1. INITIALIZATION.\n"
    " \n"
    " \n"
    " NUMBER OF EQUATIONS:          52\n"
    "    NUMBER OF BLOCKS:           3\n"
    " \n"
    " ***\n"
    " STEP 2. FIXED EFFECTS CONTRIBUTIONS.\n"
    " \n"
    " ***\n"
    " STEP 3. RANDOM EFFECTS CONTRIBUTIONS.\n"
    " \n"
    " ***\n"
    " STEP 4. BUILDING FINAL DATA STRUCTURE.\n"
    " \n"
    " \n"
    " ZERO ROWS FOUND. COLLAPSING THE SYSTEM...\n"
    " REMAINING EQUATIONS:          51\n"
    " \n"
    " SETTING THE ACTUAL NUMBER OF NONZERO ENTRIES...\n"
    " No. NONZERO ENTRIES:         455\n"
    " \n"
    " ***\n"
    " STEP 5. SOLVING MIXED MODEL EQUATIONS.\n"
    " \n"
    " ***\n"
    " STEP 6. SAMPLING.\n"
    " \n"
    " ***\n"
    " STEP 6. WRITTING OUTPUT FILE.\n"
    " \n"
    " ***\n";

const char* full_solutions =
    "++++++++++++++\n"
    "SOLUTIONS FILE\n"
    "++++++++++++++\n"
    " \n"
    "EFFECT  LEVEL       SOLUTIONS\n"
    "------  -----       ---------\n"
    "     1      1         10.5067\n"
    "     1      2         17.4761\n"
    "-----------------------------\n"
    " \n"
    "     2      1          0.0333\n"
    "     2      2          0.4260\n"
    "     2      3          0.0000\n"
    "-----------------------------\n"
    " \n"
    "     3      1         -0.0781\n"
    "     3      2         -0.2496\n"
    "-----------------------------\n"
    " \n"
    "     4      1          1.7349\n"
    "-----------------------------\n"
    " \n"
    " \n"
    "EFFECT  LEVEL     PREDICTIONS\n"
    "------  -----     -----------\n"
    "     5      1          0.0105\n"
    "     5      2          0.1111\n"
    "     5      3         -0.0125\n"
    "     5      4         -0.1091\n"
    "-----------------------------\n"
    " \n"
    " \n"
    "EFFECT     ID  BREEDING VALUE\n"
    "------  -----  --------------\n"
    "     6      1          0.1145\n"
    "     6      2          0.1063\n"
    "     6      3         -0.1354\n"
    "     6      4         -0.1846\n"
    "     6      5          0.1855\n"
    "     6      6          0.1499\n"
    "     6      7         -0.2875\n"
    "     6      8         -0.1680\n"
    "     6      9          0.2232\n"
    "     6     10          0.3056\n"
    "     6     11         -0.0344\n"
    "     6     12         -0.0780\n"
    "     6     13          0.3494\n"
    "     6     14          0.5325\n"
    "     6     15         -0.0596\n"
    "     6     16          0.0081\n"
    "     6     17          0.5527\n"
    "     6     18          0.2256\n"
    "     6     19          0.1570\n"
    "     6     20          0.1366\n"
    "-----------------------------\n"
    " \n"
    " \n"
    "EFFECT     ID  BREEDING VALUE\n"
    "------  -----  --------------\n"
    "     7      1          0.0590\n"
    "     7      2          0.0371\n"
    "     7      3         -0.0087\n"
    "     7      4         -0.1398\n"
    "     7      5          0.1284\n"
    "     7      6          0.0267\n"
    "     7      7         -0.1151\n"
    "     7      8         -0.0421\n"
    "     7      9          0.1183\n"
    "     7     10          0.2062\n"
    "     7     11          0.0345\n"
    "     7     12         -0.0766\n"
    "     7     13          0.1793\n"
    "     7     14          0.2820\n"
    "     7     15          0.0813\n"
    "     7     16         -0.0174\n"
    "     7     17          0.2530\n"
    "     7     18          0.1177\n"
    "     7     19          0.0682\n"
    "     7     20          0.0725\n"
    "-----------------------------\n"
    " \n";

const char* full_dat1 =
    "   1.00000000000000        2.00000000000000        28.4000000000000     \n"
    "  0.900000000000000        2.00000000000000        14.0000000000000     \n"
    "   10.0000000000000        11.9000000000000     \n"
    "   2.00000000000000        1.00000000000000        33.2000000000000     \n"
    "   2.00000000000000        1.00000000000000        10.0000000000000     \n"
    "   6.00000000000000        12.8000000000000     \n"
    "   1.00000000000000       -2.00000000000000        29.5000000000000     \n"
    "   1.00000000000000        4.00000000000000        13.0000000000000     \n"
    "   10.0000000000000        10.1000000000000     \n"
    "   1.00000000000000        2.00000000000000        27.9000000000000     \n"
    "  0.800000000000000        4.00000000000000        15.0000000000000     \n"
    "   10.0000000000000        9.40000000000000     \n"
    "   1.00000000000000       0.000000000000000E+000   31.4000000000000     \n"
    "   1.20000000000000        4.00000000000000        18.0000000000000     \n"
    "   10.0000000000000        10.6000000000000     \n"
    "   2.00000000000000        1.00000000000000        30.7000000000000     \n"
    "   1.50000000000000        3.00000000000000        16.0000000000000     \n"
    "   12.0000000000000        12.2000000000000     \n"
    "   1.00000000000000        2.00000000000000        28.8000000000000     \n"
    "  0.700000000000000        2.00000000000000        20.0000000000000     \n"
    "   16.0000000000000        9.90000000000000     \n"
    "   1.00000000000000        1.00000000000000        30.1000000000000     \n"
    "   1.20000000000000        1.00000000000000        6.00000000000000     \n"
    "   2.00000000000000        10.4000000000000     \n"
    "   1.00000000000000       0.000000000000000E+000   31.0000000000000     \n"
    "   1.10000000000000        3.00000000000000        9.00000000000000     \n"
    "   6.00000000000000        9.70000000000000     \n"
    "   2.00000000000000        2.00000000000000        32.0000000000000     \n"
    "   1.80000000000000        2.00000000000000        11.0000000000000     \n"
    "   8.00000000000000        13.3000000000000     \n"
    "   1.00000000000000        1.00000000000000        29.1000000000000     \n"
    "   1.30000000000000        1.00000000000000        19.0000000000000     \n"
    "  0.000000000000000E+000   10.8000000000000     \n"
    "   1.00000000000000        1.00000000000000        30.3000000000000     \n"
    "   1.10000000000000        3.00000000000000        17.0000000000000     \n"
    "   14.0000000000000        11.5000000000000     \n"
    "   1.00000000000000        2.00000000000000        29.9000000000000     \n"
    "   1.40000000000000        1.00000000000000        12.0000000000000     \n"
    "   6.00000000000000        11.1000000000000     \n"
    "   1.00000000000000        1.00000000000000        30.6000000000000     \n"
    "   1.60000000000000        2.00000000000000        7.00000000000000     \n"
    "   4.00000000000000        10.2000000000000     \n";

const char* clean_error_file =
    "+++++++++++\n"
    "ERRORS FILE\n"
    "+++++++++++\n"
    " \n"
    "PEDIGREE INCONSISTENCIES\n"
    "------------------------\n"
    " \n"
    "     ID  OBSERVATIONS\n"
    "-------  ------------\n"
    " \n"
    "NO INCONSISTENCIES HAVE BEEN FOUND.\n";

// Runs the model with some parameter lines changed and, when given, dat.txt replaced.
run_result run_model(const std::string& name, std::map<int, std::string> param_changes = {},
                     const std::string& dat = ro_test::model_dat) {
  const auto dir = scratch_dir(name);
  write_file(dir / "param.txt", ro_test::model_param(std::move(param_changes)));
  write_file(dir / "dat.txt", dat);
  write_file(dir / "ped.txt", ro_test::model_ped);
  return run_in(dir, ZUMEK_RO_BIN);
}

// The console up to the title of STEP 2 (the part every assembly stop shares).
const std::string console_to_step2 = crlf(
    " ---------------------\n"
    " PROGRAM ZUMEK_RO v1.1\n"
    " ---------------------\n"
    " \n"
    " PARAMETER FILE SUCCESFULLY READ. START EXECUTION...\n"
    " \n"
    " STEP 1. INITIALIZATION.\n"
    " \n"
    " \n"
    " NUMBER OF EQUATIONS:          52\n"
    "    NUMBER OF BLOCKS:           3\n"
    " \n"
    " ***\n"
    " STEP 2. FIXED EFFECTS CONTRIBUTIONS.\n"
    " \n");

const std::string console_to_step3 = console_to_step2 + crlf(
    " ***\n"
    " STEP 3. RANDOM EFFECTS CONTRIBUTIONS.\n"
    " \n");

std::string replace_line(std::string text, int line, const std::string& by) {
  std::size_t at = 0;
  for (int l = 1; l < line; ++l) at = text.find('\n', at) + 1;
  const std::size_t end = text.find('\n', at);
  return text.replace(at, end - at, by);
}

}  // namespace

TEST(ZumekRoRun, WholeRunByteForByte) {
  const auto dir = scratch_dir("ro_run_whole");
  write_file(dir / "param.txt", ro_test::model_param());
  write_file(dir / "dat.txt", ro_test::model_dat);
  write_file(dir / "ped.txt", ro_test::model_ped);
  const run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, crlf(full_console));
  EXPECT_EQ(r.err, crlf("PROGRAM TERMINATED.\n"));
  EXPECT_EQ(read_file(dir / "SOLUTIONS.txt"), crlf(full_solutions));
  EXPECT_EQ(read_file(dir / "DAT1.sal"), crlf(full_dat1));
  EXPECT_EQ(read_file(dir / "ERROR FILE.txt"), crlf(clean_error_file));
  EXPECT_EQ(read_file(dir / "CVC-CHAIN.txt"), "");
}

TEST(ZumekRoRun, NoSolutionsEndsAfterTheRounds) {
  const auto dir = scratch_dir("ro_run_nosol");
  write_file(dir / "param.txt", ro_test::model_param({{57, "F   no solutions"}}));
  write_file(dir / "dat.txt", ro_test::model_dat);
  write_file(dir / "ped.txt", ro_test::model_ped);
  const run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_EQ(r.status, 0);
  const std::string full = crlf(full_console);
  EXPECT_EQ(r.out, full.substr(0, full.find(" ***\r\n STEP 6. WRITTING")));
  EXPECT_EQ(r.err, crlf("PROGRAM TERMINATED - NO SOLUTIONS.\n"));
  EXPECT_FALSE(std::filesystem::exists(dir / "SOLUTIONS.txt"));
}

TEST(ZumekRoRun, RoundsWriteTheirProgressLines) {
  // The p_PAR grid stays where every family matrix is positive definite (a dam with three
  // linked offspring allows |p_PAR| < 1 / sqrt(3)).
  const auto dir = scratch_dir("ro_run_rounds");
  write_file(dir / "param.txt", ro_test::model_param({{16, "2"}, {51, "-0.2 0.2"}, {52, "0.01"}}));
  write_file(dir / "dat.txt", ro_test::model_dat);
  write_file(dir / "ped.txt", ro_test::model_ped);
  const run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_EQ(r.status, 0) << r.out;
  const std::size_t one = r.out.find(crlf(" STEP 6. SAMPLING.\n \n        1  TH ITERATION\n"));
  const std::size_t two = r.out.find(crlf("        2  TH ITERATION\n"));
  ASSERT_NE(one, std::string::npos) << r.out;
  ASSERT_NE(two, std::string::npos) << r.out;
  EXPECT_LT(one, two);
  EXPECT_TRUE(r.out.ends_with(crlf(" ***\n STEP 6. WRITTING OUTPUT FILE.\n \n ***\n"))) << r.out;
  // The solutions are those of STEP 5 whatever the rounds drew.
  EXPECT_EQ(read_file(dir / "SOLUTIONS.txt"), crlf(full_solutions));
  const std::string chain = read_file(dir / "CVC-CHAIN.txt");
  EXPECT_EQ(std::count(chain.begin(), chain.end(), '\n'), 2);
}

TEST(ZumekRoRun, AssemblyStops) {
  struct stop_case {
    const char* name;
    std::map<int, std::string> param;
    std::string dat;
    std::string console_tail;   // after console_to_step2
    const char* stop_text;
  };
  const std::string dat = ro_test::model_dat;
  const std::vector<stop_case> cases = {
      // Herd 4 of a herd effect with 3 levels, in the 9th record of DAT1.sal (the rest group's
      // second record, line 3 of dat.txt).
      {"level", {}, replace_line(dat, 3, "1  4 31.0 1.1 3  9  6  9.7"),
       " \n FATAL ERROR IN RECORD           9 OF DAT1.sal, EFFECT           2\n"
       " CLASS LEVEL OUT OF RANGE 1 TO NLEV =           3\n"
       " VALUE:   4.00000000000000     \n \n",
       "FATAL ERROR: EXECUTION STOPPED"},
      // The weight is nested in the category; a category 0 leaves it without a level.
      {"nesting_level", {}, replace_line(dat, 3, "0  3 31.0 1.1 3  9  6  9.7"),
       " \n FATAL ERROR IN RECORD           9 OF DAT1.sal, EFFECT           3\n"
       " NESTING LEVEL OUT OF RANGE 1 TO NLEV =           2\n"
       " VALUE:  0.000000000000000E+000\n \n",
       "FATAL ERROR: EXECUTION STOPPED"},
      {"nest", {{26, "0 0 7 0 0 0 0"}}, dat,
       " ERROR IN NESTED COVARIATE. PLEASE, CHECK VARIABLE \"NEST\" SETTING\n", ""},
      {"fixed_type", {{29, "2 0 1 1 0 0 0"}}, dat, " UNIMPLEMENTED FIXED EFFECT           1\n", ""},
      // p_PAR 1.0: the dam linked to three offspring gives an indefinite matrix.
      {"rinv", {{38, "1.0"}}, dat,
       " \n -----------\n FATAL ERROR: RINV FOR FAMILY   1  IS NOT POSITIVE DEFINITE.\n"
       " -----------\n \n",
       ""},
  };
  for (const stop_case& c : cases) {
    const run_result r = run_model(std::string("ro_stop_") + c.name, c.param, c.dat);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, console_to_step2 + crlf(c.console_tail)) << c.name;
    EXPECT_EQ(r.err, *c.stop_text ? crlf(std::string(c.stop_text) + "\n") : "") << c.name;
  }
}

TEST(ZumekRoRun, RandomEffectStops) {
  {  // the family correlation lives in the residual: a TYPO-3 effect is refused
    const run_result r = run_model("ro_stop_typo3", {{28, "0 0 0 0 3 2 2"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, console_to_step2 + crlf(" ***\n STEP 3. RANDOM EFFECTS CONTRIBUTIONS.\n \n"
                                             " UNIMPLEMENTED RANDOM EFFECT           3\n"));
    EXPECT_EQ(r.err, "");   // an empty stop text writes nothing
  }
  {  // covariance 2.0 with variances 1.5 and 0.8
    const run_result r = run_model("ro_stop_g0", {{41, "2.0"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, console_to_step3 + crlf(" \n -----------\n"
                                             " FATAL ERROR: MATRIX G0( 6) IS NOT POSITIVE DEFINITE.\n"
                                             " -----------\n \n"));
    EXPECT_EQ(r.err, "");   // an empty stop text writes nothing
  }
  {  // the store fills up during the pedigree terms: SBSIJ's message, empty stop text
    const run_result r = run_model("ro_stop_nz", {{17, "300"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.starts_with(console_to_step3)) << r.out;
    EXPECT_NE(r.out.find("NZ TOO SMALL"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");   // an empty stop text writes nothing
  }
}

// 250 families of a head and one offspring: the progress lines of blocks 100 and 200, each
// before its block is read.
TEST(ZumekRoRun, FamilyProgressLines) {
  std::string dat, ped;
  for (int f = 1; f <= 250; ++f) {
    dat += "2 1.5 " + std::to_string(f % 10 + 1) + " " + std::to_string(f) + " 0 5.0\n";
    dat += "1 0.5 " + std::to_string(f % 7 + 1) + " " + std::to_string(1000 + f) + " " +
           std::to_string(f) + " 4.0\n";
  }
  for (int a = 1; a <= 1250; ++a) ped += std::to_string(a) + " 0 0\n";
  const auto dir = scratch_dir("ro_run_progress");
  write_file(dir / "param.txt",
             ro_test::param_text_with({{16, "0"}, {17, "40000"}, {18, "1250"}, {19, "500"},
                                       {20, "5"}, {26, "0 0 0 0 0"}, {27, "2 1 10 1250 1250"},
                                       {28, "0 0 1 2 2"}, {29, "0 1 0 0 0"}, {30, "0 0 1 2 0"},
                                       {31, "0 0 0 0 0"}}));
  write_file(dir / "dat.txt", dat);
  write_file(dir / "ped.txt", ped);
  const run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(crlf(" NUMBER OF EQUATIONS:        2513\n    NUMBER OF BLOCKS:         251\n")),
            std::string::npos);
  EXPECT_NE(r.out.find(crlf(" STEP 2. FIXED EFFECTS CONTRIBUTIONS.\n \n"
                            "      100  FAMILIES READ\n      200  FAMILIES READ\n ***\n")),
            std::string::npos)
      << r.out;
}

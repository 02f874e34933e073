// zumek_tav run end to end in a scratch folder on the small model: console, stop text, exit
// status, "DAT1.sal", "ERROR FILE.txt", the chain file and the solutions file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/e2e.hpp"
#include "tests/support/tav_small_model.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string expected_console = crlf(
      " ----------------------\n"
      " PROGRAM ZUMEK_TAV v3.0\n"
      " ----------------------\n"
      " \n"
      " PARAMETER FILE SUCCESFULLY READ. START EXECUTION...\n"
      " \n"
      " \n"
      " STEP 1. INITIALIZATION.\n"
      " \n"
      " \n"
      " ---------------------\n"
      " No. MATERNAL FAMILIES:    3\n"
      " ---------------------\n"
      " \n"
      " \n"
      " NUMBER OF EQUATIONS:          55\n"
      " \n"
      " ***\n"
      " STEP 2. FIXED EFFECTS CONTRIBUTIONS.\n"
      " \n"
      " \n"
      " RECORDS IN DATA FILE:          16\n"
      " \n"
      " ***\n"
      " STEP 3. RANDOM EFFECTS CONTRIBUTIONS.\n"
      " \n"
      " \n"
      " ***\n"
      " STEP 4. BUILDING FINAL DATA STRUCTURE.\n"
      " \n"
      " ZERO ROWS FOUND. COLLAPSING THE SYSTEM...\n"
      " REMAINING EQUATIONS:          54\n"
      " \n"
      " SETTING THE ACTUAL NUMBER OF NONZERO ENTRIES...\n"
      " No. NONZERO ENTRIES:         415\n"
      " \n"
      " ***\n"
      " STEP 5. SOLVING MIXED MODEL EQUATIONS.\n"
      " \n"
      " ***\n"
      " STEP 6. SAMPLING.\n"
      " \n"
      " \n"
      " ***\n"
      " STEP 7. WRITTING OUTPUT FILE.\n"
      " \n"
      " ***\n");

// The values are those of the dense solve of the assembly test; a removed level (effect 2,
// level 4) and a level with no data (effect 5, level 4) read 0.0000.
const std::string expected_solutions = crlf(
      "++++++++++++++\n"
      "SOLUTIONS FILE\n"
      "++++++++++++++\n"
      " \n"
      "EFFECT  LEVEL  TRAIT        SOLUTIONS\n"
      "------  -----  -----        ---------\n"
      "     1      1      1          14.7886\n"
      "     1      2      1          11.7869\n"
      "     1      3      1          16.8244\n"
      "-------------------------------------\n"
      " \n"
      "     2      1      1          -2.7857\n"
      "     2      2      1          -0.1237\n"
      "     2      3      1           0.9486\n"
      "     2      4      1           0.0000\n"
      "-------------------------------------\n"
      " \n"
      "     3      1      1          -0.6354\n"
      "     3      2      1           2.8146\n"
      "     3      3      1          -1.5346\n"
      "-------------------------------------\n"
      " \n"
      "     4      1      1          -0.1179\n"
      "-------------------------------------\n"
      " \n"
      " \n"
      "EFFECT  LEVEL  TRAIT      PREDICTIONS\n"
      "------  -----  -----      -----------\n"
      "     5      1      1           0.0862\n"
      "     5      2      1           0.5282\n"
      "     5      3      1          -0.6144\n"
      "     5      4      1           0.0000\n"
      "-------------------------------------\n"
      " \n"
      " \n"
      "EFFECT  LEVEL  TRAIT      PREDICTIONS\n"
      "------  -----  -----      -----------\n"
      "     6      1      1           0.0428\n"
      "     6      2      1           0.0597\n"
      "     6      3      1           0.0830\n"
      "     6      4      1           0.0617\n"
      "     6      5      1           0.2056\n"
      "     6      6      1          -0.1421\n"
      "     6      7      1          -0.0808\n"
      "     6      8      1           0.2355\n"
      "     6      9      1          -0.1472\n"
      "     6     10      1           0.0451\n"
      "     6     11      1          -0.1201\n"
      "     6     12      1          -0.1074\n"
      "     6     13      1           0.0970\n"
      "     6     14      1          -0.0990\n"
      "     6     15      1          -0.0141\n"
      "     6     16      1          -0.0152\n"
      "-------------------------------------\n"
      " \n"
      " \n"
      "EFFECT     ID  TRAIT   BREEDING VALUE\n"
      "------  -----  -----   --------------\n"
      "     7      1      1          -0.4130\n"
      "     7      2      1           0.3696\n"
      "     7      3      1          -0.3349\n"
      "     7      4      1           0.1196\n"
      "     7      5      1           0.0586\n"
      "     7      6      1          -0.2583\n"
      "     7      7      1           0.4088\n"
      "     7      8      1          -0.2343\n"
      "     7      9      1           0.3455\n"
      "     7     10      1           0.4608\n"
      "     7     11      1          -0.0215\n"
      "     7     12      1           0.3579\n"
      "-------------------------------------\n"
      " \n"
      " \n"
      "EFFECT     ID  TRAIT   BREEDING VALUE\n"
      "------  -----  -----   --------------\n"
      "     8      1      1           0.4672\n"
      "     8      2      1          -0.1317\n"
      "     8      3      1           0.2058\n"
      "     8      4      1          -0.0239\n"
      "     8      5      1           0.2480\n"
      "     8      6      1           0.4522\n"
      "     8      7      1          -0.1107\n"
      "     8      8      1           0.3597\n"
      "     8      9      1           0.0463\n"
      "     8     10      1           0.0936\n"
      "     8     11      1           0.3265\n"
      "     8     12      1           0.0849\n"
      "-------------------------------------\n"
      " \n");

}  // namespace

TEST(ZumekTavRun, SmallModelWithoutRounds) {
  fs::path dir = scratch_dir("tav_run_small");
  tav_small_model::write_inputs(dir);
  run_result r = run_in(dir, ZUMEK_TAV_BIN);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "PROGRAM TERMINATED.\r\n");
  EXPECT_EQ(r.out, expected_console);
  EXPECT_EQ(read_file(dir / "ZUMEK TEST - SOLS.txt"), expected_solutions);

  // n_rounds = 0: the chain file exists and is empty.
  ASSERT_TRUE(fs::exists(dir / "CVC_CHAIN.txt"));
  EXPECT_EQ(fs::file_size(dir / "CVC_CHAIN.txt"), 0u);

  EXPECT_EQ(read_file(dir / "ERROR FILE.txt"),
            crlf("+++++++++++\n"
                 "ERRORS FILE\n"
                 "+++++++++++\n"
                 " \n"
                 "PEDIGREE INCONSISTENCIES\n"
                 "------------------------\n"
                 " \n"
                 "     ID  OBSERVATIONS\n"
                 "-------  ------------\n"
                 " \n"
                 "NO INCONSISTENCIES HAVE BEEN FOUND.\n"));

  // "DAT1.sal": 16 records of 9 reals, three to a line, the record number at position 6.
  const std::string dat1 = read_file(dir / "DAT1.sal");
  const std::string first_record =
            crlf("   2.00000000000000        1.00000000000000        1.50000000000000     \n"
                 "   10.0000000000000        1.00000000000000        1.00000000000000     \n"
                 "   5.00000000000000        2.00000000000000        12.1000000000000     \n");
  EXPECT_EQ(dat1.substr(0, first_record.size()), first_record);
  std::size_t lines = 0;
  for (char c : dat1) lines += c == '\n';
  EXPECT_EQ(lines, 48u);
}

TEST(ZumekTavRun, RoundsWriteOneChainLineEachAndNoSolutionsWhenAskedNot) {
  fs::path dir = scratch_dir("tav_run_rounds");
  auto lines = tav_small_model::param_lines();
  lines[16] = "3";
  lines[59] = "F";
  tav_small_model::write_inputs(dir, lines);
  run_result r = run_in(dir, ZUMEK_TAV_BIN);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "PROGRAM TERMINATED - NO SOLUTIONS.\r\n");
  const std::string tail = crlf(
      " STEP 6. SAMPLING.\n"
      " \n"
      "        1  TH ITERATION\n"
      "        2  TH ITERATION\n"
      "        3  TH ITERATION\n");
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_FALSE(fs::exists(dir / "ZUMEK TEST - SOLS.txt"));
  const std::string chain = read_file(dir / "CVC_CHAIN.txt");
  std::size_t n = 0;
  for (char c : chain) n += c == '\n';
  EXPECT_EQ(n, 3u);
  // Round 1 writes the starting values: R, p_PAR, G0(5), then the 2 x 2 block.
  EXPECT_EQ(chain.substr(0, 78),
            "    0.80000      0.30000      1.50000      3.00000     -0.60000      1.20000  ");
}

TEST(ZumekTavRun, ExampleInputSetRuns) {
  fs::path dir = scratch_dir("tav_run_example");
  for (const char* f : {"param.txt", "dat.txt", "ped.txt"})
    fs::copy_file(source_dir() / "examples" / "zumek_tav" / f, dir / f);
  run_result r = run_in(dir, ZUMEK_TAV_BIN);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.err, "PROGRAM TERMINATED.\r\n");
  EXPECT_NE(r.out.find("      200  TH ITERATION\r\n"), std::string::npos);
  std::size_t n = 0;
  for (char c : read_file(dir / "CVC_CHAIN.txt")) n += c == '\n';
  EXPECT_EQ(n, 200u);
}

// STEP 2 reports every thousandth record in (I9,2X,A12), then the count in free form.
TEST(ZumekTavRun, ProgressLineEveryThousandRecords) {
  const auto dir = scratch_dir("tav_progress");
  auto lines = tav_small_model::param_lines();
  lines[17] = "400000      NZ";
  lines[19] = "2000        NRDF";
  lines[27] = "3 4 3 1 4 2000 12 12  NLEV";
  std::string dat;
  for (int r = 1; r <= 2000; ++r)  // no family heads: every record in the rest group
    dat += std::to_string(r % 2 == 0 ? 1 : 3) + " " + std::to_string(r % 4) + " 1.0 " +
           std::to_string(r % 7) + ".5 " + std::to_string(1 + r % 3) + " " +
           std::to_string(1 + r % 12) + " 0 " + std::to_string(10 + r % 5) + ".25\n";
  tav_small_model::write_inputs(dir, lines, dat);
  const run_result r = run_in(dir, ZUMEK_TAV_BIN);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(crlf(" STEP 2. FIXED EFFECTS CONTRIBUTIONS.\n \n"
                            "     1000  RECORDS READ\n"
                            "     2000  RECORDS READ\n"
                            " \n"
                            " RECORDS IN DATA FILE:        2000\n"
                            " \n"
                            " ***\n")),
            std::string::npos)
      << r.out;
}

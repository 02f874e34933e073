// How zumek_tav stops on a model or input it cannot assemble: console lines, stop text on
// standard error and exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/e2e.hpp"
#include "tests/support/tav_small_model.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

run_result run_with(const std::string& name, const std::map<int, std::string>& changes,
                    const std::string& dat = tav_small_model::dat_text()) {
  auto lines = tav_small_model::param_lines();
  for (const auto& [l, text] : changes) lines[l] = text;
  fs::path dir = scratch_dir(name);
  tav_small_model::write_inputs(dir, lines, dat);
  return run_in(dir, ZUMEK_TAV_BIN);
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The small model's records with one value replaced: line (1-based), value position (1-based).
std::string dat_with(int line, int position, const std::string& value) {
  std::string text = tav_small_model::dat_text();
  std::string out;
  std::size_t start = 0;
  for (int l = 1; start < text.size(); ++l) {
    std::size_t end = text.find('\n', start);
    std::string row = text.substr(start, end - start);
    if (l == line) {
      std::string rebuilt;
      std::size_t p = 0;
      for (int v = 1; p < row.size(); ++v) {
        std::size_t b = row.find_first_not_of(' ', p);
        if (b == std::string::npos) break;
        std::size_t e = row.find(' ', b);
        if (e == std::string::npos) e = row.size();
        rebuilt += (v == position ? value : row.substr(b, e - b)) + " ";
        p = e;
      }
      row = rebuilt;
    }
    out += row + "\n";
    start = end + 1;
  }
  return out;
}

}  // namespace

TEST(ZumekTavStops, StartingBlockNotPositiveDefinite) {
  run_result r = run_with("tav_stop_g0", {{41, "1.0"}, {42, "2.0"}, {43, "1.0"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(ends_with(r.out, crlf(" STEP 3. RANDOM EFFECTS CONTRIBUTIONS.\n"
                                    " \n"
                                    " \n"
                                    " -----------\n"
                                    " FATAL ERROR: MATRIX G0( 7) IS NOT POSITIVE DEFINITE.\n"
                                    " -----------\n"
                                    " \n")))
      << r.out;
}

TEST(ZumekTavStops, FamilyMatrixNotPositiveDefinite) {
  // Family 1 is a dam with two linked offspring: I + 0.8 L has a negative eigenvalue.
  run_result r = run_with("tav_stop_rinv", {{38, "0.8"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(ends_with(r.out, crlf(" \n"
                                    " -----------\n"
                                    " FATAL ERROR: RINV FOR FAMILY   1  IS NOT POSITIVE DEFINITE.\n"
                                    " -----------\n"
                                    " \n")))
      << r.out;
}

TEST(ZumekTavStops, UnimplementedEffectTypes) {
  run_result r = run_with("tav_stop_typo", {{28, "0 0 0 0 4 3 2 2"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "FATAL ERROR: EXECUTION STOPPED\r\n");
  EXPECT_TRUE(ends_with(r.out, crlf(" UNIMPLEMENTED RANDOM EFFECT           4\n \n"))) << r.out;

  r = run_with("tav_stop_fixed_type", {{29, "0 2 1 1 0 0 0 0"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(ends_with(r.out, crlf(" STEP 2. FIXED EFFECTS CONTRIBUTIONS.\n"
                                    " \n"
                                    " UNIMPLEMENTED FIXED EFFECT           2\n")))
      << r.out;
}

TEST(ZumekTavStops, NestedCovariateOutOfRange) {
  for (const char* nest : {"0 0 8 0 0 0 0 0", "0 0 -1 0 0 0 0 0"}) {
    run_result r = run_with("tav_stop_nest", {{26, nest}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(ends_with(
        r.out, crlf(" ERROR IN NESTED COVARIATE. PLEASE, CHECK VARIABLE \"NEST\" SETTING\n")))
        << r.out;
  }
}

TEST(ZumekTavStops, FullStore) {
  run_result r = run_with("tav_stop_full", {{17, "60"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(ends_with(r.out, crlf(" \n"
                                    " *** FATAL ERROR ********************\n"
                                    " NZ TOO SMALL - NO ROOM FOR NEW ENTRY\n"
                                    " ************************************\n"
                                    " \n")))
      << r.out;
}

// A class value whose level lies outside 1 .. NLEV, a value between 0 and 1 included, and a
// nesting level outside the covariate's levels stop the run naming the record and the effect.
TEST(ZumekTavStops, LevelOutOfRangeNamesRecordAndEffect) {
  for (const char* value : {"0.5", "4", "-4"}) {
    run_result r = run_with("tav_stop_level", {}, dat_with(3, 1, value));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "FATAL ERROR: EXECUTION STOPPED\r\n");
    EXPECT_NE(r.out.find(crlf(" FATAL ERROR IN RECORD           3 OF DAT1.sal, EFFECT           1\n"
                              " CLASS LEVEL OUT OF RANGE 1 TO NLEV =           3\n")),
              std::string::npos)
        << value << "\n" << r.out;
  }
  // Covariate 3 nested in effect 2: record 3 codes effect 2 as -3, a negative nesting level.
  run_result r = run_with("tav_stop_nest_level", {{26, "0 0 2 0 0 0 0 0"}, {27, "3 4 4 1 4 16 12 12"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(crlf(" FATAL ERROR IN RECORD           3 OF DAT1.sal, EFFECT           3\n"
                            " NESTING LEVEL OUT OF RANGE 1 TO NLEV =           4\n")),
            std::string::npos)
      << r.out;
}

TEST(ZumekTavStops, LevelCountsCheckedBeforeAssembly) {
  run_result r = run_with("tav_stop_typo3_levels", {{27, "3 4 3 1 4 15 12 12"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "FATAL ERROR: EXECUTION STOPPED\r\n");
  EXPECT_NE(r.out.find(crlf(" FATAL ERROR: EFFECT           6 HAS ONE LEVEL PER RECORD (TYPO 3)\n")),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("STEP 2."), std::string::npos);

  r = run_with("tav_stop_pedigree_levels", {{27, "3 4 3 1 4 16 12 11"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(crlf(" FATAL ERROR: EFFECT           8 HAS FEWER LEVELS (NLEV) THAN\n"
                            " PEDIGREE MEMBERS:          11 <          12\n")),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("STEP 2."), std::string::npos);
}

// Malformed input against both programs: each row of the table below runs one binary in a
// scratch folder on a valid input set with one thing broken, and checks the console message,
// the standard error line and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/e2e.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

enum class prog { tav, ro };

constexpr const char* missing = "<missing>";   // the file is not there

// A valid zumek_tav run: five effects (a fixed effect carrying the head code, a random
// effect, the family-correlated effect, the animal with its dam as a pedigree block).
std::map<int, std::string> tav_param_lines() {
  return {{15, "12345        seed"}, {16, "3            rounds"}, {17, "1000         NZ"},
          {18, "5            pedigree"}, {19, "4            records"}, {20, "5            effects"},
          {26, "0 0 0 0 0"}, {27, "3 4 4 5 5"}, {28, "0 1 3 2 0"}, {29, "0 0 0 0 0"},
          {30, "0 1 1 2 0"}, {31, "0 0 0 0 0"}, {37, "1.5"}, {38, "0.25"}, {39, "0.3"},
          {40, "0.4"}, {41, "0.5"}, {42, "0.05"}, {43, "0.6"}, {46, "4"}, {47, "5"},
          {48, "6"}, {49, "7"}, {52, "9"}, {53, "-0.5 0.5"}, {54, "0.01"}, {59, "T"}};
}
const char* tav_dat = "2 1 1 0 10.5\n1 2 4 1 11.0\n1 3 5 1 9.75\n1 4 2 0 12.25\n";

// A valid zumek_ro run: five effects, the last two a pedigree block (animal, dam).
std::map<int, std::string> ro_param_lines() {
  return {{15, "12345        seed"}, {16, "3            rounds"}, {17, "1000         NZ"},
          {18, "5            pedigree"}, {19, "4            records"}, {20, "5            effects"},
          {26, "0 0 0 0 0"}, {27, "3 2 4 5 5"}, {28, "0 0 1 2 0"}, {29, "0 0 0 0 0"},
          {30, "0 0 1 2 0"}, {31, "1 0 0 0 0"}, {37, "2.5"}, {38, "0.3"}, {39, "0.7"},
          {40, "1.1"}, {41, "0.2"}, {42, "0.9"}, {45, "4.0"}, {46, "5.0"}, {47, "6.0"},
          {50, "9"}, {51, "-0.5 0.5"}, {52, "0.01"}, {57, "T"}};
}
const char* ro_dat = "2 1 1 3 1 10.5\n1 2 2 4 3 11.0\n1 1 3 5 3 9.75\n1 2 4 2 0 12.25\n";

const char* ped = "1 0 0\n2 0 0\n3 1 2\n4 1 3\n5 1 3\n";

std::string param_text(prog p, const std::map<int, std::string>& changes) {
  auto lines = p == prog::tav ? tav_param_lines() : ro_param_lines();
  for (const auto& [l, s] : changes) lines[l] = s;
  const int last = p == prog::tav ? 59 : 57;
  std::string t;
  for (int l = 1; l <= last; ++l) {
    auto it = lines.find(l);
    t += it != lines.end() ? it->second : "heading " + std::to_string(l);
    t += "\n";
  }
  return t;
}

std::string first_lines(const std::string& t, int n) {
  std::size_t p = 0;
  for (int k = 0; k < n && p != std::string::npos; ++k) p = t.find('\n', p) + 1;
  return t.substr(0, p);
}

// "\n" -> "\r\n" and blanks -> tabs: a file written on another system that must read the same.
std::string crlf_tabs(const std::string& t) {
  std::string r;
  for (char c : t) {
    if (c == '\n') r += "\r\n";
    else if (c == ' ') r += '\t';
    else r += c;
  }
  return r;
}

struct row {
  const char* name;
  prog p;
  std::map<int, std::string> param;   // lines of "param.txt" replaced
  // Files: nullptr = the valid one; missing = absent; any other text = the file's text.
  const char* param_file;
  const char* dat_file;
  const char* ped_file;
  const char* out;   // a console passage the run must print ("" = none checked)
  const char* err;   // the whole standard error; {dir} stands for the folder, {prog} the program
  int status;
};

// Sentinels for files built from the valid ones.
constexpr const char* empty = "";
constexpr const char* first_30_lines = "<first 30 lines>";
constexpr const char* crlf_and_tabs = "<crlf and tabs>";

// The table. Console passages are CR LF lines as the programs write them.
const row rows[] = {
    // ---------------------------------------------------------------- files missing, empty, short
    {"tav_param_missing", prog::tav, {}, missing, nullptr, nullptr, "",
     "{prog}: severe (29): file not found, unit 37, file {dir}/param.txt\r\n", 29},
    {"ro_param_missing", prog::ro, {}, missing, nullptr, nullptr, "",
     "{prog}: severe (29): file not found, unit 37, file {dir}/param.txt\r\n", 29},
    {"tav_param_empty", prog::tav, {}, empty, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"ro_param_empty", prog::ro, {}, empty, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"tav_param_ends_early", prog::tav, {}, first_30_lines, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"ro_param_ends_early", prog::ro, {}, first_30_lines, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"tav_dat_missing", prog::tav, {}, nullptr, missing, nullptr, "",
     "{prog}: severe (29): file not found, unit 1, file {dir}/dat.txt\r\n", 29},
    {"ro_dat_missing", prog::ro, {}, nullptr, missing, nullptr, "",
     "{prog}: severe (29): file not found, unit 1, file {dir}/dat.txt\r\n", 29},
    {"tav_dat_empty", prog::tav, {}, nullptr, empty, nullptr,
     " \r\n BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER\r\n", "", 1},
    {"ro_dat_ends_early", prog::ro, {}, nullptr, "2 1 1 3 1 10.5\n1 2 2 4 3\n", nullptr,
     " \r\n BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER\r\n", "", 1},
    {"tav_ped_missing", prog::tav, {}, nullptr, nullptr, missing, "",
     "{prog}: severe (29): file not found, unit 2, file {dir}/ped.txt\r\n", 29},
    {"ro_ped_ends_early", prog::ro, {}, nullptr, nullptr, "1 0 0\n2 0 0\n3 1 2\n", "",
     "{prog}: severe (24): end-of-file during read, unit 2, file {dir}/ped.txt\r\n", 24},

    // ---------------------------------------------------------------- values that cannot be converted
    {"tav_param_bad_integer", prog::tav, {{17, "1O00   NZ"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (59): bad value during read, unit 37, file {dir}/param.txt, line 17, value '1O00'\r\n", 59},
    {"ro_param_real_for_integer", prog::ro, {{19, "4.0"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (59): bad value during read, unit 37, file {dir}/param.txt, line 19, value '4.0'\r\n", 59},
    {"tav_dat_bad_value", prog::tav, {}, nullptr, "2 1 1 0 10.5\n1 2 4 1 11.0\n1 x 5 1 9.75\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           3\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_ped_bad_value", prog::ro, {}, nullptr, nullptr, "1 0 0\n2 0 0\n3 one 2\n4 1 3\n5 1 3\n", "",
     "{prog}: severe (59): bad value during read, unit 2, file {dir}/ped.txt, line 3, value 'one'\r\n", 59},

    // ---------------------------------------------------------------- non-finite values
    // The reader takes no NaN or infinity, and a real too large for 64 bits is no value
    // either: such a record stops the data step naming its position.
    {"tav_dat_nan_observation", prog::tav, {}, nullptr, "2 1 1 0 10.5\n1 2 4 1 NaN\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           2\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_dat_inf_covariate", prog::ro, {}, nullptr, "2 1 1 3 1 10.5\n1 2 2 4 3 11.0\n1 1 Inf 5 3 9.75\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           3\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_dat_overflow_observation", prog::ro, {}, nullptr, "2 1 1 3 1 1.0E400\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           1\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"tav_dat_minus_nan", prog::tav, {}, nullptr, "2 1 -nan 0 10.5\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           1\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},

    // ---------------------------------------------------------------- CR LF, tabs, commas: accepted
    {"tav_crlf_tabs", prog::tav, {}, crlf_and_tabs, crlf_and_tabs, crlf_and_tabs,
     " No. MATERNAL FAMILIES:    2\r\n", "PROGRAM TERMINATED.\r\n", 0},
    {"ro_crlf_tabs", prog::ro, {}, crlf_and_tabs, crlf_and_tabs, crlf_and_tabs,
     "   NUMBER OF BLOCKS:           2\r\n", "PROGRAM TERMINATED.\r\n", 0},
    {"ro_commas", prog::ro, {{27, "3,2,4,5,5"}, {51, "-0.5,0.5"}}, nullptr,
     "2,1,1,3,1,10.5\n1,2,2,4,3,11.0\n1, 1, 3, 5, 3, 9.75\n1\t2\t4\t2\t0\t12.25\n", nullptr,
     "   NUMBER OF BLOCKS:           2\r\n", "PROGRAM TERMINATED.\r\n", 0},

    // No record at all is a valid data set: one family, the rest group, and it is empty. (Found
    // by fuzzing: the empty table's null storage was offset to reach its columns.)
    {"tav_no_records", prog::tav, {{19, "0"}, {27, "3 4 0 5 5"}}, nullptr, empty, nullptr,
     " No. MATERNAL FAMILIES:    1\r\n", "PROGRAM TERMINATED.\r\n", 0},
    {"ro_no_records", prog::ro, {{19, "0"}}, nullptr, empty, nullptr,
     "   NUMBER OF BLOCKS:           1\r\n", "PROGRAM TERMINATED.\r\n", 0},

    // ---------------------------------------------------------------- negative and absurd counts
    {"tav_negative_nrdf", prog::tav, {{19, "-4"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET A NON-NEGATIVE NRDF (LINE 19). PROGRAM TERMINATED.\r\n", 1},
    {"ro_negative_pedigree", prog::ro, {{18, "-5"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET A NON-NEGATIVE PEDIGREE SIZE (LINE 18). PROGRAM TERMINATED.\r\n", 1},
    {"tav_too_few_effects", prog::tav, {{20, "3"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET 4 OR MORE EFFECTS (LINE 20). PROGRAM TERMINATED.\r\n", 1},
    {"ro_negative_effects", prog::ro, {{20, "-2"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET 3 OR MORE EFFECTS (LINE 20). PROGRAM TERMINATED.\r\n", 1},
    {"tav_absurd_effects", prog::tav, {{20, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_absurd_effects", prog::ro, {{20, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"tav_absurd_nrdf", prog::tav, {{19, "2000000000"}, {27, "3 4 2000000000 5 5"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_absurd_nrdf", prog::ro, {{19, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"tav_absurd_nz", prog::tav, {{17, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_absurd_nz", prog::ro, {{17, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_integer_overflow", prog::ro, {{17, "2147483648"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (59): bad value during read, unit 37, file {dir}/param.txt, line 17, value '2147483648'\r\n", 59},
    {"tav_even_grid", prog::tav, {{52, "8"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET AN ODD NUMBER OF GRID POINTS. PROGRAM TERMINATED.\r\n", 1},
    {"ro_one_grid_point", prog::ro, {{50, "1"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET 3 OR MORE GRID POINTS (LINE 50). PROGRAM TERMINATED.\r\n", 1},

    // ---------------------------------------------------------------- CORR, TYPO, levels out of range
    {"tav_corr_3", prog::tav, {{30, "0 1 3 2 0"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT 3). PROGRAM TERMINATED.\r\n", 1},
    {"ro_corr_negative", prog::ro, {{30, "0 -1 1 2 0"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT 2). PROGRAM TERMINATED.\r\n", 1},
    {"tav_corr_past_last", prog::tav, {{30, "0 1 1 0 2"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, CHECK CORR (LINE 30): THE BLOCK OF EFFECT 5 REACHES PAST THE LAST EFFECT. PROGRAM TERMINATED.\r\n", 1},
    {"ro_pedigree_typo_too_few_levels", prog::ro, {{27, "3 2 4 4 5"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, CHECK NLEV (LINE 27): EFFECT 4 OF THE PEDIGREE BLOCK OF EFFECT 4 HAS FEWER LEVELS THAN THE PEDIGREE SIZE. PROGRAM TERMINATED.\r\n", 1},
    {"ro_negative_nlev", prog::ro, {{27, "3 -2 4 5 5"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET A NON-NEGATIVE NLEV (LINE 27, EFFECT 2). PROGRAM TERMINATED.\r\n", 1},

    // ---------------------------------------------------------------- codes out of range in the data
    {"tav_class_level_above_nlev", prog::tav, {}, nullptr, "2 1 1 0 10.5\n1 2 4 1 11.0\n4 3 5 1 9.75\n1 4 2 0 12.25\n", nullptr,
     " \r\n FATAL ERROR IN RECORD           3 OF DAT1.sal, EFFECT           1\r\n CLASS LEVEL OUT OF RANGE 1 TO NLEV =           3\r\n"
     " VALUE:   4.00000000000000     \r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_class_level_above_nlev", prog::ro, {}, nullptr, "2 1 1 3 1 10.5\n1 3 2 4 3 11.0\n1 1 3 5 3 9.75\n1 2 4 2 0 12.25\n", nullptr,
     " \r\n FATAL ERROR IN RECORD           2 OF DAT1.sal, EFFECT           2\r\n CLASS LEVEL OUT OF RANGE 1 TO NLEV =           2\r\n"
     " VALUE:   3.00000000000000     \r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"tav_negative_class_level", prog::tav, {}, nullptr, "2 1 1 0 10.5\n1 -5 4 1 11.0\n1 3 5 1 9.75\n1 4 2 0 12.25\n", nullptr,
     " \r\n FATAL ERROR IN RECORD           2 OF DAT1.sal, EFFECT           2\r\n CLASS LEVEL OUT OF RANGE 1 TO NLEV =           4\r\n"
     " VALUE:  -5.00000000000000     \r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"tav_nested_level_out_of_range", prog::tav, {{26, "0 1 0 0 0"}, {27, "3 2 4 5 5"}, {29, "0 1 0 0 0"}}, nullptr,
     "2 1 1 0 10.5\n3 2 4 1 11.0\n1 3 5 1 9.75\n1 4 2 0 12.25\n", nullptr, " \r\n FATAL ERROR IN RECORD           2 OF DAT1.sal, EFFECT           2\r\n NESTING LEVEL OUT OF RANGE 1 TO NLEV =           2\r\n"
     " VALUE:   3.00000000000000     \r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_nested_level_out_of_range", prog::ro, {{26, "0 1 0 0 0"}, {29, "0 1 0 0 0"}, {31, "0 0 0 0 0"}}, nullptr,
     "2 1 1 3 1 10.5\n1 2 2 4 3 11.0\n3 1 3 5 3 9.75\n1 2 4 2 0 12.25\n", nullptr, " \r\n FATAL ERROR IN RECORD           3 OF DAT1.sal, EFFECT           2\r\n NESTING LEVEL OUT OF RANGE 1 TO NLEV =           2\r\n"
     " VALUE:   3.00000000000000     \r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"tav_typo_4", prog::tav, {{28, "0 4 3 2 0"}}, nullptr, nullptr, nullptr, " UNIMPLEMENTED RANDOM EFFECT           4\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_typo_3", prog::ro, {{28, "0 0 3 2 0"}}, nullptr, nullptr, nullptr, " UNIMPLEMENTED RANDOM EFFECT           3\r\n", "", 1},
    {"ro_typo_5", prog::ro, {{28, "0 0 5 2 0"}}, nullptr, nullptr, nullptr, " UNIMPLEMENTED RANDOM EFFECT           5\r\n", "", 1},

    // ---------------------------------------------------------------- a store too small, a model too large
    {"tav_store_too_small", prog::tav, {{17, "10"}}, nullptr, nullptr, nullptr, " \r\n *** FATAL ERROR ********************\r\n NZ TOO SMALL - NO ROOM FOR NEW ENTRY\r\n"
     " ************************************\r\n \r\n", "", 1},
    {"ro_store_too_small", prog::ro, {{17, "10"}}, nullptr, nullptr, nullptr, " \r\n *** FATAL ERROR ********************\r\n NZ TOO SMALL - NO ROOM FOR NEW ENTRY\r\n"
     " ************************************\r\n \r\n", "", 1},
    {"tav_absurd_equations", prog::tav, {{27, "1999999980 4 4 5 5"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_absurd_equations", prog::ro, {{27, "1999999980 2 4 5 5"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},

    // ---------------------------------------------------------------- the pedigree
    {"tav_ped_not_in_line_order", prog::tav, {}, nullptr, nullptr, "1 0 0\n3 1 2\n2 0 0\n4 1 3\n5 1 3\n",
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           2\r\n INDIVIDUAL ID DIFFERS FROM ITS LINE NUMBER.\r\n \r\n", "", 1},
    {"ro_ped_parent_above_size", prog::ro, {}, nullptr, nullptr, "1 0 0\n2 0 0\n3 1 9\n4 1 3\n5 1 3\n",
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           3\r\n DAM ID ABOVE THE NUMBER OF PEDIGREE MEMBERS.\r\n \r\n", "", 1},
    {"tav_ped_negative_sire", prog::tav, {}, nullptr, nullptr, "1 0 0\n2 -1 0\n3 1 2\n4 1 3\n5 1 3\n",
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           2\r\n NEGATIVE SIRE ID.\r\n \r\n", "", 1},
    {"ro_ped_not_in_line_order", prog::ro, {}, nullptr, nullptr, "1 0 0\n2 0 0\n4 1 3\n3 1 2\n5 1 3\n", 
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           3\r\n INDIVIDUAL ID DIFFERS FROM ITS LINE NUMBER.\r\n \r\n", "", 1},
    {"tav_ped_parent_above_size", prog::tav, {}, nullptr, nullptr, "1 0 0\n2 0 0\n3 1 2\n4 6 3\n5 1 3\n", 
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           4\r\n SIRE ID ABOVE THE NUMBER OF PEDIGREE MEMBERS.\r\n \r\n", "", 1},
};

std::string replace_all(std::string s, const std::string& what, const std::string& with) {
  for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size()))
    s.replace(p, what.size(), with);
  return s;
}

void write_input(const fs::path& dir, const char* name, const char* how, const std::string& valid) {
  if (how == missing) return;
  std::string text = valid;
  if (how == first_30_lines) text = first_lines(valid, 30);
  else if (how == crlf_and_tabs) text = crlf_tabs(valid);
  else if (how != nullptr) text = how;
  write_file(dir / name, text);
}

class MalformedInput : public ::testing::TestWithParam<row> {};

TEST_P(MalformedInput, StopsWithItsMessage) {
  const row& c = GetParam();
  fs::path dir = scratch_dir(std::string("malformed_") + c.name);
  write_input(dir, "param.txt", c.param_file, param_text(c.p, c.param));
  write_input(dir, "dat.txt", c.dat_file, c.p == prog::tav ? tav_dat : ro_dat);
  write_input(dir, "ped.txt", c.ped_file, ped);

  const std::string bin = c.p == prog::tav ? ZUMEK_TAV_BIN : ZUMEK_RO_BIN;
  const run_result res = run_in(dir, bin);
  std::string err = replace_all(c.err, "{dir}", fs::canonical(dir).string());
  err = replace_all(err, "{prog}", c.p == prog::tav ? "zumek_tav" : "zumek_ro");
  EXPECT_EQ(res.status, c.status) << res.out << res.err;
  EXPECT_EQ(res.err, err);
  if (*c.out) {
    EXPECT_NE(res.out.find(c.out), std::string::npos) << res.out;
  }
  // A sanitizer report would have gone to the standard error and changed the status.
}

// A full run from CR LF files with tabs for blanks gives the very run of the plain files:
// the same console, the same stop and every output file byte for byte.
TEST(MalformedInputCrLf, FullRunMatchesTheLfRun) {
  for (prog p : {prog::tav, prog::ro}) {
    const std::string bin = p == prog::tav ? ZUMEK_TAV_BIN : ZUMEK_RO_BIN;
    const std::string tag = p == prog::tav ? "tav" : "ro";
    const std::string param = param_text(p, {{16, "5"}});
    const std::string dat = p == prog::tav ? tav_dat : ro_dat;
    fs::path lf = scratch_dir("malformed_full_lf_" + tag);
    fs::path cr = scratch_dir("malformed_full_crlf_" + tag);
    write_file(lf / "param.txt", param);
    write_file(lf / "dat.txt", dat);
    write_file(lf / "ped.txt", ped);
    write_file(cr / "param.txt", crlf_tabs(param));
    write_file(cr / "dat.txt", crlf_tabs(dat));
    write_file(cr / "ped.txt", crlf_tabs(ped));
    const run_result a = run_in(lf, bin);
    const run_result b = run_in(cr, bin);
    ASSERT_EQ(a.status, 0) << a.out << a.err;
    EXPECT_EQ(a.err, "PROGRAM TERMINATED.\r\n");
    EXPECT_EQ(b.status, a.status);
    EXPECT_EQ(b.err, a.err);
    EXPECT_EQ(b.out, a.out);
    const char* chain = p == prog::tav ? "CVC_CHAIN.txt" : "CVC-CHAIN.txt";
    const char* sols = p == prog::tav ? "ZUMEK TEST - SOLS.txt" : "SOLUTIONS.txt";
    for (const char* f : {chain, sols, "DAT1.sal", "ERROR FILE.txt"}) {
      ASSERT_TRUE(fs::exists(lf / f)) << tag << " " << f;
      EXPECT_EQ(read_file(cr / f), read_file(lf / f)) << tag << " " << f;
    }
    const std::string chain_text = read_file(lf / chain);
    EXPECT_EQ(std::count(chain_text.begin(), chain_text.end(), '\n'), 5) << tag;   // one line a round
  }
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedInput, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<row>& i) { return std::string(i.param.name); });

}  // namespace

// Malformed input against both programs: each row of the table below runs one binary in a
// scratch folder on a valid input set with one thing broken, and checks the console message,
// the standard error line and the exit status. Rows that need a later step of a program
// (pedigree pass, assembly) run once the binary has that step, and are skipped before.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/e2e.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

enum class prog { tav, ro };
// The step of the program that a row reaches.
enum class need { parameters, data, pedigree, assembly };

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
  need n;
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
    {"tav_param_missing", prog::tav, need::parameters, {}, missing, nullptr, nullptr, "",
     "{prog}: severe (29): file not found, unit 37, file {dir}/param.txt\r\n", 29},
    {"ro_param_missing", prog::ro, need::parameters, {}, missing, nullptr, nullptr, "",
     "{prog}: severe (29): file not found, unit 37, file {dir}/param.txt\r\n", 29},
    {"tav_param_empty", prog::tav, need::parameters, {}, empty, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"ro_param_empty", prog::ro, need::parameters, {}, empty, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"tav_param_ends_early", prog::tav, need::parameters, {}, first_30_lines, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"ro_param_ends_early", prog::ro, need::parameters, {}, first_30_lines, nullptr, nullptr, "",
     "{prog}: severe (24): end-of-file during read, unit 37, file {dir}/param.txt\r\n", 24},
    {"tav_dat_missing", prog::tav, need::data, {}, nullptr, missing, nullptr, "",
     "{prog}: severe (29): file not found, unit 1, file {dir}/dat.txt\r\n", 29},
    {"ro_dat_missing", prog::ro, need::data, {}, nullptr, missing, nullptr, "",
     "{prog}: severe (29): file not found, unit 1, file {dir}/dat.txt\r\n", 29},
    {"tav_dat_empty", prog::tav, need::data, {}, nullptr, empty, nullptr,
     " \r\n BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER\r\n", "", 1},
    {"ro_dat_ends_early", prog::ro, need::data, {}, nullptr, "2 1 1 3 1 10.5\n1 2 2 4 3\n", nullptr,
     " \r\n BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER\r\n", "", 1},
    {"tav_ped_missing", prog::tav, need::pedigree, {}, nullptr, nullptr, missing, "",
     "{prog}: severe (29): file not found, unit 2, file {dir}/ped.txt\r\n", 29},
    {"ro_ped_ends_early", prog::ro, need::pedigree, {}, nullptr, nullptr, "1 0 0\n2 0 0\n3 1 2\n", "",
     "{prog}: severe (24): end-of-file during read, unit 2, file {dir}/ped.txt\r\n", 24},

    // ---------------------------------------------------------------- values that cannot be converted
    {"tav_param_bad_integer", prog::tav, need::parameters, {{17, "1O00   NZ"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (59): bad value during read, unit 37, file {dir}/param.txt, line 17, value '1O00'\r\n", 59},
    {"ro_param_real_for_integer", prog::ro, need::parameters, {{19, "4.0"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (59): bad value during read, unit 37, file {dir}/param.txt, line 19, value '4.0'\r\n", 59},
    {"tav_dat_bad_value", prog::tav, need::data, {}, nullptr, "2 1 1 0 10.5\n1 2 4 1 11.0\n1 x 5 1 9.75\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           3\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_ped_bad_value", prog::ro, need::pedigree, {}, nullptr, nullptr, "1 0 0\n2 0 0\n3 one 2\n4 1 3\n5 1 3\n", "",
     "{prog}: severe (59): bad value during read, unit 2, file {dir}/ped.txt, line 3, value 'one'\r\n", 59},

    // ---------------------------------------------------------------- non-finite values
    // The reader takes no NaN or infinity, and a real too large for 64 bits is no value
    // either: such a record stops the data step naming its position.
    {"tav_dat_nan_observation", prog::tav, need::data, {}, nullptr, "2 1 1 0 10.5\n1 2 4 1 NaN\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           2\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_dat_inf_covariate", prog::ro, need::data, {}, nullptr, "2 1 1 3 1 10.5\n1 2 2 4 3 11.0\n1 1 Inf 5 3 9.75\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           3\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"ro_dat_overflow_observation", prog::ro, need::data, {}, nullptr, "2 1 1 3 1 1.0E400\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           1\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},
    {"tav_dat_minus_nan", prog::tav, need::data, {}, nullptr, "2 1 -nan 0 10.5\n", nullptr,
     " BEWARE! ERROR          59  IN LINE           1\r\n \r\n", "FATAL ERROR: EXECUTION STOPPED\r\n", 1},

    // ---------------------------------------------------------------- CR LF, tabs, commas: accepted
    {"tav_crlf_tabs", prog::tav, need::data, {}, crlf_and_tabs, crlf_and_tabs, crlf_and_tabs,
     " No. MATERNAL FAMILIES:    2\r\n", "PROGRAM TERMINATED.\r\n", 0},
    {"ro_crlf_tabs", prog::ro, need::data, {}, crlf_and_tabs, crlf_and_tabs, crlf_and_tabs,
     "   NUMBER OF BLOCKS:           2\r\n", "PROGRAM TERMINATED.\r\n", 0},
    {"ro_commas", prog::ro, need::data, {{27, "3,2,4,5,5"}, {51, "-0.5,0.5"}}, nullptr,
     "2,1,1,3,1,10.5\n1,2,2,4,3,11.0\n1, 1, 3, 5, 3, 9.75\n1\t2\t4\t2\t0\t12.25\n", nullptr,
     "   NUMBER OF BLOCKS:           2\r\n", "PROGRAM TERMINATED.\r\n", 0},

    // No record at all is a valid data set: one family, the rest group, and it is empty. (Found
    // by fuzzing: the empty table's null storage was offset to reach its columns.)
    {"tav_no_records", prog::tav, need::data, {{19, "0"}, {27, "3 4 0 5 5"}}, nullptr, empty, nullptr,
     " No. MATERNAL FAMILIES:    1\r\n", "PROGRAM TERMINATED.\r\n", 0},
    {"ro_no_records", prog::ro, need::data, {{19, "0"}}, nullptr, empty, nullptr,
     "   NUMBER OF BLOCKS:           1\r\n", "PROGRAM TERMINATED.\r\n", 0},

    // ---------------------------------------------------------------- negative and absurd counts
    {"tav_negative_nrdf", prog::tav, need::parameters, {{19, "-4"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET A NON-NEGATIVE NRDF (LINE 19). PROGRAM TERMINATED.\r\n", 1},
    {"ro_negative_pedigree", prog::ro, need::parameters, {{18, "-5"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET A NON-NEGATIVE PEDIGREE SIZE (LINE 18). PROGRAM TERMINATED.\r\n", 1},
    {"tav_too_few_effects", prog::tav, need::parameters, {{20, "3"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET 4 OR MORE EFFECTS (LINE 20). PROGRAM TERMINATED.\r\n", 1},
    {"ro_negative_effects", prog::ro, need::parameters, {{20, "-2"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET 3 OR MORE EFFECTS (LINE 20). PROGRAM TERMINATED.\r\n", 1},
    {"tav_absurd_effects", prog::tav, need::parameters, {{20, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_absurd_effects", prog::ro, need::parameters, {{20, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"tav_absurd_nrdf", prog::tav, need::data, {{19, "2000000000"}, {27, "3 4 2000000000 5 5"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_absurd_nrdf", prog::ro, need::data, {{19, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"tav_absurd_nz", prog::tav, need::assembly, {{17, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_absurd_nz", prog::ro, need::assembly, {{17, "2000000000"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (41): insufficient virtual memory\r\n", 41},
    {"ro_integer_overflow", prog::ro, need::parameters, {{17, "2147483648"}}, nullptr, nullptr, nullptr, "",
     "{prog}: severe (59): bad value during read, unit 37, file {dir}/param.txt, line 17, value '2147483648'\r\n", 59},
    {"tav_even_grid", prog::tav, need::parameters, {{52, "8"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET AN ODD NUMBER OF GRID POINTS. PROGRAM TERMINATED.\r\n", 1},
    {"ro_one_grid_point", prog::ro, need::parameters, {{50, "1"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET 3 OR MORE GRID POINTS (LINE 50). PROGRAM TERMINATED.\r\n", 1},

    // ---------------------------------------------------------------- CORR, TYPO, levels out of range
    {"tav_corr_3", prog::tav, need::parameters, {{30, "0 1 3 2 0"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT 3). PROGRAM TERMINATED.\r\n", 1},
    {"ro_corr_negative", prog::ro, need::parameters, {{30, "0 -1 1 2 0"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT 2). PROGRAM TERMINATED.\r\n", 1},
    {"tav_corr_past_last", prog::tav, need::parameters, {{30, "0 1 1 0 2"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, CHECK CORR (LINE 30): THE BLOCK OF EFFECT 5 REACHES PAST THE LAST EFFECT. PROGRAM TERMINATED.\r\n", 1},
    {"ro_pedigree_typo_too_few_levels", prog::ro, need::parameters, {{27, "3 2 4 4 5"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, CHECK NLEV (LINE 27): EFFECT 4 OF THE PEDIGREE BLOCK OF EFFECT 4 HAS FEWER LEVELS THAN THE PEDIGREE SIZE. PROGRAM TERMINATED.\r\n", 1},
    {"ro_negative_nlev", prog::ro, need::parameters, {{27, "3 -2 4 5 5"}}, nullptr, nullptr, nullptr, "",
     "PLEASE, SET A NON-NEGATIVE NLEV (LINE 27, EFFECT 2). PROGRAM TERMINATED.\r\n", 1},

    // ---------------------------------------------------------------- the pedigree
    {"tav_ped_not_in_line_order", prog::tav, need::pedigree, {}, nullptr, nullptr, "1 0 0\n3 1 2\n2 0 0\n4 1 3\n5 1 3\n",
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           2\r\n INDIVIDUAL ID DIFFERS FROM ITS LINE NUMBER.\r\n \r\n", "", 1},
    {"ro_ped_parent_above_size", prog::ro, need::pedigree, {}, nullptr, nullptr, "1 0 0\n2 0 0\n3 1 9\n4 1 3\n5 1 3\n",
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           3\r\n DAM ID ABOVE THE NUMBER OF PEDIGREE MEMBERS.\r\n \r\n", "", 1},
    {"tav_ped_negative_sire", prog::tav, need::pedigree, {}, nullptr, nullptr, "1 0 0\n2 -1 0\n3 1 2\n4 1 3\n5 1 3\n",
     " \r\n FATAL ERROR IN PEDIGREE FILE, LINE           2\r\n NEGATIVE SIRE ID.\r\n \r\n", "", 1},
};

// What a binary does so far, found by running it on the valid set with one file taken away:
// a step is there when the run asks for its file.
struct reach {
  bool parameters = false, data = false, pedigree = false, assembly = false;
};

reach probe(prog p) {
  static std::map<prog, reach> known;
  if (auto it = known.find(p); it != known.end()) return it->second;
  const std::string bin = p == prog::tav ? ZUMEK_TAV_BIN : ZUMEK_RO_BIN;
  const std::string dat = p == prog::tav ? tav_dat : ro_dat;
  reach r;
  fs::path dir = scratch_dir(p == prog::tav ? "malformed_probe_tav" : "malformed_probe_ro");
  r.parameters = run_in(dir, bin).status == 29;
  write_file(dir / "param.txt", param_text(p, {}));
  r.data = r.parameters && run_in(dir, bin).status == 29;
  write_file(dir / "dat.txt", dat);
  r.pedigree = r.data && run_in(dir, bin).status == 29;
  write_file(dir / "ped.txt", ped);
  r.assembly = r.pedigree && run_in(dir, bin).out.find("STEP 2") != std::string::npos;
  known[p] = r;
  return r;
}

std::string replace_all(std::string s, const std::string& what, const std::string& with) {
  for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + with.size()))
    s.replace(p, what.size(), with);
  return s;
}

void write_input(const fs::path& dir, const char* name, const char* spec, const std::string& valid) {
  if (spec == missing) return;
  std::string text = valid;
  if (spec == first_30_lines) text = first_lines(valid, 30);
  else if (spec == crlf_and_tabs) text = crlf_tabs(valid);
  else if (spec != nullptr) text = spec;
  write_file(dir / name, text);
}

class MalformedInput : public ::testing::TestWithParam<row> {};

TEST_P(MalformedInput, StopsWithItsMessage) {
  const row& c = GetParam();
  const reach r = probe(c.p);
  const bool ready = c.n == need::parameters ? r.parameters
                     : c.n == need::data     ? r.data
                     : c.n == need::pedigree ? r.pedigree
                                             : r.assembly;
  if (!ready) GTEST_SKIP() << "the binary does not reach this step yet";

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
  if (*c.out) EXPECT_NE(res.out.find(c.out), std::string::npos) << res.out;
  // A sanitizer report would have gone to the standard error and changed the status.
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedInput, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<row>& i) { return std::string(i.param.name); });

}  // namespace

// The chain file of zumek_tav: its line layout (six F11.5 fields each followed by two blanks, 11
// asterisks for a value that does not fit, one line per round, the starting values on line 1)
// and the reproducibility of a run: the same inputs and seed give the same chain and console
// byte for byte, another seed gives another chain.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/e2e.hpp"
#include "tests/support/tav_small_model.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The example's "param.txt" as lines (CR LF or LF ends), line 1 at index 0.
std::vector<std::string> example_param_lines() {
  std::istringstream in(read_file(source_dir() / "examples" / "zumek_tav" / "param.txt"));
  std::vector<std::string> lines;
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

struct run_outputs {
  run_result run;
  std::string chain, solutions;
};

// Runs zumek_tav on the example inputs, with "param.txt" replaced by the given lines.
run_outputs run_example(const std::string& name, const std::vector<std::string>& param) {
  const fs::path dir = scratch_dir(name);
  for (const char* f : {"dat.txt", "ped.txt"})
    fs::copy_file(source_dir() / "examples" / "zumek_tav" / f, dir / f);
  std::string text;
  for (const auto& l : param) text += l + "\n";
  write_file(dir / "param.txt", text);
  run_outputs o;
  o.run = run_in(dir, ZUMEK_TAV_BIN);
  o.chain = read_file(dir / "CVC_CHAIN.txt");
  o.solutions = read_file(dir / "ZUMEK TEST - SOLS.txt");
  fs::remove_all(dir);
  return o;
}

std::vector<std::string> split_crlf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, p - start));
    start = p + 2;
  }
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

// An F11.5 field: right-aligned, an optional minus, at least one digit, the point, five digits;
// or 11 asterisks.
bool is_f11_5(const std::string& f) {
  if (f.size() != 11) return false;
  if (f == std::string(11, '*')) return true;
  std::size_t i = 0;
  while (i < f.size() && f[i] == ' ') ++i;
  if (i < f.size() && f[i] == '-') ++i;
  const std::size_t int_start = i;
  while (i < f.size() && std::isdigit(static_cast<unsigned char>(f[i]))) ++i;
  if (i == int_start || i != 5 || f[i] != '.') return false;
  for (++i; i < f.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(f[i]))) return false;
  return true;
}

// Every line: six fields of 11 columns, each followed by two blanks.
void expect_chain_layout(const std::vector<std::string>& lines) {
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string& l = lines[n];
    ASSERT_EQ(l.size(), 6u * 13u) << "line " << n + 1 << ": [" << l << "]";
    for (int k = 0; k < 6; ++k) {
      EXPECT_TRUE(is_f11_5(l.substr(13 * k, 11))) << "line " << n + 1 << " field " << k + 1;
      EXPECT_EQ(l.substr(13 * k + 11, 2), "  ") << "line " << n + 1 << " field " << k + 1;
    }
  }
}

}  // namespace

TEST(ZumekTavChain, SameSeedRepeatsTheRunByteForByteAnotherSeedChangesTheChain) {
  const std::vector<std::string> param = example_param_lines();
  ASSERT_EQ(param.size(), 59u);
  const run_outputs a = run_example("tav_chain_a", param);
  const run_outputs b = run_example("tav_chain_b", param);
  ASSERT_EQ(a.run.status, 0) << a.run.out;
  EXPECT_EQ(a.run.err, "PROGRAM TERMINATED.\r\n");
  EXPECT_EQ(b.run.status, 0);
  EXPECT_EQ(a.run.out, b.run.out);
  EXPECT_EQ(a.run.err, b.run.err);
  EXPECT_EQ(a.chain, b.chain);
  EXPECT_EQ(a.solutions, b.solutions);

  // 200 rounds: 200 lines, the first with the starting values of "param.txt" (R, p_PAR, the
  // litter pen variance, then the 2 x 2 block), each later line with new draws of all six.
  const std::vector<std::string> lines = split_crlf(a.chain);
  ASSERT_EQ(lines.size(), 200u);
  expect_chain_layout(lines);
  EXPECT_EQ(lines[0],
            "    6.00000      0.20000      4.00000     12.00000     -2.00000      5.00000  ");
  for (std::size_t n = 1; n < lines.size(); ++n)
    for (int k = 0; k < 6; ++k)
      EXPECT_NE(lines[n].substr(13 * k, 11), lines[n - 1].substr(13 * k, 11))
          << "value " << k + 1 << " did not move from line " << n << " to " << n + 1;

  // Another seed: the same first line, other draws from round 1 on.
  std::vector<std::string> other = param;
  other[14] = "20240612      seed of the random generator";
  const run_outputs c = run_example("tav_chain_c", other);
  ASSERT_EQ(c.run.status, 0) << c.run.out;
  const std::vector<std::string> lines_c = split_crlf(c.chain);
  ASSERT_EQ(lines_c.size(), 200u);
  expect_chain_layout(lines_c);
  EXPECT_EQ(lines_c[0], lines[0]);
  EXPECT_NE(lines_c[1], lines[1]);
  EXPECT_NE(c.chain, a.chain);
  // The solutions file holds the solution at the starting (co)variances, which no seed touches.
  EXPECT_EQ(c.solutions, a.solutions);
  EXPECT_EQ(c.run.out, a.run.out);
}

// Starting values at the edges of F11.5: 99999.99999 and -9999.99999 fit, 100000.0 and -10000.0
// do not and show as 11 asterisks. One round writes one line: its starting values.
TEST(ZumekTavChain, ValuesThatDoNotFitShowAsAsterisks) {
  struct edge_case {
    const char *pen, *g11, *g12, *g22, *line;
  };
  const edge_case cases[] = {
      {"99999.99999", "30000.0", "-9999.99999", "99999.99999",
       "    0.80000      0.30000  99999.99999  30000.00000  -9999.99999  99999.99999  "},
      {"100000.0", "30000.0", "-10000.0", "99999.99999",
       "    0.80000      0.30000  ***********  30000.00000  ***********  99999.99999  "},
      {"1.5", "123456.7", "-0.6", "1.2",
       "    0.80000      0.30000      1.50000  ***********     -0.60000      1.20000  "},
  };
  int n = 0;
  for (const edge_case& e : cases) {
    auto lines = tav_small_model::param_lines();
    lines[16] = "1";
    lines[39] = e.pen;
    lines[41] = e.g11;
    lines[42] = e.g12;
    lines[43] = e.g22;
    const fs::path dir = scratch_dir("tav_chain_edges_" + std::to_string(++n));
    tav_small_model::write_inputs(dir, lines);
    const run_result r = run_in(dir, ZUMEK_TAV_BIN);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(dir / "CVC_CHAIN.txt"), std::string(e.line) + "\r\n");
    fs::remove_all(dir);
  }
}

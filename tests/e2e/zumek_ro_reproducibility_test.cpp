// zumek_ro end to end on the example herd: the same inputs and seed give the same console, stop
// text, chain and solutions byte for byte; another seed gives another chain from the same start;
// every chain line has the six-value fixed layout, the first one holding the starting values.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/e2e.hpp"

using namespace testing_support;

namespace {

struct run_files {
  run_result run;
  std::string chain, solutions, dat1;
};

constexpr int rounds = 40;

// The example parameter file with `rounds` rounds and the given seed (lines 15 and 16).
std::string example_param(const std::string& seed) {
  std::string param = read_file(source_dir() / "examples" / "zumek_ro" / "param.txt");
  const auto replace_line = [&param](int line, const std::string& text) {
    std::size_t at = 0;
    for (int l = 1; l < line; ++l) at = param.find('\n', at) + 1;
    param.replace(at, param.find('\n', at) - at, text);
  };
  replace_line(15, seed + "  seed");
  replace_line(16, std::to_string(rounds) + "  rounds");
  return param;
}

run_files run_example(const std::string& name, const std::string& param) {
  const auto dir = scratch_dir(name);
  const auto example = source_dir() / "examples" / "zumek_ro";
  write_file(dir / "param.txt", param);
  std::filesystem::copy_file(example / "dat.txt", dir / "dat.txt");
  std::filesystem::copy_file(example / "ped.txt", dir / "ped.txt");
  run_files f;
  f.run = run_in(dir, ZUMEK_RO_BIN);
  f.chain = read_file(dir / "CVC-CHAIN.txt");
  f.solutions = read_file(dir / "SOLUTIONS.txt");
  f.dat1 = read_file(dir / "DAT1.sal");
  return f;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));  // an unterminated tail fails the layout check
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

}  // namespace

TEST(ZumekRoReproducibility, SameSeedSameBytesOtherSeedOtherChain) {
  const std::string param = example_param("20240611");
  const run_files a = run_example("ro_repro_a", param);
  const run_files b = run_example("ro_repro_b", param);
  ASSERT_EQ(a.run.status, 0) << a.run.out << a.run.err;
  EXPECT_EQ(a.run.err, crlf("PROGRAM TERMINATED.\n"));
  EXPECT_EQ(a.run.out, b.run.out);
  EXPECT_EQ(a.run.err, b.run.err);
  EXPECT_EQ(a.chain, b.chain);
  EXPECT_EQ(a.solutions, b.solutions);
  EXPECT_EQ(a.dat1, b.dat1);

  // Layout: one line per round, six values in F11.5 each followed by two blanks, CR LF.
  const std::vector<std::string> lines = lines_of(a.chain);
  ASSERT_EQ(lines.size(), std::size_t(rounds));
  const std::regex value_line("( {0,4}-?[0-9]{1,5}\\.[0-9]{5}  ){6}");
  for (const std::string& line : lines) {
    EXPECT_EQ(line.size(), 6u * 13u) << line;
    EXPECT_TRUE(std::regex_match(line, value_line)) << line;
  }
  // Round 1 writes the starting values, in the order S2E0, p_PAR, the single variance, then the
  // 2 x 2 block's (1,1), (2,1) and (2,2) elements (param.txt lines 37 to 42).
  EXPECT_EQ(lines[0],
            "   20.00000      0.20000      4.00000     12.00000     -2.00000      5.00000  ");
  // Every later round holds new draws.
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_NE(lines[i], lines[i - 1]) << i;

  // A different seed: the same start and console, a different chain from the second line on.
  const run_files c = run_example("ro_repro_c", example_param("987654"));
  ASSERT_EQ(c.run.status, 0) << c.run.out << c.run.err;
  EXPECT_EQ(c.run.out, a.run.out);
  const std::vector<std::string> other = lines_of(c.chain);
  ASSERT_EQ(other.size(), std::size_t(rounds));
  EXPECT_EQ(other[0], lines[0]);
  for (std::size_t i = 1; i < other.size(); ++i) EXPECT_NE(other[i], lines[i]) << i;
}

// Free-form reading from files: statements over lines, separators, forms of values, status
// returns and the run-time error lines when no status is asked for.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "tests/support/e2e.hpp"

namespace fs = std::filesystem;
using testing_support::scratch_dir;
using testing_support::write_file;

namespace {

// Opens a file holding the text as unit 37.
rt::text_in open_text(const std::string& name, std::string_view text) {
  fs::path dir = scratch_dir("read_" + name);
  write_file(dir / "in.txt", text);
  rt::text_in f;
  rt::open_in(f, 37, (dir / "in.txt").string());
  return f;
}

TEST(FreeFormRead, ValuesOverSeveralLinesBlankLinesAndComments) {
  rt::text_in f = open_text("lines", "  1   2.5   ignored? no\n\n   \n3\n4.5  rest is a comment 7\n8\n");
  std::int32_t a = 0, c = 0;
  double b = 0, d = 0;
  // 1 2.5 then "ignored?" is a bad real: use a statement that stops after two values.
  ASSERT_EQ(rt::read_with_status(f, {a, b}), rt::read_ok);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2.5);
  // Starts on a new line, skips the blank lines, spans two lines, ignores the comment.
  ASSERT_EQ(rt::read_with_status(f, {c, d}), rt::read_ok);
  EXPECT_EQ(c, 3);
  EXPECT_EQ(d, 4.5);
  ASSERT_EQ(rt::read_with_status(f, {a}), rt::read_ok);
  EXPECT_EQ(a, 8);
  EXPECT_EQ(rt::read_with_status(f, {a}), rt::read_end_of_file);
  EXPECT_EQ(a, 8);
}

TEST(FreeFormRead, CommasTabsAndCrLf) {
  rt::text_in f = open_text("seps", "1,2\t3 ,\t 4\r\n5\r\n\r\n6,7\r\n");
  double v[5] = {};
  ASSERT_EQ(rt::read_with_status(f, {std::span<double>(v)}), rt::read_ok);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[3], 4);
  EXPECT_EQ(v[4], 5);
  std::int32_t a = 0, b = 0;
  ASSERT_EQ(rt::read_with_status(f, {a, b}), rt::read_ok);
  EXPECT_EQ(a, 6);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(rt::read_with_status(f, {}), rt::read_end_of_file);
}

TEST(FreeFormRead, EmptyReadSkipsExactlyOneLineAndRewindRestarts) {
  rt::text_in f = open_text("skip", "1\n\n3\n4");   // no LF after the last line
  std::int32_t a = 0;
  ASSERT_EQ(rt::read_with_status(f, {}), rt::read_ok);   // skips "1"
  ASSERT_EQ(rt::read_with_status(f, {}), rt::read_ok);   // skips the blank line
  ASSERT_EQ(rt::read_with_status(f, {a}), rt::read_ok);
  EXPECT_EQ(a, 3);
  ASSERT_EQ(rt::read_with_status(f, {a}), rt::read_ok);
  EXPECT_EQ(a, 4);
  EXPECT_EQ(rt::read_with_status(f, {}), rt::read_end_of_file);
  rt::rewind(f);
  ASSERT_EQ(rt::read_with_status(f, {a}), rt::read_ok);
  EXPECT_EQ(a, 1);
}

TEST(FreeFormRead, FormsOfReals) {
  rt::text_in f = open_text("reals", "1 1. .5 -2.5E-3 2.5D-3 +3 1e2 4d0 1.5-3 -0\n");
  double v[10] = {};
  ASSERT_EQ(rt::read_with_status(f, {std::span<double>(v)}), rt::read_ok);
  EXPECT_EQ(v[0], 1.0);
  EXPECT_EQ(v[1], 1.0);
  EXPECT_EQ(v[2], 0.5);
  EXPECT_EQ(v[3], -2.5e-3);
  EXPECT_EQ(v[4], 2.5e-3);
  EXPECT_EQ(v[5], 3.0);
  EXPECT_EQ(v[6], 100.0);
  EXPECT_EQ(v[7], 4.0);
  EXPECT_EQ(v[8], 1.5e-3);
  EXPECT_EQ(v[9], 0.0);
  // Correctly rounded conversion: identifiers read as reals compare exactly.
  rt::text_in g = open_text("reals2", "0.1 123456789 1.7976931348623157e308\n");
  double x[3] = {};
  ASSERT_EQ(rt::read_with_status(g, {std::span<double>(x)}), rt::read_ok);
  EXPECT_EQ(x[0], 0.1);
  EXPECT_EQ(x[1], 123456789.0);
  EXPECT_EQ(x[2], 1.7976931348623157e308);
}

TEST(FreeFormRead, LogicalForms) {
  rt::text_in f = open_text("logicals", "T f .TRUE. .false.\ntrue Fals .t. .F\nX\n");
  bool v[8] = {false, true, false, true, false, true, false, true};
  ASSERT_EQ(rt::read_with_status(f, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]}),
            rt::read_ok);
  const bool want[8] = {true, false, true, false, true, false, true, false};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(v[k], want[k]) << k;
  EXPECT_EQ(rt::read_with_status(f, {v[0]}), rt::read_bad_value);
  EXPECT_TRUE(v[0]);   // unchanged
}

TEST(FreeFormRead, NullValuesRepeatsAndSlash) {
  rt::text_in f = open_text("nulls", ",5,,7\n2*1.5 3*\n1 / 2\n");
  std::int32_t a = -1, b = -1, c = -1, d = -1;
  ASSERT_EQ(rt::read_with_status(f, {a, b, c, d}), rt::read_ok);
  EXPECT_EQ(a, -1);   // nothing before the first comma
  EXPECT_EQ(b, 5);
  EXPECT_EQ(c, -1);   // nothing between two commas
  EXPECT_EQ(d, 7);
  double x[5] = {0, 0, 9, 9, 9};
  ASSERT_EQ(rt::read_with_status(f, {std::span<double>(x)}), rt::read_ok);
  EXPECT_EQ(x[0], 1.5);
  EXPECT_EQ(x[1], 1.5);
  EXPECT_EQ(x[2], 9);
  EXPECT_EQ(x[4], 9);
  a = b = 0;
  ASSERT_EQ(rt::read_with_status(f, {a, b}), rt::read_ok);   // the slash ends the read
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
}

TEST(FreeFormRead, BadValuesWithStatus) {
  rt::text_in f = open_text("bad", "1 2.5\n7 x\n2147483648\n1e999\n3 4\n");
  std::int32_t a = 0, b = 0;
  EXPECT_EQ(rt::read_with_status(f, {a, b}), rt::read_bad_value);   // an integer item
  EXPECT_EQ(a, 1);                                                   // keeps what was read
  EXPECT_EQ(b, 0);
  double x = 0, y = 0;
  EXPECT_EQ(rt::read_with_status(f, {x, y}), rt::read_bad_value);
  EXPECT_EQ(x, 7.0);
  EXPECT_EQ(rt::read_with_status(f, {a}), rt::read_bad_value);   // beyond 32 bits
  EXPECT_EQ(rt::read_with_status(f, {x}), rt::read_bad_value);   // beyond 64-bit reals
  // The next statement starts on the line after the failure.
  ASSERT_EQ(rt::read_with_status(f, {a, b}), rt::read_ok);
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, 4);
}

TEST(FreeFormRead, EndOfFileInsideAStatementKeepsTheValuesRead) {
  rt::text_in f = open_text("eof", "1 2\n3\n");
  double v[4] = {};
  EXPECT_EQ(rt::read_with_status(f, {std::span<double>(v)}), rt::read_end_of_file);
  EXPECT_EQ(v[2], 3.0);
  EXPECT_EQ(v[3], 0.0);
  EXPECT_EQ(rt::read_with_status(f, {v[0]}), rt::read_end_of_file);
}

using FreeFormReadDeath = ::testing::Test;

TEST(FreeFormReadDeath, EndOfFileWithoutStatusIsARunTimeError) {
  rt::text_in f = open_text("eof_rte", "1\n");
  std::string path = fs::canonical(f.path).string();
  std::int32_t a = 0, b = 0;
  rt::set_program_name("zumek_tav");
  EXPECT_EXIT(rt::read(f, {a, b}), ::testing::ExitedWithCode(24),
              "^zumek_tav: severe \\(24\\): end-of-file during read, unit 37, file " + path +
                  "\r\n$");
}

TEST(FreeFormReadDeath, BadValueWithoutStatusIsARunTimeError) {
  rt::text_in f = open_text("bad_rte", "\n\n1 2.5\n");
  std::string path = fs::canonical(f.path).string();
  std::int32_t a = 0, b = 0;
  rt::set_program_name("zumek_ro");
  EXPECT_EXIT(rt::read(f, {a, b}), ::testing::ExitedWithCode(59),
              "^zumek_ro: severe \\(59\\): bad value during read, unit 37, file " + path +
                  ", line 3, value '2.5'\r\n$");
}

TEST(FreeFormReadDeath, MissingInputFileIsARunTimeError) {
  fs::path dir = fs::canonical(scratch_dir("missing"));
  rt::set_program_name("zumek_tav");
  rt::text_in f;
  EXPECT_EXIT(rt::open_in(f, 2, (dir / "ped.txt").string()), ::testing::ExitedWithCode(29),
              "^zumek_tav: severe \\(29\\): file not found, unit 2, file " + (dir / "ped.txt").string() +
                  "\r\n$");
}

TEST(TextFiles, OutputLinesEndInCrLfAndReopeningEmpties) {
  fs::path dir = scratch_dir("out_crlf");
  rt::text_out f;
  rt::open_out(f, 11, (dir / "out.txt").string());
  rt::write(f, {"SOLUTIONS FILE"});
  rt::write(f, {});
  rt::put(f, rt::fixed_line().I(1, 6).X(2).F(0.5, 7, 5));
  rt::put_line(f, "LAST");
  rt::close(f);
  EXPECT_EQ(testing_support::read_file(dir / "out.txt"),
            " SOLUTIONS FILE\r\n \r\n     1  0.50000\r\nLAST\r\n");
  rt::open_out(f, 11, (dir / "out.txt").string());
  rt::close(f);
  EXPECT_EQ(testing_support::read_file(dir / "out.txt"), "");
}

}  // namespace

// A file of several megabytes (read whole, on large pages) comes in byte for byte: every line
// read back in order, the last one included.
TEST(FreeFormRead, LargeFileReadWhole) {
  std::string text;
  const int lines = 300000;
  for (int i = 1; i <= lines; ++i) text += std::to_string(i) + " " + std::to_string(2 * i) + " 0.5\r\n";
  ASSERT_GT(text.size(), std::size_t{4} << 20);
  rt::text_in f = open_text("large", text);
  EXPECT_EQ(f.text, text);
  for (int i = 1; i <= lines; ++i) {
    std::int32_t a = 0, b = 0;
    double c = 0.0;
    ASSERT_EQ(rt::read_with_status(f, {a, b, c}), rt::read_ok) << i;
    ASSERT_TRUE(a == i && b == 2 * i && c == 0.5) << i;
  }
  std::int32_t a = 0;
  EXPECT_EQ(rt::read_with_status(f, {a}), rt::read_end_of_file);
}

// Plain decimals (the form of codes, identifiers and most data) of every length read as the
// C library converts them, bit for bit: near 2^53 in the digits, up to 22 digits and more after
// the point, leading zeros, signs, and with exponents too.
TEST(FreeFormRead, DecimalsAgreeWithStrtod) {
  std::mt19937_64 gen(2026);
  std::vector<std::string> tokens = {"0", "-0", "+0", "0.", ".5", "-.5", "1.", "9007199254740991",
                                     "9007199254740992", "9007199254740993", "900719925474099.3",
                                     "0.1000000000000000000001", "1.0000000000000000000000001",
                                     "123456789012345678901234567890", "0.0000000000000000000000001",
                                     "1656.00000000000", "86.0100000000000", "-2.00000000000000",
                                     "0.500000000000000", "1.000000000000000E+015", "2.5d-3"};
  std::uniform_int_distribution<int> len(1, 24), digit(0, 9), pct(0, 99);
  for (int k = 0; k < 20000; ++k) {
    std::string t;
    if (pct(gen) < 20) t += pct(gen) < 50 ? "-" : "+";
    const int n = len(gen);
    const int point = pct(gen) < 80 ? std::uniform_int_distribution<int>(0, n)(gen) : -1;
    for (int d = 0; d < n; ++d) {
      if (d == point) t += '.';
      t += static_cast<char>('0' + digit(gen));
    }
    if (point == n) t += '.';
    tokens.push_back(t);
  }
  std::string text;
  for (const std::string& t : tokens) text += t + "\n";
  rt::text_in f = open_text("decimals", text);
  for (const std::string& t : tokens) {
    double x = 7.0;
    ASSERT_EQ(rt::read_with_status(f, {x}), rt::read_ok) << t;
    std::string c = t;
    for (char& ch : c)
      if (ch == 'd' || ch == 'D') ch = 'e';
    const double want = std::strtod(c.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&x, &want, sizeof x), 0) << t << " " << x << " " << want;
  }
}

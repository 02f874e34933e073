// Free-form lines: column widths, the fixed-point / exponent choice at its boundaries,
// texts and line wrapping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/text_io.hpp"

namespace {

std::string one(rt::write_item it) {
  std::vector<std::string> l = rt::format_list({it});
  EXPECT_EQ(l.size(), 1u);
  return l.empty() ? std::string() : l[0];
}

TEST(FreeFormWrite, RealsAtTheFixedPointBoundaries) {
  EXPECT_EQ(one(0.1), "  0.100000000000000     ");
  // Just below 0.1: rounds to 0.100000000000000 at 15 digits, so it stays fixed-point.
  EXPECT_EQ(one(std::nextafter(0.1, 0.0)), "  0.100000000000000     ");
  EXPECT_EQ(one(0.0999999999999999), "  9.999999999999989E-002");
  EXPECT_EQ(one(0.05), "  5.000000000000000E-002");
  EXPECT_EQ(one(1e15), "  1.000000000000000E+015");
  EXPECT_EQ(one(999999999999999.0), "   999999999999999.     ");
  // Rounds to 1.00000000000000E+15 at 15 digits: exponent form, with its 16 digits.
  EXPECT_EQ(one(999999999999999.9), "  9.999999999999999E+014");
  EXPECT_EQ(one(123456789012345.0), "   123456789012345.     ");
}

TEST(FreeFormWrite, RealsZeroNegativeAndRounding) {
  EXPECT_EQ(one(0.0), "  0.000000000000000E+000");
  EXPECT_EQ(one(1.0), "   1.00000000000000     ");
  EXPECT_EQ(one(-1.5), "  -1.50000000000000     ");
  EXPECT_EQ(one(-0.1), " -0.100000000000000     ");
  EXPECT_EQ(one(2.0 / 3.0), "  0.666666666666667     ");
  EXPECT_EQ(one(-1e-5), " -1.000000000000000E-005");
  // 9.9999999999999995 rounds up to the next decade and loses a decimal.
  EXPECT_EQ(one(9.9999999999999995), "   10.0000000000000     ");
  EXPECT_EQ(one(0.99999999999999999), "   1.00000000000000     ");
}

TEST(FreeFormWrite, RealsWithThreeDigitExponents) {
  EXPECT_EQ(one(1e-300), "  1.000000000000000E-300");
  EXPECT_EQ(one(1.5e100), "  1.500000000000000E+100");
  EXPECT_EQ(one(-2.5e-123), " -2.500000000000000E-123");
  EXPECT_EQ(one(1.7976931348623157e308), "  1.797693134862316E+308");
}

TEST(FreeFormWrite, IntegersFillTwelveColumns) {
  EXPECT_EQ(one(std::int32_t{5}), "           5");
  EXPECT_EQ(one(std::int32_t{-2147483647 - 1}), " -2147483648");
}

TEST(FreeFormWrite, TextsTakeOneBlankAtLineStartOrAfterANumber) {
  std::vector<std::string> l = rt::format_list({"NUMBER OF EQUATIONS:", std::int32_t{42}});
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0], " NUMBER OF EQUATIONS:          42");
  l = rt::format_list({"BEWARE! ERROR", std::int32_t{59}, " IN LINE", std::int32_t{3}});
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0], " BEWARE! ERROR          59  IN LINE           3");
  l = rt::format_list({"CDF BETWEEN ", 0.5, " AND ", 0.25});
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0], " CDF BETWEEN   0.500000000000000       AND   0.250000000000000     ");
  l = rt::format_list({"A", "B"});   // a text after a text takes no blank
  EXPECT_EQ(l[0], " AB");
}

TEST(FreeFormWrite, EmptyWriteAndEmptyText) {
  EXPECT_EQ(rt::format_list({}), std::vector<std::string>{" "});
  EXPECT_EQ(rt::format_list({""}), std::vector<std::string>{" "});
}

TEST(FreeFormWrite, ThreeRealsOrSixIntegersToALine) {
  const double four[] = {1, 2, 3, 4};
  std::vector<std::string> l = rt::format_list({std::span<const double>(four)});
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0], "   1.00000000000000        2.00000000000000        3.00000000000000     ");
  EXPECT_EQ(l[1], "   4.00000000000000     ");

  const double seven[] = {1, 2, 3, 4, 5, 6, 7};
  l = rt::format_list({std::span<const double>(seven)});
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[1], "   4.00000000000000        5.00000000000000        6.00000000000000     ");
  EXPECT_EQ(l[2], "   7.00000000000000     ");

  const std::int32_t ints[] = {1, 2, 3, 4, 5, 6, 7};
  l = rt::format_list({std::span<const std::int32_t>(ints)});
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].size(), 72u);
  EXPECT_EQ(l[1], "           7");

  // Separate items wrap the same way as a list; a text that does not fit starts a line.
  l = rt::format_list({1.0, 2.0, 3.0, "END"});
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].size(), 76u);
  l = rt::format_list({1.0, 2.0, 3.0, "TOO LONG"});
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[1], " TOO LONG");
  l = rt::format_list({"ABCDEFGHI", 1.0, 2.0, 3.0});   // 10 + 72 columns: the third wraps
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[1], "   3.00000000000000     ");
}

TEST(FixedField, RealsOverflowToAsterisks) {
  auto F = [](double v, int w, int d) { return rt::fixed_line().F(v, w, d).str(); };
  EXPECT_EQ(F(1.23456, 15, 4), "         1.2346");
  EXPECT_EQ(F(9999999999.9999, 15, 4), "9999999999.9999");
  EXPECT_EQ(F(1e10, 15, 4), "***************");
  EXPECT_EQ(F(-999999999.9999, 15, 4), "-999999999.9999");
  EXPECT_EQ(F(-1e9, 15, 4), "***************");
  EXPECT_EQ(F(99999.99999, 11, 5), "99999.99999");
  EXPECT_EQ(F(99999.999996, 11, 5), "***********");   // rounds up to 100000.00000
  EXPECT_EQ(F(-9999.99999, 11, 5), "-9999.99999");
  EXPECT_EQ(F(-10000.0, 11, 5), "***********");
  EXPECT_EQ(F(0.25, 11, 5), "    0.25000");
}

TEST(FixedField, LeadingZeroAndNegativeZero) {
  auto F = [](double v, int w, int d) { return rt::fixed_line().F(v, w, d).str(); };
  EXPECT_EQ(F(0.5, 7, 5), "0.50000");
  EXPECT_EQ(F(0.5, 6, 5), ".50000");
  EXPECT_EQ(F(0.5, 5, 5), "*****");
  EXPECT_EQ(F(-0.5, 8, 5), "-0.50000");
  EXPECT_EQ(F(-0.5, 7, 5), "-.50000");
  EXPECT_EQ(F(-0.5, 6, 5), "******");
  EXPECT_EQ(F(-0.000001, 8, 5), "-0.00000");   // the sign of a negative value is kept
  EXPECT_EQ(F(-0.0, 8, 5), "-0.00000");
  EXPECT_EQ(F(0.0, 8, 5), " 0.00000");
  EXPECT_EQ(F(3.0, 3, 0), " 3.");
  EXPECT_EQ(F(0.4, 2, 0), "0.");
  EXPECT_EQ(F(0.4, 1, 0), "*");
}

TEST(FixedField, IntegersTextsAndBlanks) {
  EXPECT_EQ(rt::fixed_line().I(10, 1).str(), "*");
  EXPECT_EQ(rt::fixed_line().I(7, 1).str(), "7");
  EXPECT_EQ(rt::fixed_line().I(-5, 3).str(), " -5");
  EXPECT_EQ(rt::fixed_line().I(-50, 2).str(), "**");
  EXPECT_EQ(rt::fixed_line().I(1000, 9).X(2).A("TH INDIVIDUAL READ", 18).str(),
            "     1000  TH INDIVIDUAL READ");
  EXPECT_EQ(rt::fixed_line().A("ABC", 5).str(), "  ABC");
  EXPECT_EQ(rt::fixed_line().A("ABCDEF", 3).str(), "ABC");
  EXPECT_EQ(rt::fixed_line().A("ABC").A("DE").str(), "ABCDE");
  EXPECT_EQ(rt::fixed_line()
                .A("FATAL ERROR: MATRIX G(", 23)
                .I(3, 1)
                .A(") IS NOT POSITIVE DEFINITE.", 27)
                .str(),
            " FATAL ERROR: MATRIX G(3) IS NOT POSITIVE DEFINITE.");
  EXPECT_EQ(rt::fixed_line().F(1.5, 11, 5).X(2).F(-2.0, 11, 5).X(2).str(),
            "    1.50000     -2.00000  ");
}

}  // namespace

namespace {

// Reference for a free-form real, built with the C library's printf: the form is chosen on
// the value rounded to 15 significant digits.
std::string printf_real(double x) {
  char buf[64];
  std::string s;
  if (x != 0.0) {
    std::snprintf(buf, sizeof buf, "%.14e", x);
    int e = std::atoi(std::strchr(buf, 'e') + 1);
    if (e >= -1 && e <= 14) {
      std::snprintf(buf, sizeof buf, "%#.*f", 14 - e, x);
      s = buf;
      return std::string(19 - s.size(), ' ') + s + "     ";
    }
  }
  std::snprintf(buf, sizeof buf, "%.15E", x);
  char* ep = std::strchr(buf, 'E');
  int e = std::atoi(ep + 1);
  std::snprintf(ep, static_cast<std::size_t>(buf + sizeof buf - ep), "E%c%03d", e < 0 ? '-' : '+', e < 0 ? -e : e);
  s = buf;
  return std::string(24 - s.size(), ' ') + s;
}

TEST(FreeFormWrite, RealsAgreeWithPrintfOverManyMagnitudes) {
  std::mt19937_64 gen(12345);
  std::uniform_real_distribution<double> mant(-10.0, 10.0);
  std::uniform_int_distribution<int> expo(-30, 30);
  for (int k = 0; k < 200000; ++k) {
    double x = mant(gen) * std::pow(10.0, expo(gen));
    if (k % 4 == 0) x = std::nextafter(std::pow(10.0, expo(gen) / 2), k % 8 == 0 ? 0.0 : 1e300);
    ASSERT_EQ(rt::format_list({x})[0], printf_real(x)) << std::hexfloat << x;
  }
}

// Whole numbers (codes, identifiers, record numbers) of every length from 1 to 16 digits,
// both signs, and the neighbours of the powers of ten and of 10^15.
TEST(FreeFormWrite, WholeNumbersAgreeWithPrintf) {
  std::mt19937_64 gen(777);
  std::vector<double> xs = {1.0, -1.0, 9.0, 10.0, 99.0, 100.0, 999999999999999.0,
                            -999999999999999.0, 1.0E15, -1.0E15, 1.0E15 + 2.0, 4503599627370496.0,
                            0.5, -0.5, 0.0, -0.0, 1.5, 2.0000001, 1.0E16, 123456789012345.0};
  for (int d = 1; d <= 16; ++d) {
    const double lo = std::pow(10.0, d - 1), hi = std::pow(10.0, d);
    xs.push_back(lo);
    xs.push_back(hi - 1.0);
    xs.push_back(std::nextafter(lo, 0.0));
    std::uniform_real_distribution<double> u(lo, hi);
    for (int k = 0; k < 2000; ++k) {
      const double x = std::floor(u(gen));
      xs.push_back(x);
      xs.push_back(-x);
      xs.push_back(x + 0.25);
    }
  }
  for (double x : xs) ASSERT_EQ(rt::format_list({x})[0], printf_real(x)) << std::hexfloat << x;
}

}  // namespace

// Text files on unit numbers, free-form reading and writing, fixed-field lines.
//
// Every output line, console and files alike, ends in CR LF. Input lines end at LF; a CR
// before the LF is ignored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// ---------------------------------------------------------------- files on units

// An input text file. The unit number and the full path are kept for the run-time error lines.
struct text_in {
  int unit = 0;
  std::string path;          // full path, as the error lines print it
  std::string text;          // the whole file
  std::size_t pos = 0;       // start of the next unread line
  std::int64_t line_no = 0;  // lines consumed so far
  bool open = false;
};

// An output text file, or the console (unit 6, the standard output).
struct text_out {
  int unit = 0;
  std::string path;
  std::FILE* fp = nullptr;
  bool open = false;
};

// Opens an existing file for reading. A missing or unreadable file ends the run with the
// run-time error "file not found, unit %d, file %s" (status 29).
void open_in(text_in& f, int unit, std::string_view name);
// Creates a file for writing, or empties it if it exists. Failure ends the run with a
// run-time error naming the unit and the file.
void open_out(text_out& f, int unit, std::string_view name);
void rewind(text_in& f);
void close(text_in& f);
void close(text_out& f);

// The standard output, unit 6.
text_out& console();

// Writes one line and its CR LF.
void put_line(text_out& f, std::string_view line);

// ---------------------------------------------------------------- free-form reading

// One item of a read statement: a 32-bit integer, a 64-bit real, a logical, or a list of
// integers or reals filled in order.
struct read_item {
  enum class kind { i32, f64, logical, i32_list, f64_list } k;
  void* p;
  std::size_t n = 1;

  read_item(std::int32_t& v) : k(kind::i32), p(&v) {}
  read_item(double& v) : k(kind::f64), p(&v) {}
  read_item(bool& v) : k(kind::logical), p(&v) {}
  read_item(std::span<std::int32_t> v) : k(kind::i32_list), p(v.data()), n(v.size()) {}
  read_item(std::span<double> v) : k(kind::f64_list), p(v.data()), n(v.size()) {}
};

// Status of a read statement made with a status request.
constexpr int read_ok = 0;
constexpr int read_end_of_file = -1;
constexpr int read_bad_value = 59;   // also the status of the run-time error line

// One free-form read statement with a status request: starts on a new line, takes as many
// lines as its items need (blank lines skipped), ignores the rest of its last line. Returns
// read_ok, read_end_of_file or read_bad_value; items read before a failure keep their values.
// A read of no items skips one line (at the end of the file it returns read_end_of_file).
// Values are separated by blanks, tabs or one comma; nothing between two commas (or a comma
// first) is a null value that leaves its item unchanged; r*c stands for r copies of c and r*
// for r null values; a slash ends the statement, leaving the remaining items unchanged.
// Integers: [+-]digits within 32 bits (2.5 or 1e3 is a bad value). Reals: 1, 1., .5,
// -2.5E-3, 2.5D-3, 1.5-3 (E, e, D or d), correctly rounded; an overflow is a bad value.
// Logicals: any word whose first letter, after an optional point, is T or F, in any case
// (T, F, .TRUE., .false., true, .t ...). After a failure the next statement starts on the
// line after the one that failed.
int read_with_status(text_in& f, std::initializer_list<read_item> items);
// The same read without a status request: end of file or a value that cannot be converted
// ends the run with the run-time error line, status 24 "end-of-file during read, unit %d,
// file %s" or status 59 "bad value during read, unit %d, file %s, line %d, value '%s'".
void read(text_in& f, std::initializer_list<read_item> items);

// ---------------------------------------------------------------- free-form writing

// One item of a free-form write: an integer, a real, a text, or a list of integers or reals.
struct write_item {
  enum class kind { i32, f64, text, i32_list, f64_list } k;
  std::int32_t i = 0;
  double x = 0.0;
  std::string_view s;
  const std::int32_t* ip = nullptr;
  const double* xp = nullptr;
  std::size_t n = 1;

  write_item(std::int32_t v) : k(kind::i32), i(v) {}
  write_item(double v) : k(kind::f64), x(v) {}
  write_item(const char* v) : k(kind::text), s(v) {}
  write_item(std::string_view v) : k(kind::text), s(v) {}
  write_item(const std::string& v) : k(kind::text), s(v) {}
  write_item(std::span<const std::int32_t> v) : k(kind::i32_list), ip(v.data()), n(v.size()) {}
  write_item(std::span<const double> v) : k(kind::f64_list), xp(v.data()), n(v.size()) {}
};

// The lines (without CR LF) of one free-form write statement: integers in 12 columns, reals
// in 24 columns with 15 significant digits, texts preceded by one blank at the start of a
// line or after a number, at most 80 columns, no value split across lines. A write of no
// items is one line holding one blank. A real whose value rounded to 15 significant digits
// lies in [0.1, 10^15) is written fixed-point in 19 columns plus 5 blanks; any other, zero
// included, as d.dddddddddddddddE+ddd (16 digits) in 24 columns. So 0.09999999999999999
// gives "0.100000000000000" and 999999999999999.9 gives "9.999999999999999E+014".
std::vector<std::string> format_list(std::initializer_list<write_item> items);
// Writes those lines to f, each with CR LF.
void write(text_out& f, std::initializer_list<write_item> items);

// ---------------------------------------------------------------- fixed-field lines

// A line built from fixed-width fields. A value too wide for its field fills it with
// asterisks; a text wider than its field keeps its leftmost characters, a narrower one is
// right-aligned. Fw.d: a negative value keeps its minus sign even when it rounds to zero
// (-0.000001 and -0.0 in F8.5 give "-0.00000"); the zero before the point is dropped only
// when the field is one column short for it (0.5: F7.5 "0.50000", F6.5 ".50000"; -0.5:
// F7.5 "-.50000", F6.5 "******").
class fixed_line {
 public:
  fixed_line& A(std::string_view text);          // A: the text in full
  fixed_line& A(std::string_view text, int w);   // Aw
  fixed_line& I(std::int64_t v, int w);          // Iw
  fixed_line& F(double v, int w, int d);         // Fw.d
  fixed_line& X(int n);                          // nX: n blanks
  const std::string& str() const { return s_; }

 private:
  std::string s_;
};

// Writes the line with CR LF.
void put(text_out& f, const fixed_line& line);

}  // namespace rt

// Text files on unit numbers, free-form reading and writing, fixed-field lines.
#include "runtime/text_io.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

#include <sys/stat.h>

#include "runtime/array.hpp"
#include "runtime/process.hpp"

namespace rt {

// ================================================================ files on units

namespace {

// Every output file open at this moment, so that a stop can flush and close them all. The
// registry holds the streams, not the text_out objects, so that a text_out that goes out of
// scope unclosed leaves no dangling pointer behind.
std::vector<std::FILE*>& open_outputs() {
  static std::vector<std::FILE*> v;
  return v;
}

std::string full_path(std::string_view name) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(name), ec);
  if (ec) return std::string(name);
  return p.lexically_normal().string();
}

std::string unit_and_file(int unit, const std::string& path) {
  return "unit " + std::to_string(unit) + ", file " + path;
}

}  // namespace

// Flushes and closes every open output file and flushes the console (called by the stops).
void close_all_files() {
  for (std::FILE* fp : open_outputs()) std::fclose(fp);
  open_outputs().clear();
  std::fflush(stdout);
}

text_out& console() {
  static text_out c{6, "", stdout, true};
  return c;
}

void open_in(text_in& f, int unit, std::string_view name) {
  std::string path = full_path(name);
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  std::string text;
  bool ok = fp != nullptr;
  if (ok) {
    // Read in one piece when the size is known (a regular file), so that a file of many
    // megabytes is neither copied nor grown step by step; then whatever is left, if any.
    struct stat st;
    if (::fstat(::fileno(fp), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      const std::size_t size = static_cast<std::size_t>(st.st_size);
      text.reserve(size);
      advise_large_pages(text.data(), size);   // before the first write of its pages
      text.resize(size);
      text.resize(std::fread(text.data(), 1, text.size(), fp));
    }
    char buf[1 << 16];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, fp)) > 0) text.append(buf, got);
    ok = !std::ferror(fp);   // a folder opens but cannot be read
    std::fclose(fp);
  }
  if (!ok) runtime_error(rte_file_not_found, "file not found, " + unit_and_file(unit, path));
  f.unit = unit;
  f.path = std::move(path);
  f.text = std::move(text);
  f.pos = 0;
  f.line_no = 0;
  f.open = true;
}

void open_out(text_out& f, int unit, std::string_view name) {
  std::string path = full_path(name);
  std::FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) runtime_error(rte_open_failure, "cannot create file, " + unit_and_file(unit, path));
  open_outputs().push_back(fp);
  f.unit = unit;
  f.path = std::move(path);
  f.fp = fp;
  f.open = true;
}

void rewind(text_in& f) {
  f.pos = 0;
  f.line_no = 0;
}

void close(text_in& f) {
  f.open = false;
  f.pos = 0;
  f.line_no = 0;
  std::string().swap(f.text);
}

void close(text_out& f) {
  if (f.fp == stdout) {           // the console stays open for the whole run
    std::fflush(stdout);
    return;
  }
  if (f.fp) {
    auto& reg = open_outputs();
    for (std::size_t i = 0; i < reg.size(); ++i)
      if (reg[i] == f.fp) {
        reg.erase(reg.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    std::fclose(f.fp);
  }
  f.fp = nullptr;
  f.open = false;
}

void put_line(text_out& f, std::string_view line) {
  if (!f.fp) internal_error("write to unit " + std::to_string(f.unit) + ", which is not open");
  std::fwrite(line.data(), 1, line.size(), f.fp);
  std::fwrite("\r\n", 1, 2, f.fp);
}

// ================================================================ free-form reading

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "[+-]digits" within 32 bits.
bool parse_i32(std::string_view s, std::int32_t& v) {
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (i == s.size()) return false;
  std::int64_t a = 0;
  for (; i < s.size(); ++i) {
    if (!is_digit(s[i])) return false;
    a = a * 10 + (s[i] - '0');
    if (a > 2147483648LL) return false;
  }
  if (neg) a = -a;
  if (a > std::numeric_limits<std::int32_t>::max()) return false;
  v = static_cast<std::int32_t>(a);
  return true;
}

// "[+-]mantissa[exponent]": the mantissa holds at least one digit and at most one point
// (1, 1., .5, 2.5); the exponent is E, e, D or d with an optional sign and digits, or a sign
// and digits alone (1.5-3). Converted with correct rounding; an overflow is a bad value.
// Exact powers of ten as doubles, 10^0 .. 10^22 (all representable).
constexpr double exact_power_of_ten[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A plain decimal "[sign]digits[.digits]" whose digits, read as an integer M, stay below 2^53
// and that has at most 22 digits after the point: M and 10^k are exact doubles, so M / 10^k,
// one correctly rounded division, is the correctly rounded value of the decimal, which the
// general conversion gives as well. Codes, identifiers and most data values are of this form.
// False (v untouched) for anything else.
bool parse_plain_decimal(std::string_view s, double& v) {
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  std::uint64_t m = 0;
  std::size_t digits = 0, fraction = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      if (m >= (std::uint64_t{1} << 53) / 10) return false;   // might pass 2^53
      m = m * 10 + static_cast<std::uint64_t>(c - '0');
      ++digits;
      if (point) ++fraction;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0 || fraction > 22) return false;
  const double x = static_cast<double>(m) / exact_power_of_ten[fraction];
  v = neg ? -x : x;
  return true;
}

bool parse_f64(std::string_view s, double& v) {
  if (parse_plain_decimal(s, v)) return true;
  char buf[128];
  std::size_t n = 0, i = 0;
  if (s.size() >= sizeof buf - 2) return false;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  std::size_t mant_digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (is_digit(c)) {
      buf[n++] = c;
      ++mant_digits;
    } else if (c == '.' && !point) {
      buf[n++] = c;
      point = true;
    } else {
      break;
    }
  }
  if (mant_digits == 0) return false;
  if (i < s.size()) {
    char c = s[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') ++i;
    else if (c != '+' && c != '-') return false;
    buf[n++] = 'e';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) buf[n++] = s[i++];
    std::size_t exp_digits = 0;
    for (; i < s.size() && is_digit(s[i]); ++i, ++exp_digits) buf[n++] = s[i];
    if (exp_digits == 0 || i != s.size()) return false;
  }
  double x = 0.0;
  auto r = std::from_chars(buf, buf + n, x, std::chars_format::general);
  if (r.ptr != buf + n) return false;
  if (r.ec == std::errc::result_out_of_range) {
    buf[n] = '\0';
    x = std::strtod(buf, nullptr);   // underflow gives zero or a tiny value; overflow fails
    if (std::isinf(x)) return false;
  } else if (r.ec != std::errc()) {
    return false;
  }
  v = neg ? -x : x;
  return true;
}

// T, F, .TRUE., .FALSE. in any case: any word whose first letter, after an optional point,
// is T or F.
bool parse_logical(std::string_view s, bool& v) {
  std::size_t i = (!s.empty() && s[0] == '.') ? 1 : 0;
  if (i >= s.size()) return false;
  char c = s[i];
  if (c == 'T' || c == 't') v = true;
  else if (c == 'F' || c == 'f') v = false;
  else return false;
  return true;
}

// The state of one read statement as it walks through the lines of the file.
struct scanner {
  const std::string& t;
  std::size_t p;              // next character
  std::size_t line_end;       // end of the current line ('\n' or the end of the text)
  std::int64_t line_no;       // number of the current line, from 1
  bool after_value = false;   // a comma now is a plain separator, not a null value
  std::int64_t repeat = 0;    // values still to hand out from a r*c form
  bool repeat_null = false;
  std::string_view repeat_value;

  scanner(const std::string& text, std::size_t pos, std::int64_t line)
      : t(text), p(pos), line_no(line + 1) {
    find_line_end();
  }
  void find_line_end() {
    const void* q = std::memchr(t.data() + p, '\n', t.size() - p);
    line_end = q ? static_cast<std::size_t>(static_cast<const char*>(q) - t.data()) : t.size();
  }
  // Start of the line after the current one.
  std::size_t next_line() const { return line_end < t.size() ? line_end + 1 : t.size(); }
};

enum class got { value, null, slash, end_of_file, bad };

// The next value of the statement: a token, a null value (nothing between two commas, or a
// comma first), a slash (ends the statement), or the end of the file. Lines are crossed as
// the values need; an end of line separates like a blank.
got next_value(scanner& s, std::string_view& tok) {
  if (s.repeat > 0) {
    --s.repeat;
    tok = s.repeat_value;
    return s.repeat_null ? got::null : got::value;
  }
  for (;;) {
    while (s.p < s.line_end && is_blank(s.t[s.p])) ++s.p;
    if (s.p == s.line_end) {
      if (s.line_end >= s.t.size()) return got::end_of_file;
      s.p = s.line_end + 1;
      ++s.line_no;
      s.find_line_end();
      if (s.p >= s.t.size()) return got::end_of_file;
      continue;
    }
    char c = s.t[s.p];
    if (c == ',') {
      ++s.p;
      if (s.after_value) {
        s.after_value = false;
        continue;
      }
      return got::null;
    }
    if (c == '/') return got::slash;
    std::size_t b = s.p;
    while (s.p < s.line_end && !ends_value(s.t[s.p])) ++s.p;
    tok = std::string_view(s.t.data() + b, s.p - b);
    s.after_value = true;
    // r*c: c repeated r times; r*: r null values.
    std::size_t star = tok.find('*');
    if (star != std::string_view::npos) {
      std::int32_t r = 0;
      if (!parse_i32(tok.substr(0, star), r) || r < 1 || tok[0] == '+' || tok[0] == '-')
        return got::bad;
      s.repeat_value = tok.substr(star + 1);
      s.repeat_null = s.repeat_value.empty();
      s.repeat = r - 1;
      tok = s.repeat_value;
      return s.repeat_null ? got::null : got::value;
    }
    return got::value;
  }
}

struct read_failure {
  std::int64_t line_no = 0;
  std::string value;
};

// Converts one token into element k of the item.
bool convert(const read_item& it, std::size_t k, std::string_view tok) {
  switch (it.k) {
    case read_item::kind::i32:
    case read_item::kind::i32_list:
      return parse_i32(tok, static_cast<std::int32_t*>(it.p)[k]);
    case read_item::kind::f64:
    case read_item::kind::f64_list:
      return parse_f64(tok, static_cast<double*>(it.p)[k]);
    case read_item::kind::logical:
      return parse_logical(tok, *static_cast<bool*>(it.p));
  }
  return false;
}

int read_statement(text_in& f, std::initializer_list<read_item> items, read_failure& fail) {
  if (!f.open) internal_error("read from unit " + std::to_string(f.unit) + ", which is not open");
  if (f.pos >= f.text.size()) {
    fail.line_no = f.line_no + 1;
    return read_end_of_file;
  }
  scanner s(f.text, f.pos, f.line_no);
  int status = read_ok;
  bool done = false;
  for (const read_item& it : items) {
    for (std::size_t k = 0; k < it.n && !done; ++k) {
      std::string_view tok;
      got g = next_value(s, tok);
      if (g == got::null) continue;   // a null value leaves the item as it was
      if (g == got::slash) {
        done = true;
      } else if (g == got::end_of_file) {
        fail.line_no = s.line_no;
        status = read_end_of_file;
        done = true;
      } else if (g == got::bad || !convert(it, k, tok)) {
        fail.line_no = s.line_no;
        fail.value = std::string(tok.substr(0, 40));
        status = read_bad_value;
        done = true;
      }
    }
    if (done) break;
  }
  // The statement ends with its current line: what is left of it is ignored.
  f.pos = s.next_line();
  f.line_no = s.line_no;
  return status;
}

}  // namespace

int read_with_status(text_in& f, std::initializer_list<read_item> items) {
  read_failure fail;
  return read_statement(f, items, fail);
}

void read(text_in& f, std::initializer_list<read_item> items) {
  read_failure fail;
  int status = read_statement(f, items, fail);
  if (status == read_end_of_file)
    runtime_error(rte_end_of_file, "end-of-file during read, " + unit_and_file(f.unit, f.path));
  if (status == read_bad_value)
    runtime_error(rte_bad_value, "bad value during read, " + unit_and_file(f.unit, f.path) +
                                     ", line " + std::to_string(fail.line_no) + ", value '" +
                                     fail.value + "'");
}

// ================================================================ free-form writing

namespace {

constexpr std::size_t line_width = 80;

void append_right(std::string& out, std::string_view s, std::size_t w) {
  if (s.size() < w) out.append(w - s.size(), ' ');
  out += s;
}

// A real in 24 columns. The form follows the value rounded to 15 significant digits: from
// 0.1 up to (not including) 10^15 it is fixed-point with 15 significant digits, right-aligned
// in 19 columns and followed by 5 blanks; otherwise, and for zero, it is one digit, the point,
// 15 digits and a signed three-digit exponent, right-aligned in 24 columns. So
// 0.09999999999999999 (0.100000000000000 at 15 digits) is fixed-point and 999999999999999.9
// (1.00000000000000E+15) takes the exponent form.
void append_real(std::string& out, double x) {
  char buf[64];
  if (!std::isfinite(x)) {
    append_right(out, std::isnan(x) ? "NaN" : (x < 0 ? "-Infinity" : "Infinity"), 24);
    return;
  }
  if ((x >= 1.0 || x <= -1.0) && x > -1.0E15 && x < 1.0E15 && x == std::trunc(x)) {
    // A whole number (a code, an identifier, a count) of at most 15 digits: all its digits
    // are significant and none is rounded away, so the fixed-point form is its digits, the
    // point and zeros up to 15 digits, written here without the general conversion.
    auto r = std::to_chars(buf, buf + 24, static_cast<std::int64_t>(x));  // 16 characters at most
    const std::size_t length = static_cast<std::size_t>(r.ptr - buf);
    const std::size_t n_digits = length - (x < 0 ? 1 : 0);
    if (length <= 16) {
      buf[length] = '.';
      std::memset(buf + length + 1, '0', 15 - n_digits);
      append_right(out, std::string_view(buf, length + 1 + 15 - n_digits), 19);
      out.append(5, ' ');
      return;
    }
  }
  if (x != 0.0) {
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
    const char* ep = std::find(buf, r.ptr, 'e');
    int e = 0;
    std::from_chars(ep + (ep[1] == '+' ? 2 : 1), r.ptr, e);
    if (e >= -1 && e <= 14) {
      r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 14 - e);
      if (e == 14) *r.ptr++ = '.';   // no decimals left: the point still shows
      append_right(out, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), 19);
      out.append(5, ' ');
      return;
    }
  }
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 15);
  char* ep = std::find(buf, r.ptr, 'e');
  int e = 0;
  std::from_chars(ep + (ep[1] == '+' ? 2 : 1), r.ptr, e);
  if (e < 0) e = -e;
  ep[0] = 'E';
  ep[1] = ep[1] == '-' ? '-' : '+';
  ep[2] = static_cast<char>('0' + e / 100);
  ep[3] = static_cast<char>('0' + e / 10 % 10);
  ep[4] = static_cast<char>('0' + e % 10);
  append_right(out, std::string_view(buf, static_cast<std::size_t>(ep + 5 - buf)), 24);
}

void append_int(std::string& out, std::int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%12d", v);
  out += buf;
}

// Builds the lines of one write statement.
struct list_writer {
  std::vector<std::string> lines{std::string()};
  bool after_number = false;

  std::string& cur() { return lines.back(); }
  // Starts a new line when a field of width w does not fit on the current one.
  void room_for(std::size_t w) {
    if (!cur().empty() && cur().size() + w > line_width) {
      lines.emplace_back();
      after_number = false;
    }
  }
  void integer(std::int32_t v) {
    room_for(12);
    append_int(cur(), v);
    after_number = true;
  }
  void real(double x) {
    room_for(24);
    append_real(cur(), x);
    after_number = true;
  }
  void text(std::string_view s) {
    bool lead = cur().empty() || after_number;
    if (!cur().empty() && cur().size() + s.size() + (lead ? 1 : 0) > line_width) {
      lines.emplace_back();
      lead = true;
    }
    if (lead) cur() += ' ';
    cur() += s;
    after_number = false;
  }
};

}  // namespace

std::vector<std::string> format_list(std::initializer_list<write_item> items) {
  list_writer w;
  for (const write_item& it : items) {
    switch (it.k) {
      case write_item::kind::i32: w.integer(it.i); break;
      case write_item::kind::f64: w.real(it.x); break;
      case write_item::kind::text: w.text(it.s); break;
      case write_item::kind::i32_list:
        for (std::size_t k = 0; k < it.n; ++k) w.integer(it.ip[k]);
        break;
      case write_item::kind::f64_list:
        for (std::size_t k = 0; k < it.n; ++k) w.real(it.xp[k]);
        break;
    }
  }
  if (w.lines.size() == 1 && w.lines[0].empty()) w.lines[0] = " ";   // nothing written
  return std::move(w.lines);
}

void write(text_out& f, std::initializer_list<write_item> items) {
  for (const std::string& l : format_list(items)) put_line(f, l);
}

// ================================================================ fixed-field lines

fixed_line& fixed_line::A(std::string_view text) {
  s_ += text;
  return *this;
}

fixed_line& fixed_line::A(std::string_view text, int w) {
  if (w <= 0) return *this;
  std::size_t uw = static_cast<std::size_t>(w);
  if (text.size() >= uw) s_ += text.substr(0, uw);   // keeps the leftmost characters
  else append_right(s_, text, uw);
  return *this;
}

fixed_line& fixed_line::I(std::int64_t v, int w) {
  if (w <= 0) return *this;
  std::string d = std::to_string(v);
  if (d.size() > static_cast<std::size_t>(w)) s_.append(static_cast<std::size_t>(w), '*');
  else append_right(s_, d, static_cast<std::size_t>(w));
  return *this;
}

// Fw.d: the value rounded to d decimals, right-aligned in w columns. A negative value keeps
// its minus sign even when it rounds to zero (-0.000001 in F8.5 is "-0.00000"; so is -0.0).
// The zero before the point is written when the field has room for it and dropped when the
// field is exactly one column too narrow for it (0.5 in F7.5 is "0.50000", in F6.5 ".50000").
// A value that still does not fit fills the field with asterisks.
fixed_line& fixed_line::F(double v, int w, int d) {
  if (w <= 0) return *this;
  std::size_t uw = static_cast<std::size_t>(w);
  if (d < 0) d = 0;
  std::string t;
  if (std::isnan(v)) {
    t = "NaN";
  } else if (std::isinf(v)) {
    t = v < 0 ? "-Infinity" : "Infinity";
    if (t.size() > uw) t = v < 0 ? "-Inf" : "Inf";
  } else {
    std::string digits(static_cast<std::size_t>(d) + 320, '\0');
    int n = std::snprintf(digits.data(), digits.size(), "%#.*f", d, std::fabs(v));
    digits.resize(static_cast<std::size_t>(n));
    if (std::signbit(v)) t = "-";
    if (t.size() + digits.size() > uw && d > 0 && digits[0] == '0') digits.erase(0, 1);
    t += digits;
  }
  if (t.size() > uw) s_.append(uw, '*');
  else append_right(s_, t, uw);
  return *this;
}

fixed_line& fixed_line::X(int n) {
  if (n > 0) s_.append(static_cast<std::size_t>(n), ' ');
  return *this;
}

void put(text_out& f, const fixed_line& line) { put_line(f, line.str()); }

}  // namespace rt

// PLACEHOLDER: minimal version so that the tree builds; replaced by the full text layer.
#include "runtime/text_io.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/process.hpp"

namespace rt {

namespace {
std::vector<text_out*>& open_outputs() {
  static std::vector<text_out*> v;
  return v;
}
}  // namespace

void close_all_files() {
  for (text_out* f : open_outputs())
    if (f->fp) std::fflush(f->fp);
  std::fflush(stdout);
}

text_out& console() {
  static text_out c{6, "", stdout, true};
  return c;
}

void open_in(text_in& f, int unit, std::string_view name) {
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(name));
  std::ifstream in(p, std::ios::binary);
  if (!in) runtime_error(rte_file_not_found, "file not found, unit " + std::to_string(unit) + ", file " + p.string());
  std::ostringstream s;
  s << in.rdbuf();
  f.unit = unit; f.path = p.string(); f.text = s.str(); f.pos = 0; f.line_no = 0; f.open = true;
}
void open_out(text_out& f, int unit, std::string_view name) {
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(name));
  f.fp = std::fopen(p.c_str(), "wb");
  f.unit = unit; f.path = p.string(); f.open = f.fp != nullptr;
  open_outputs().push_back(&f);
}
void rewind(text_in& f) { f.pos = 0; f.line_no = 0; }
void close(text_in& f) { f.open = false; f.text.clear(); }
void close(text_out& f) { if (f.fp && f.fp != stdout) std::fclose(f.fp); f.fp = nullptr; f.open = false; }
void put_line(text_out& f, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), f.fp);
  std::fwrite("\r\n", 1, 2, f.fp);
}
int read_with_status(text_in&, std::initializer_list<read_item>) { return read_end_of_file; }
void read(text_in& f, std::initializer_list<read_item> items) {
  if (read_with_status(f, items) != 0) runtime_error(rte_end_of_file, "end-of-file during read");
}
std::vector<std::string> format_list(std::initializer_list<write_item> items) {
  std::string s;
  for (const write_item& it : items) if (it.k == write_item::kind::text) { s += ' '; s += it.s; }
  return {s.empty() ? std::string(" ") : s};
}
void write(text_out& f, std::initializer_list<write_item> items) {
  for (const std::string& l : format_list(items)) put_line(f, l);
}
fixed_line& fixed_line::A(std::string_view t) { s_ += t; return *this; }
fixed_line& fixed_line::A(std::string_view t, int) { s_ += t; return *this; }
fixed_line& fixed_line::I(std::int64_t v, int) { s_ += std::to_string(v); return *this; }
fixed_line& fixed_line::F(double v, int, int) { s_ += std::to_string(v); return *this; }
fixed_line& fixed_line::X(int n) { s_.append(n, ' '); return *this; }
void put(text_out& f, const fixed_line& l) { put_line(f, l.str()); }

}  // namespace rt

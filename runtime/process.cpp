#include "runtime/process.hpp"

#include <xmmintrin.h>

#include <cstdio>
#include <cstdlib>

#include "runtime/array.hpp"
#include "runtime/text_io.hpp"

namespace rt {

void close_all_files();   // text_io.cpp

namespace {
std::string& name_slot() {
  static std::string name = "zumek";
  return name;
}
}  // namespace

void set_program_name(std::string_view name) { name_slot() = std::string(name); }
const std::string& program_name() { return name_slot(); }

void fp_setup() {
  // Bit 15: flush-to-zero; bit 6: denormals-are-zero. Rounding to nearest, all traps masked.
  _mm_setcsr(_mm_getcsr() | 0x8040u);
}

void stop(std::string_view text, int status) {
  close_all_files();
  if (!text.empty()) {
    std::string line(text);
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  std::fflush(stderr);
  std::exit(status);
}

void runtime_error(int number, std::string_view message) {
  close_all_files();
  std::string line = program_name() + ": severe (" + std::to_string(number) + "): " +
                     std::string(message) + "\r\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  std::exit(number);
}

void internal_error(std::string_view message) {
  close_all_files();
  std::string line = program_name() + ": internal error: " + std::string(message) + "\r\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  std::exit(exit_error);
}

void index_fault(const char* what, std::int64_t index, std::int64_t size) {
  internal_error(std::string(what) + " index " + std::to_string(index) + " outside 1.." +
                 std::to_string(size));
}

void out_of_memory() { runtime_error(rte_out_of_memory, "insufficient virtual memory"); }

}  // namespace rt

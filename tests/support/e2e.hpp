// Helpers for tests that run a program binary in a scratch folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

struct run_result {
  std::string out;   // standard output
  std::string err;   // standard error
  int status = -1;   // exit status, or -1 when the process did not exit normally
};

// A fresh, empty folder under the system's temporary folder, named after the test. It is
// removed when the test that made it ends, unless the test failed.
std::filesystem::path scratch_dir(std::string_view name);

// Runs the binary with the folder as working directory and no arguments or input.
run_result run_in(const std::filesystem::path& dir, const std::string& binary);

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, std::string_view text);

// "a\nb\n" -> "a\r\nb\r\n": the programs end every line in CR LF.
std::string crlf(std::string_view lf_text);

// Folder of the source tree (for the example inputs).
std::filesystem::path source_dir();

}  // namespace testing_support

#include "tests/support/e2e.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

// Scratch folders made since the last test ended.
std::vector<fs::path>& made_folders() {
  static std::vector<fs::path> folders;
  return folders;
}

// Removes the scratch folders of a test that passed when it ends (and of code run outside a
// test when the whole program passed), so that test runs do not fill the temporary folder. A
// failed test keeps its folder, with the program's files in it, for a look.
class scratch_cleanup : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo& info) override { settle(!info.result()->Failed()); }
  void OnTestProgramEnd(const ::testing::UnitTest& unit) override { settle(unit.Passed()); }

  static void settle(bool remove) {
    if (remove) {
      for (const fs::path& p : made_folders()) {
        std::error_code ignored;
        fs::remove_all(p, ignored);
      }
    }
    made_folders().clear();
  }
};

// Folders are made within the test that uses them: one made for a whole suite would go after
// the suite's first test.
[[maybe_unused]] const bool cleanup_listening = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new scratch_cleanup);
  return true;
}();

}  // namespace

fs::path scratch_dir(std::string_view name) {
  fs::path p = fs::temp_directory_path() /
               ("zumek_test_" + std::string(name) + "_" + std::to_string(::getpid()));
  fs::remove_all(p);
  fs::create_directories(p);
  made_folders().push_back(p);
  return p;
}

run_result run_in(const fs::path& dir, const std::string& binary) {
  run_result r;
  fs::path out_file = dir / ".stdout";
  fs::path err_file = dir / ".stderr";
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.out = read_file(out_file);
  r.err = read_file(err_file);
  fs::remove(out_file);
  fs::remove(err_file);
  return r;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, std::string_view text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

std::string crlf(std::string_view lf_text) {
  std::string s;
  s.reserve(lf_text.size() + lf_text.size() / 16);
  for (char c : lf_text) {
    if (c == '\n') s += '\r';
    s += c;
  }
  return s;
}

fs::path source_dir() { return fs::path(ZUMEK_SOURCE_DIR); }

}  // namespace testing_support

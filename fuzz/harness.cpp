#include "fuzz/harness.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "runtime/array.hpp"
#include "runtime/process.hpp"

namespace fuzz {

namespace {

void end_hook(rt::end_kind kind, int status) {
  if (kind == rt::end_kind::internal_error) std::abort();   // a bug, never an answer to input
  throw run_ended{status};
}

}  // namespace

void setup(std::int64_t memory_mb) {
  static bool done = false;
  if (done) return;
  done = true;
  rt::set_stop_hook(end_hook);
  rt::set_memory_limit(memory_mb * 1024 * 1024);
  std::string tmpl = (std::filesystem::temp_directory_path() / "zumek-fuzz-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr || chdir(tmpl.c_str()) != 0) {
    std::perror("fuzz setup");
    std::abort();
  }
  std::fflush(stdout);
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
}

void write_file(const char* name, std::string_view text) {
  std::FILE* fp = std::fopen(name, "wb");
  if (fp == nullptr) std::abort();
  std::fwrite(text.data(), 1, text.size(), fp);
  std::fclose(fp);
}

void split(const std::uint8_t* data, std::size_t size, std::string* head, std::string* tail) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  std::size_t at = std::string_view::npos;
  if (all.substr(0, 3) == "@@\n") at = 0;
  else {
    const std::size_t p = all.find("\n@@\n");
    if (p != std::string_view::npos) at = p + 1;
  }
  if (at == std::string_view::npos) {
    head->clear();
    tail->assign(all);
    return;
  }
  head->assign(all.substr(0, at));
  tail->assign(all.substr(at + 3));
}

}  // namespace fuzz

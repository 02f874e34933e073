// run_timed: runs a program with its standard output read through a pipe and writes every line
// it prints prefixed with the seconds elapsed since the start (so the phases of a run can be
// timed from the console lines as they appear); at the end one line "#END status peak_kb seconds"
// with the exit status and the child's peak resident memory (kB). With -c, the console bytes
// themselves (CR LF included) also go unchanged to that file, for byte comparisons.
//   run_timed [-c <console file>] <log file> <program> [arguments...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::FILE* raw = nullptr;
  if (argc >= 3 && std::strcmp(argv[1], "-c") == 0) {
    raw = std::fopen(argv[2], "wb");
    if (raw == nullptr) { std::perror(argv[2]); return 2; }
    argv += 2;
    argc -= 2;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: run_timed [-c <console file>] <log file> <program> [arguments...]\n");
    return 2;
  }
  std::FILE* log = std::fopen(argv[1], "w");
  if (log == nullptr) { std::perror(argv[1]); return 2; }
  int fd[2];
  if (pipe(fd) != 0) { std::perror("pipe"); return 2; }
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(fd[1], 1);
    close(fd[0]);
    close(fd[1]);
    // The console is a pipe here, so the child's standard output would be fully buffered:
    // run it line-buffered through stdbuf so each line arrives when it is written.
    std::vector<char*> args = {const_cast<char*>("stdbuf"), const_cast<char*>("-oL")};
    for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("stdbuf", args.data());
    std::perror(argv[2]);
    _exit(127);
  }
  close(fd[1]);
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  std::string line;
  char buf[1 << 16];
  for (;;) {
    const ssize_t got = read(fd[0], buf, sizeof buf);
    if (got <= 0) break;
    const double t = seconds();  // lines that arrive together get the time of their arrival
    if (raw != nullptr) std::fwrite(buf, 1, static_cast<std::size_t>(got), raw);
    for (ssize_t i = 0; i < got; ++i) {
      if (buf[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::fprintf(log, "%.6f %s\n", t, line.c_str());
        line.clear();
      } else {
        line += buf[i];
      }
    }
    std::fflush(log);  // the log can be watched while the run goes on
  }
  if (!line.empty()) std::fprintf(log, "%.6f %s\n", seconds(), line.c_str());
  int status = 0;
  rusage ru{};
  wait4(child, &status, 0, &ru);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(log, "#END %d %ld %.6f\n", code, ru.ru_maxrss, seconds());
  std::fclose(log);
  if (raw != nullptr) std::fclose(raw);
  return code;
}

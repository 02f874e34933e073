// Wall time of the solver's phases, for the benchmark build only (CMake option
// ZUMEK_PHASE_TIMES): each phase writes one line "PHASE <name> <seconds>" to standard error,
// and the factor its size as "PHASE factor_entries <count>". Other builds compile nothing of it,
// so the programs' console and files are the same in both.
#pragma once

#include <cstdint>

#ifdef ZUMEK_PHASE_TIMES
#include <chrono>
#include <cstdio>
#endif

namespace num {

class phase_clock {
 public:
#ifdef ZUMEK_PHASE_TIMES
  // Ends the phase under way under the given name and starts the next.
  void lap(const char* name) {
    const auto now = std::chrono::steady_clock::now();
    std::fprintf(stderr, "PHASE %s %.3f\n", name,
                 std::chrono::duration<double>(now - start_).count());
    start_ = now;
  }
  static void count(const char* name, std::int64_t value) {
    std::fprintf(stderr, "PHASE %s %lld\n", name, static_cast<long long>(value));
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
#else
  void lap(const char*) {}
  static void count(const char*, std::int64_t) {}
#endif
};

}  // namespace num

// What every fuzz target shares: the run's ends turned into an exception, a private working
// folder, the console silenced, and a small memory ceiling.
//
// The routines under test end a run through rt::stop and rt::runtime_error. Here those ends
// throw run_ended, which the target catches: a clean stop is a pass. rt::internal_error
// (a failed index check, a programming error) aborts, so that the fuzzer reports it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

struct run_ended {
  int status = 0;
};

// Once per process: the hook, a fresh temporary folder as working directory, the standard
// output sent to /dev/null, arrays limited to memory_mb megabytes together.
void setup(std::int64_t memory_mb = 256);

// Writes text to the file name in the working directory.
void write_file(const char* name, std::string_view text);

// Splits the input at the first line "@@" (the line itself belongs to neither part): the part
// before it goes to *head, the rest to *tail. Without such a line, *head is empty.
void split(const std::uint8_t* data, std::size_t size, std::string* head, std::string* tail);

}  // namespace fuzz

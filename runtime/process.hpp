// How a run starts and ends: floating-point set-up, stops and run-time errors.
#pragma once

#include <string>
#include <string_view>

namespace rt {

class fixed_line;   // runtime/text_io.hpp

// Sets the name that prefixes the run-time error lines ("zumek_tav: severe (24): ...").
void set_program_name(std::string_view name);
const std::string& program_name();

// Flush-to-zero and denormals-are-zero for the whole run; called first thing in main.
void fp_setup();

// Exit statuses of a stop.
constexpr int exit_normal = 0;   // "PROGRAM TERMINATED." and the other normal ends
constexpr int exit_error = 1;    // every stop that ends a run on an error

// Ends the run: flushes and closes every open file, writes the stop text alone on a line to
// the standard error stream (nothing when it is empty), exits with the status.
[[noreturn]] void stop(std::string_view text, int status);

// Ends the run on an error with the line framed on the console: a blank line, a line of
// dashes, the line, dashes again, a blank line; then a stop with no text and status 1.
[[noreturn]] void stop_framed(const fixed_line& line);

// The same frame around two lines (the second names, for instance, the round).
[[noreturn]] void stop_framed(const fixed_line& line, const fixed_line& second);

// Run-time error numbers.
constexpr int rte_end_of_file = 24;
constexpr int rte_file_not_found = 29;
constexpr int rte_open_failure = 30;   // an output file that cannot be created
constexpr int rte_out_of_memory = 41;
constexpr int rte_bad_value = 59;

// Ends the run on an input or memory failure that the program does not test itself: one
// line "<program>: severe (N): <message>" on the standard error stream, exit status N.
[[noreturn]] void runtime_error(int number, std::string_view message);

// Ends the run from a check that found a programming error (never from input): the message
// on the standard error stream and exit status 1.
[[noreturn]] void internal_error(std::string_view message);

// For harnesses that drive a program's routines in-process (the fuzz targets): when a hook is
// set, stop, runtime_error and internal_error call it after writing their lines, instead of
// ending the process. The hook is expected to throw; should it return, the run ends as usual.
// kind says which way the run ended; status is the exit status the process would have had.
enum class end_kind { stop, runtime_error, internal_error };
using stop_hook = void (*)(end_kind kind, int status);
void set_stop_hook(stop_hook hook);   // nullptr restores the normal ends

}  // namespace rt

// The 57-line "param.txt" of zumek_ro: any text ends in a read run or a clean stop.
#include <cstdint>
#include <string_view>

#include "fuzz/harness.hpp"
#include "zumek_ro/parameters.hpp"
#include "zumek_ro/run_state.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::setup();
  fuzz::write_file("param.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  ro::run_state s;
  try {
    ro::read_parameters(s);
  } catch (const fuzz::run_ended&) {
  }
  return 0;
}

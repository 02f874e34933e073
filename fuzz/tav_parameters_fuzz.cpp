// The 59-line "param.txt" of zumek_tav: any text ends in a read run or a clean stop.
#include <cstdint>
#include <string_view>

#include "fuzz/harness.hpp"
#include "zumek_tav/parameters.hpp"
#include "zumek_tav/run_state.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::setup();
  fuzz::write_file("param.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  tav::run_state s;
  try {
    tav::read_parameters(s);
  } catch (const fuzz::run_ended&) {
  }
  return 0;
}

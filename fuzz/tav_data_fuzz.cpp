// The data step of zumek_tav with family forming. The input is a small head, a line "@@",
// then "dat.txt": the head holds NRDF and n_effects on its first line.
#include <cstdint>
#include <string>

#include "fuzz/harness.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/file_prep.hpp"
#include "zumek_tav/run_state.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::setup();
  std::string head, dat;
  fuzz::split(data, size, &head, &dat);
  fuzz::write_file("head.txt", head);
  fuzz::write_file("dat.txt", dat);
  tav::run_state s;
  try {
    rt::text_in h;
    rt::open_in(h, 38, "head.txt");
    const int st = rt::read_with_status(h, {s.NRDF, s.n_effects});
    rt::close(h);
    // The parameter reader lets through NRDF >= 0 and n_effects >= 4; keep the runs small.
    if (st != rt::read_ok || s.NRDF < 0 || s.NRDF > 2000 || s.n_effects < 4 || s.n_effects > 40)
      return 0;
    tav::FILE_PREP(s);
    // Every record sits in exactly one family, and the rest group is last.
    std::int64_t total = 0;
    for (std::int32_t f = 1; f <= s.n_families; ++f) total += s.family_block(f).n_records;
    if (total != s.NRDF || s.n_families < 1) __builtin_trap();
  } catch (const fuzz::run_ended&) {
  }
  return 0;
}

// Free-form reading of any text: every read statement returns one of its three statuses,
// and every real and integer read comes back from its free-form write unchanged (integers)
// or within the 15 significant digits that the writer keeps (reals).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "runtime/text_io.hpp"

namespace {

void check_status(int st) {
  if (st != rt::read_ok && st != rt::read_end_of_file && st != rt::read_bad_value) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::setup();
  if (size < 1) return 0;
  const unsigned shape = data[0];   // picks the items of the statements, two bits each
  fuzz::write_file("in.txt", std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  std::vector<double> reals;
  std::vector<std::int32_t> ints;
  rt::text_in f;
  try {
    rt::open_in(f, 37, "in.txt");
    for (int k = 0; k < 256; ++k) {
      std::int32_t i = 0;
      double x = 0.0;
      bool b = false;
      std::int32_t il[3] = {0, 0, 0};
      double xl[3] = {0.0, 0.0, 0.0};
      int st = rt::read_ok;
      switch ((shape >> (2 * (k % 4))) & 3u) {
        case 0: st = rt::read_with_status(f, {i, x}); break;
        case 1: st = rt::read_with_status(f, {b, std::span<std::int32_t>(il), x}); break;
        case 2: st = rt::read_with_status(f, {std::span<double>(xl)}); break;
        default: st = rt::read_with_status(f, {}); break;
      }
      check_status(st);
      if (st == rt::read_end_of_file) break;
      if (st == rt::read_ok) {
        ints.push_back(i);
        ints.insert(ints.end(), il, il + 3);
        reals.push_back(x);
        reals.insert(reals.end(), xl, xl + 3);
      }
    }
    for (double x : reals)
      if (!std::isfinite(x)) std::abort();   // the reader never hands out a NaN or an infinity

    // Round trip through the writer.
    rt::text_out out;
    rt::open_out(out, 21, "back.txt");
    for (std::size_t k = 0; k < reals.size(); ++k) {
      rt::write(out, {reals[k]});
      rt::write(out, {ints[k]});
    }
    rt::close(out);
    rt::text_in back;
    rt::open_in(back, 21, "back.txt");
    for (std::size_t k = 0; k < reals.size(); ++k) {
      double y = 0.0;
      std::int32_t j = 0;
      rt::read(back, {y});
      rt::read(back, {j});
      const double x = reals[k];
      if (j != ints[k]) std::abort();
      if (std::fabs(y - x) > 1e-14 * std::fabs(x)) std::abort();
    }
    rt::close(back);

    // The same file read without a status request until it ends with a run-time error.
    rt::rewind(f);
    for (;;) {
      double x = 0.0;
      rt::read(f, {x});
    }
  } catch (const fuzz::run_ended& e) {
    if (e.status != 24 && e.status != 59) std::abort();
  }
  if (f.open) rt::close(f);
  return 0;
}

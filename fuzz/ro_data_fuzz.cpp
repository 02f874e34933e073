// The data step of zumek_ro with family forming and drop_last_level, then the link rule of
// every block. The input is a small head, a line "@@", then "dat.txt": the head holds NRDF
// and n_effects on its first line, NLEV on the second, drop_last_level on the third.
#include <cstdint>
#include <span>
#include <string>

#include "fuzz/harness.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/data_prep.hpp"
#include "zumek_ro/run_state.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::setup();
  std::string head, dat;
  fuzz::split(data, size, &head, &dat);
  fuzz::write_file("head.txt", head);
  fuzz::write_file("dat.txt", dat);
  ro::run_state s;
  try {
    rt::text_in h;
    rt::open_in(h, 38, "head.txt");
    int st = rt::read_with_status(h, {s.NRDF, s.n_effects});
    // The parameter reader lets through NRDF >= 0 and n_effects >= 3; keep the runs small.
    if (st != rt::read_ok || s.NRDF < 0 || s.NRDF > 2000 || s.n_effects < 3 || s.n_effects > 40) {
      rt::close(h);
      return 0;
    }
    s.NLEV.assign(s.n_effects, 0);
    s.drop_last_level.assign(s.n_effects, 0);
    auto nlev = std::span<std::int32_t>(s.NLEV.data(), static_cast<std::size_t>(s.n_effects));
    auto drop = std::span<std::int32_t>(s.drop_last_level.data(), static_cast<std::size_t>(s.n_effects));
    st = rt::read_with_status(h, {nlev});
    if (st == rt::read_ok) st = rt::read_with_status(h, {drop});
    rt::close(h);
    if (st != rt::read_ok) return 0;
    for (std::int32_t k = 1; k <= s.n_effects; ++k)
      if (s.NLEV(k) < 0) return 0;   // rejected by the parameter reader

    ro::prepare_data(s);

    // Fill record_value of every block from "DAT1.sal" as the assembly does, then find the
    // linked pairs.
    rt::text_in back;
    rt::open_in(back, 21, "DAT1.sal");
    rt::vec1<double> row(s.n_effects + 1, 0.0);
    std::int64_t total = 0;
    for (std::int32_t f = 1; f <= s.n_families; ++f) {
      ro::family_block& b = s.family[static_cast<std::size_t>(f - 1)];
      total += b.n_records;
      for (std::int32_t r = 1; r <= b.n_records; ++r) {
        rt::read(back, {std::span<double>(row.data(), static_cast<std::size_t>(s.n_effects + 1))});
        for (std::int32_t k = 1; k <= s.n_effects; ++k) b.record_value(k, r) = row(k);
      }
      ro::find_linked_pairs(b, s.n_effects);
    }
    rt::close(back);
    if (total != s.NRDF || s.n_families < 1) __builtin_trap();
  } catch (const fuzz::run_ended&) {
  }
  return 0;
}

#include "zumek_tav/parameters.hpp"

#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "runtime/array.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace tav {

namespace {

[[noreturn]] void bad_parameter(const std::string& what) {
  rt::stop(what + " PROGRAM TERMINATED.", rt::exit_error);
}

void require_non_negative(std::int32_t v, const char* name, int line) {
  if (v < 0)
    bad_parameter("PLEASE, SET A NON-NEGATIVE " + std::string(name) + " (LINE " +
                  std::to_string(line) + ").");
}

// The random generator seeds itself from |seed| and keeps |seed| + 1 in the program's seed:
// both must fit 32 bits. Its congruential word starts as (|seed| XOR 888889999) OR 1; the
// value 2147483647 is the generator's modulus, whose next step is 0 for ever.
bool seed_can_start_generator(std::int32_t seed) {
  if (seed == std::numeric_limits<std::int32_t>::min()) return false;
  std::int32_t s = seed < 0 ? -seed : seed;
  if (s == std::numeric_limits<std::int32_t>::max()) return false;
  return ((s ^ 888889999) | 1) != 2147483647;
}

void skip_lines(rt::text_in& f, int n) {
  for (int k = 0; k < n; ++k) rt::read(f, {});
}

std::span<std::int32_t> all(rt::vec1<std::int32_t>& v) {
  return std::span<std::int32_t>(v.data(), static_cast<std::size_t>(v.size()));
}

}  // namespace

void read_parameters(run_state& s) {
  rt::text_in f;
  rt::open_in(f, 37, "param.txt");

  skip_lines(f, 14);                    // lines 1-14: headings
  rt::read(f, {s.seed});                // 15
  rt::read(f, {s.n_rounds});            // 16
  rt::read(f, {s.NZ});                  // 17
  rt::read(f, {s.n_pedigree});          // 18
  rt::read(f, {s.NRDF});                // 19
  rt::read(f, {s.n_effects});           // 20

  // The counts size arrays and stores from here on, and the starting values of lines 39-43
  // sit at effects n_effects - 3 .. n_effects - 1.
  if (!seed_can_start_generator(s.seed))
    bad_parameter("PLEASE, SET ANOTHER SEED (LINE 15): THIS ONE CANNOT START THE RANDOM GENERATOR.");
  require_non_negative(s.n_rounds, "NUMBER OF ROUNDS", 16);
  require_non_negative(s.NZ, "NZ", 17);
  require_non_negative(s.n_pedigree, "PEDIGREE SIZE", 18);
  require_non_negative(s.NRDF, "NRDF", 19);
  if (s.n_effects < 4) bad_parameter("PLEASE, SET 4 OR MORE EFFECTS (LINE 20).");
  skip_lines(f, 5);                     // 21-25

  const std::int32_t n = s.n_effects;
  // Seven integer arrays and four (n_effects, 2, 2) real arrays, zero-filled as they come:
  // an absurd count must fail before any of them is written.
  rt::require_memory(static_cast<double>(n) * (7.0 * 4.0 + 4.0 * 32.0));
  s.NEST.assign(n, 0);
  s.NLEV.assign(n, 0);
  s.TYPO.assign(n, 0);
  s.fixed_effect_type.assign(n, 0);
  s.CORR.assign(n, 0);
  s.drop_last_level.assign(n, 0);
  s.remaining_levels.assign(n, 0);

  rt::read(f, {all(s.NEST)});               // 26
  rt::read(f, {all(s.NLEV)});               // 27
  rt::read(f, {all(s.TYPO)});               // 28
  rt::read(f, {all(s.fixed_effect_type)});  // 29
  rt::read(f, {all(s.CORR)});               // 30
  rt::read(f, {all(s.drop_last_level)});    // 31
  // A correlated block covers effects k .. k + CORR(k) - 1 of a 2 x 2 (co)variance slot.
  for (std::int32_t k = 1; k <= n; ++k) {
    if (s.CORR(k) < 0 || s.CORR(k) > 2)
      bad_parameter("PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT " + std::to_string(k) + ").");
    if (s.CORR(k) == 2 && k == n)
      bad_parameter("PLEASE, CHECK CORR (LINE 30): THE BLOCK OF EFFECT " + std::to_string(k) +
                    " REACHES PAST THE LAST EFFECT.");
  }
  skip_lines(f, 5);                     // 32-36

  s.G.resize(n, 2, 2);
  s.g_inverse.resize(n, 2, 2);
  s.G0.resize(n, 2, 2);
  s.g_draw_inverse.resize(n, 2, 2);

  rt::read(f, {s.S2E0});                // 37
  rt::read(f, {s.p_PAR});               // 38

  rt::read(f, {s.G0(n - 3, 1, 1)});     // 39
  rt::read(f, {s.G0(n - 2, 1, 1)});     // 40
  rt::read(f, {s.G0(n - 1, 1, 1)});     // 41
  rt::read(f, {s.G0(n - 1, 1, 2)});     // 42
  rt::read(f, {s.G0(n - 1, 2, 2)});     // 43
  s.G0(n - 1, 2, 1) = s.G0(n - 1, 1, 2);

  skip_lines(f, 2);                     // 44-45
  rt::read(f, {s.residual_prior_df});   // 46
  rt::read(f, {s.type1_prior_df});      // 47
  rt::read(f, {s.type2_prior_df});      // 48
  rt::read(f, {s.type2_prior_df_second});  // 49
  skip_lines(f, 2);                     // 50-51

  rt::read(f, {s.n_grid_points});       // 52
  if (s.n_grid_points % 2 == 0)
    rt::stop("PLEASE, SET AN ODD NUMBER OF GRID POINTS. PROGRAM TERMINATED.", rt::exit_error);
  // One point (or fewer) leaves no step between the ends of the coarse grid.
  if (s.n_grid_points < 3) bad_parameter("PLEASE, SET 3 OR MORE GRID POINTS (LINE 52).");

  rt::read(f, {s.coarse_grid_start, s.coarse_grid_end});  // 53
  rt::read(f, {s.fine_grid_step});      // 54

  s.fine_grid_centre = static_cast<std::int32_t>((static_cast<double>(s.n_grid_points) + 1.0) * 0.5);
  s.coarse_grid_step =
      (s.coarse_grid_end - s.coarse_grid_start) / static_cast<double>(s.n_grid_points - 1);
  s.grid.assign(s.n_grid_points, 0.0);

  skip_lines(f, 4);                     // 55-58
  rt::read(f, {s.write_solutions});     // 59
  rt::close(f);
}

}  // namespace tav

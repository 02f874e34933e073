// The 57-line parameter file of zumek_ro.
#include "zumek_ro/parameters.hpp"

#include <cstdint>
#include <span>
#include <string>

#include "runtime/array.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace ro {

namespace {

[[noreturn]] void bad_parameter(const std::string& what) {
  rt::stop(what + " PROGRAM TERMINATED.", rt::exit_error);
}

void skip_lines(rt::text_in& f, int n) {
  for (int i = 0; i < n; ++i) rt::read(f, {});
}

std::span<std::int32_t> whole(rt::vec1<std::int32_t>& v) {
  return std::span<std::int32_t>(v.data(), static_cast<std::size_t>(v.size()));
}

// Counts of lines 15 to 20 that size arrays or loops; n_effects below 3 would put the G0
// values of lines 39 to 42 below effect 1.
void check_counts(const run_state& s) {
  if (s.n_rounds < 0) bad_parameter("PLEASE, SET A NON-NEGATIVE NUMBER OF ROUNDS (LINE 16).");
  if (s.NZ < 0) bad_parameter("PLEASE, SET A NON-NEGATIVE NZ (LINE 17).");
  if (s.n_pedigree < 0) bad_parameter("PLEASE, SET A NON-NEGATIVE PEDIGREE SIZE (LINE 18).");
  if (s.NRDF < 0) bad_parameter("PLEASE, SET A NON-NEGATIVE NRDF (LINE 19).");
  if (s.n_effects < 3) bad_parameter("PLEASE, SET 3 OR MORE EFFECTS (LINE 20).");
}

// The first draw seeds the generator from |seed| and leaves |seed| + 1 in seed, so |seed|
// must stay below 2147483647. Two seeds make the congruential word 2147483647, which the
// multiplicative step turns into 0 for ever.
void check_seed(std::int32_t seed) {
  const std::int64_t s = seed < 0 ? -static_cast<std::int64_t>(seed) : seed;
  if (s >= 2147483647 || s == 1258593648 || s == 1258593649)
    bad_parameter("PLEASE, SET ANOTHER SEED (LINE 15): THIS ONE CANNOT START THE RANDOM GENERATOR.");
}

// Per-effect values of lines 27 and 30 that later serve as sizes and indexes.
void check_effects(const run_state& s) {
  std::int64_t n_equations = 0;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) {
    if (s.NLEV(k) < 0)
      bad_parameter("PLEASE, SET A NON-NEGATIVE NLEV (LINE 27, EFFECT " + std::to_string(k) + ").");
    n_equations += s.NLEV(k);
  }
  if (n_equations > 2147483647)
    bad_parameter("PLEASE, CHECK NLEV (LINE 27): MORE THAN 2147483647 EQUATIONS.");
  for (std::int32_t k = 1; k <= s.n_effects; ++k) {
    const std::int32_t c = s.CORR(k);
    if (c < 0 || c > 2)
      bad_parameter("PLEASE, SET CORR TO 0, 1 OR 2 (LINE 30, EFFECT " + std::to_string(k) + ").");
    if (c > 0 && k + c - 1 > s.n_effects)
      bad_parameter("PLEASE, CHECK CORR (LINE 30): THE BLOCK OF EFFECT " + std::to_string(k) +
                    " REACHES PAST THE LAST EFFECT.");
  }
  // The pedigree pass writes member numbers 1..n_pedigree as levels of every effect of its
  // block; fewer levels would put its terms into the next effect's equations.
  for (std::int32_t k = 1; k <= s.n_effects; ++k) {
    if (s.CORR(k) == 0 || s.TYPO(k) != 2) continue;
    for (std::int32_t m = k; m <= k + s.CORR(k) - 1; ++m)
      if (s.NLEV(m) < s.n_pedigree)
        bad_parameter("PLEASE, CHECK NLEV (LINE 27): EFFECT " + std::to_string(m) +
                      " OF THE PEDIGREE BLOCK OF EFFECT " + std::to_string(k) +
                      " HAS FEWER LEVELS THAN THE PEDIGREE SIZE.");
  }
}

}  // namespace

void read_parameters(run_state& s) {
  rt::text_in f;
  rt::open_in(f, 37, "param.txt");

  skip_lines(f, 14);
  rt::read(f, {s.seed});
  rt::read(f, {s.n_rounds});
  rt::read(f, {s.NZ});
  rt::read(f, {s.n_pedigree});
  rt::read(f, {s.NRDF});
  rt::read(f, {s.n_effects});
  check_seed(s.seed);
  check_counts(s);
  skip_lines(f, 5);

  const std::int32_t ne = s.n_effects;
  // Seven integer arrays and four (n_effects, 2, 2) real arrays, zero-filled as they come:
  // an absurd count must fail before any of them is written.
  rt::require_memory(static_cast<double>(ne) * (7.0 * 4.0 + 4.0 * 32.0));
  s.NEST.assign(ne, 0);
  s.NLEV.assign(ne, 0);
  s.TYPO.assign(ne, 0);
  s.fixed_effect_type.assign(ne, 0);
  s.CORR.assign(ne, 0);
  s.drop_last_level.assign(ne, 0);
  s.remaining_levels.assign(ne, 0);

  rt::read(f, {whole(s.NEST)});
  rt::read(f, {whole(s.NLEV)});
  rt::read(f, {whole(s.TYPO)});
  rt::read(f, {whole(s.fixed_effect_type)});
  rt::read(f, {whole(s.CORR)});
  rt::read(f, {whole(s.drop_last_level)});
  check_effects(s);
  skip_lines(f, 5);

  s.G.resize(ne, 2, 2, 0.0);
  s.g_inverse.resize(ne, 2, 2, 0.0);
  s.G0.resize(ne, 2, 2, 0.0);

  rt::read(f, {s.S2E0});
  rt::read(f, {s.p_PAR});

  rt::read(f, {s.G0(ne - 2, 1, 1)});
  rt::read(f, {s.G0(ne - 1, 1, 1)});
  rt::read(f, {s.G0(ne - 1, 1, 2)});
  rt::read(f, {s.G0(ne - 1, 2, 2)});
  s.G0(ne - 1, 2, 1) = s.G0(ne - 1, 1, 2);   // after line 42, whatever it holds

  skip_lines(f, 2);
  rt::read(f, {s.residual_prior_df});
  rt::read(f, {s.type1_prior_df});
  rt::read(f, {s.type2_prior_df});
  skip_lines(f, 2);

  rt::read(f, {s.n_grid_points});
  if (s.n_grid_points % 2 == 0)
    rt::stop("PLEASE, SET AN ODD NUMBER OF GRID POINTS. PROGRAM TERMINATED.", rt::exit_error);
  // One point (or fewer) makes no grid and a zero divisor for the coarse step.
  if (s.n_grid_points < 3)
    bad_parameter("PLEASE, SET 3 OR MORE GRID POINTS (LINE 50).");

  rt::read(f, {s.coarse_grid_start, s.coarse_grid_end});
  rt::read(f, {s.fine_grid_step});

  s.fine_grid_centre =
      static_cast<std::int32_t>((static_cast<double>(s.n_grid_points) + 1.0) * 0.5);
  s.coarse_grid_step = (s.coarse_grid_end - s.coarse_grid_start) /
                       static_cast<double>(s.n_grid_points - 1);
  s.grid.assign(s.n_grid_points, 0.0);

  skip_lines(f, 4);
  rt::read(f, {s.write_solutions});
  rt::close(f);
}

}  // namespace ro

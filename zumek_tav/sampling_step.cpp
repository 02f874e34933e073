// STEP 6: the sampling rounds, started from the solution of the equations.
#include <cstdint>

#include "numeric/covariance_blocks.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/sample_round.hpp"
#include "zumek_tav/steps.hpp"

namespace tav {

void run_sampling(run_state& s) {
  s.sample.assign(s.n_equations, 0.0);
  for (std::int32_t i = 1; i <= s.n_equations; ++i) s.sample(i) = s.solution(i);
  s.G = s.G0;
  s.current_p_par = s.p_PAR;

  for (s.ROUND = 1; s.ROUND <= s.n_rounds; ++s.ROUND) {
    rt::put(rt::console(), rt::fixed_line().I(s.ROUND, 9).X(2).A("TH ITERATION", 12));
    num::invert_current_blocks(s.g_inverse, s.G, s.n_effects, s.CORR);
    sample_round(s, s.ROUND);
  }

  rt::close(s.dat1_file);
  rt::close(s.chain_file);
  if (!s.write_solutions) rt::stop("PROGRAM TERMINATED - NO SOLUTIONS.", rt::exit_normal);
}

}  // namespace tav

// STEP 6: the sampling rounds, each after the inverse of every (co)variance block in force.
#include <cstdint>

#include "numeric/covariance_blocks.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/sample_round.hpp"
#include "zumek_ro/steps.hpp"

namespace ro {

void run_sampling(run_state& s) {
  s.sample.assign(s.n_equations, 0.0);
  for (std::int32_t e = 1; e <= s.n_equations; ++e) s.sample(e) = s.solution(e);
  s.G = s.G0;
  s.current_s2e0 = s.S2E0;
  s.current_p_par = s.p_PAR;

  rt::text_out& con = rt::console();
  for (s.ROUND = 1; s.ROUND <= s.n_rounds; ++s.ROUND) {
    rt::put(con, rt::fixed_line().I(s.ROUND, 9).X(2).A("TH ITERATION", 12));
    num::invert_current_blocks(s.g_inverse, s.G, s.n_effects, s.CORR);
    sample_round(s, s.ROUND);
  }

  rt::close(s.dat1);
  rt::close(s.chain_file);
  if (!s.write_solutions) rt::stop("PROGRAM TERMINATED - NO SOLUTIONS.", rt::exit_normal);
}

}  // namespace ro

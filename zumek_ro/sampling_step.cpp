// STEP 6: the sampling rounds, each after the inverse of every (co)variance block in force.
#include <cstdint>

#include "numeric/sym_ginverse.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/steps.hpp"
#if __has_include("zumek_ro/sample_round.hpp")
#include "zumek_ro/sample_round.hpp"
#define ZUMEK_RO_HAS_SAMPLE_ROUND 1
#endif

namespace ro {

namespace {

// g_inverse := G, then every block with CORR(k) not 0 inverted; a block that is not positive
// definite ends the run.
void invert_current_blocks(run_state& s) {
  s.g_inverse = s.G;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) {
    if (s.CORR(k) == 0) continue;
    std::int32_t rank = 0;
    rank = num::invert_block(s.g_inverse, k, s.CORR(k), 1.0E-12);
    if (rank < s.CORR(k)) {
      rt::text_out& con = rt::console();
      rt::write(con, {});
      rt::write(con, {"-----------"});
      rt::put(con, rt::fixed_line()
                       .A("FATAL ERROR: MATRIX G(", 23)
                       .I(k, 1)
                       .A(") IS NOT POSITIVE DEFINITE.", 27));
      rt::write(con, {"-----------"});
      rt::write(con, {});
      rt::stop("", rt::exit_error);
    }
  }
}

}  // namespace

void run_sampling(run_state& s) {
  s.sample.assign(s.n_equations, 0.0);
  for (std::int32_t e = 1; e <= s.n_equations; ++e) s.sample(e) = s.solution(e);
  s.G = s.G0;
  s.current_s2e0 = s.S2E0;
  s.current_p_par = s.p_PAR;

  rt::text_out& con = rt::console();
  for (s.ROUND = 1; s.ROUND <= s.n_rounds; ++s.ROUND) {
    rt::put(con, rt::fixed_line().I(s.ROUND, 9).X(2).A("TH ITERATION", 12));
    invert_current_blocks(s);
#ifdef ZUMEK_RO_HAS_SAMPLE_ROUND
    sample_round(s, s.ROUND);
#endif
  }

  rt::close(s.dat1);
  rt::close(s.chain_file);
  if (!s.write_solutions) rt::stop("PROGRAM TERMINATED - NO SOLUTIONS.", rt::exit_normal);
}

}  // namespace ro

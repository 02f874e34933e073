// zumek_ro: Gibbs sampling of a mixed model with correlated residuals within maternal
// families. The steps run in order on one run_state.
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/data_prep.hpp"
#include "zumek_ro/parameters.hpp"
#include "zumek_ro/run_state.hpp"

int main() {
  rt::fp_setup();
  rt::set_program_name("zumek_ro");
  rt::text_out& con = rt::console();
  static ro::run_state s;   // lives until the program ends

  rt::write(con, {"---------------------"});
  rt::write(con, {"PROGRAM ZUMEK_RO v1.1"});
  rt::write(con, {"---------------------"});
  rt::write(con, {});

  ro::read_parameters(s);
  rt::write(con, {"PARAMETER FILE SUCCESFULLY READ. START EXECUTION..."});
  rt::write(con, {});
  rt::write(con, {"STEP 1. INITIALIZATION."});
  rt::write(con, {});

  // STEP 1
  std::int64_t n_equations = 0;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) n_equations += s.NLEV(k);
  s.n_equations = static_cast<std::int32_t>(n_equations);   // the reader bounds the sum
  s.rhs.assign(s.n_equations, 0.0);
  s.dropped.assign(s.n_equations, 0);
  s.shift.assign(s.n_equations, 0);
  s.solution.assign(s.n_equations, 0.0);
  // The equation store and AMAT are set up here, before the data step, once the sparse
  // store is part of the program.

  ro::prepare_data(s);

  rt::open_in(s.dat1, 21, "DAT1.sal");
  rt::open_out(s.chain_file, 25, "CVC-CHAIN.txt");
  rt::write(con, {});
  rt::write(con, {"NUMBER OF EQUATIONS:", s.n_equations});
  rt::write(con, {"   NUMBER OF BLOCKS:", s.n_families});
  rt::write(con, {});
  rt::write(con, {"***"});

  rt::stop("PROGRAM TERMINATED.", rt::exit_normal);
}

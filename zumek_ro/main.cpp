// zumek_ro: Gibbs sampling of a mixed model with correlated residuals within maternal
// families. The steps run in order on one run_state.
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/parameters.hpp"
#include "zumek_ro/run_state.hpp"
#include "zumek_ro/steps.hpp"

int main() {
  rt::fp_setup();
  rt::set_program_name("zumek_ro");
  rt::text_out& con = rt::console();
  static ro::run_state s;  // lives until the stop ends the process

  rt::write(con, {"---------------------"});
  rt::write(con, {"PROGRAM ZUMEK_RO v1.1"});
  rt::write(con, {"---------------------"});
  rt::write(con, {});

  ro::read_parameters(s);
  rt::write(con, {"PARAMETER FILE SUCCESFULLY READ. START EXECUTION..."});
  rt::write(con, {});
  rt::write(con, {"STEP 1. INITIALIZATION."});
  rt::write(con, {});

  ro::initialize_run(s);
  ro::add_data_contributions(s);
  ro::add_random_effect_terms(s);
  ro::drop_empty_equations(s);
  ro::solve_equations(s);
  ro::run_sampling(s);
  ro::write_solutions_file(s);
}

// zumek_tav: Bayesian analysis of livestock records with a family-correlated random effect.
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/parameters.hpp"
#include "zumek_tav/run_state.hpp"
#include "zumek_tav/steps.hpp"

int main() {
  rt::fp_setup();
  rt::set_program_name("zumek_tav");
  rt::text_out& con = rt::console();
  rt::write(con, {"----------------------"});
  rt::write(con, {"PROGRAM ZUMEK_TAV v3.0"});
  rt::write(con, {"----------------------"});
  rt::write(con, {});

  static tav::run_state s;  // lives until the stop ends the process
  tav::read_parameters(s);

  rt::write(con, {"PARAMETER FILE SUCCESFULLY READ. START EXECUTION..."});
  rt::write(con, {});
  rt::write(con, {});
  rt::write(con, {"STEP 1. INITIALIZATION."});
  rt::write(con, {});

  tav::initialize_run(s);
  tav::add_data_contributions(s);
  tav::add_random_effect_terms(s);
  tav::drop_empty_equations(s);
  tav::solve_equations(s);
  tav::run_sampling(s);
  tav::write_solutions_file(s);
}

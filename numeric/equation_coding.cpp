// Record coding pieces shared by both programs.
#include "numeric/equation_coding.hpp"

#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace num {

rt::vec1<std::int32_t> first_equations(std::int32_t n_effects, const rt::vec1<std::int32_t>& NLEV) {
  rt::vec1<std::int32_t> first(n_effects);
  std::int32_t f = 1;
  for (std::int32_t k = 1; k <= n_effects; ++k) {
    first(k) = f;
    f += NLEV(k);
  }
  return first;
}

void stop_level_out_of_range(std::int32_t record, std::int32_t i, const char* what,
                             std::int32_t NLEV_i, double value) {
  rt::text_out& con = rt::console();
  rt::write(con, {});
  rt::write(con, {"FATAL ERROR IN RECORD", record, "OF DAT1.sal, EFFECT", i});
  rt::write(con, {what, " OUT OF RANGE 1 TO NLEV =", NLEV_i});
  rt::write(con, {"VALUE:", value});
  rt::write(con, {});
  rt::stop("FATAL ERROR: EXECUTION STOPPED", rt::exit_error);
}

void stop_nested_covariate() {
  rt::write(rt::console(), {"ERROR IN NESTED COVARIATE. PLEASE, CHECK VARIABLE \"NEST\" SETTING"});
  rt::stop("", rt::exit_error);
}

void stop_unimplemented_fixed_effect(std::int32_t i) {
  rt::write(rt::console(), {"UNIMPLEMENTED FIXED EFFECT", i});
  rt::stop("", rt::exit_error);
}

void add_row_entries(sparse_store& store, std::int32_t I, std::span<const std::int32_t> J,
                     std::span<const double> x, std::int32_t& IER) {
  if (J.empty()) return;
  IER = SBSIJ_row_add(store, I, J, x, 0, rt::console());
  if (IER == 701 || IER == 702) rt::stop("", rt::exit_error);
}

void add_entry(sparse_store& store, std::int32_t I, std::int32_t J, double x, std::int32_t& IER) {
  SBSIJ(store, I, J, x, 5, 0, rt::console(), IER);
  if (IER == 701 || IER == 702) rt::stop("", rt::exit_error);
}

}  // namespace num

// Classes of ordinary families with equal link structure. Two families with the same number of
// records and the same dam_link_matrix have the same matrix I + p x dam_link_matrix at every p,
// so the inverse and determinant computed for one of them are, bit for bit, those of the
// other: a round inverts each class once per p instead of once per family.
#pragma once

#include <cstdint>

#include "zumek_tav/run_state.hpp"

namespace tav {

// Fills the class fields of round_work. Only classes with two or more families are formed;
// any other family keeps class 0 and is inverted on its own. Called once per run. The
// comparison build (ZUMEK_LITERAL_ROUNDS defined) leaves every family in class 0.
void form_family_classes(run_state& s);

// The class of family f, 0 when it is inverted on its own (or the classes are not formed).
inline std::int32_t class_of(const run_state& s, std::int32_t f) {
  return f <= s.round.family_class.size() ? s.round.family_class(f) : 0;
}

// I + p x dam_link_matrix of family fb, element by element as (r == c) + p x link(r, c), into
// the n x n column-major matrix at R.
void fill_residual_matrix(const family_block& fb, double p, double* R);

// Inverse, log-determinant and the first point of rank below n of every class at each grid
// point (grid_rinv, grid_log_det, grid_fail).
void invert_classes_on_grid(run_state& s);

// Inverse of every class at p (rinv_at_p) and whether it has full rank (fail_at_p).
void invert_classes(run_state& s, double p);

}  // namespace tav

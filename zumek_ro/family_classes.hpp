// Classes of ordinary families with equal residual structure. Two families with the same number
// of records and the same linked pairs have the same matrix I + p x links at every p, so the
// inverse and determinant computed for one of them are, bit for bit, those of the other: a
// round inverts each class once per p instead of once per family.
#pragma once

#include <cstdint>

#include "zumek_ro/run_state.hpp"

namespace ro {

// Fills family_class, class_family and the class work space. Only classes with two or more
// families are formed; any other family keeps class 0 and is inverted on its own. Called once,
// after the linked pairs are found. The comparison build (ZUMEK_LITERAL_ROUNDS defined) leaves
// every family in class 0.
void form_family_classes(run_state& s);

// The class of block f, 0 when it is inverted on its own (or the classes are not formed).
inline std::int32_t class_of(const run_state& s, std::int32_t f) {
  return f <= s.family_class.size() ? s.family_class(f) : 0;
}

// I + p x links of block b written into the n x n column-major matrix at R: zeros, then the
// diagonal, then each linked pair.
void fill_residual_matrix(const family_block& b, double p, double* R);

// The inverse at p of every class into class_rinv (no rank test: the rebuild does not test it).
void invert_classes(run_state& s, double p);

}  // namespace ro

// Pieces both programs use while they turn records into equations: the first equation of
// every effect, the equation of a class level with its range check, and the entry of a term
// into a store in linked form.
#pragma once

#include <cstdint>
#include <span>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"

namespace num {

// First equation of every effect in the full numbering (1 + NLEV of the effects before it).
rt::vec1<std::int32_t> first_equations(std::int32_t n_effects, const rt::vec1<std::int32_t>& NLEV);

// Ends the run on a level outside 1 .. NLEV of effect i, naming the record of DAT1.sal, the
// effect, what was out of range ("CLASS LEVEL", "NESTING LEVEL") and the value read.
[[noreturn]] void stop_level_out_of_range(std::int32_t record, std::int32_t i, const char* what,
                                          std::int32_t NLEV_i, double value);

// Equation of the level that x = (level - 1) + f selects, truncated, f the first equation of
// effect i; a level outside 1 .. NLEV_i (a value between 0 and 1 included) stops the run
// instead of landing in the equations of another effect.
inline std::int32_t level_equation(std::int32_t record, std::int32_t i, std::int32_t f,
                                   std::int32_t NLEV_i, double x, const char* what,
                                   double value) {
  if (!(x >= static_cast<double>(f) && x < static_cast<double>(f) + NLEV_i))
    stop_level_out_of_range(record, i, what, NLEV_i, value);
  return static_cast<std::int32_t>(x);
}

// Ends the run on a covariate whose NEST names no other effect.
[[noreturn]] void stop_nested_covariate();

// Ends the run on a fixed effect i whose fixed_effect_type is neither a class nor a covariate.
[[noreturn]] void stop_unimplemented_fixed_effect(std::int32_t i);

// Adds x at (I, J) of a store in linked form; 701 and 702 end the run after SBSIJ's message.
void add_entry(sparse_store& store, std::int32_t I, std::int32_t J, double x, std::int32_t& IER);

// Adds x[j] at (I, J[j]) for j in order, as add_entry would call by call (SBSIJ_row_add: one
// walk of the row); 701 and 702 end the run after SBSIJ's message.
void add_row_entries(sparse_store& store, std::int32_t I, std::span<const std::int32_t> J,
                     std::span<const double> x, std::int32_t& IER);

}  // namespace num

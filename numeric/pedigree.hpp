// The pedigree pass: reads "ped.txt", checks every member's parents, reports the
// inconsistencies in "ERROR FILE.txt", computes inbreeding coefficients and Mendelian variance
// factors, and adds the inverse numerator-relationship terms of every member's family to the
// program's relationship store and, weighted by the g_inverse block of the effect, to the
// mixed-model equation store.
#pragma once

#include <cstdint>

#include "numeric/sparse_store.hpp"
#include "runtime/array.hpp"

namespace num {

// The settings of one call of the pass.
struct pedigree_pass_input {
  std::int32_t effect = 0;             // e: the TYPO-2 effect; its block is effects e .. e+CORR(e)-1
  std::int32_t n_pedigree = 0;         // members, one line each in "ped.txt"
  std::int32_t progress_interval = 0;  // a console line every so many members (1000 tav, 10000 ro)
  // true on the first call of a run only: the relationship store (GMAT, AMAT) must hold the
  // inverse relationship matrix once, however many TYPO-2 effects the model has.
  bool fill_relationship_inverse = true;
};

// What the pass keeps of member X, and X's weights in the two ancestor walks that may run at
// once (0.0 outside a walk: a walk sets the weight of every member it visits back to 0.0 once
// the visit has read it).
struct pedigree_member {
  std::int32_t larger_parent = 0;          // parents as left by the checks (0 unknown)
  std::int32_t smaller_parent = 0;
  double mendelian_variance_factor = 0.0;  // D(X) = 0.5 - (F(sire) + F(dam)) x 0.25
  double ancestor_weight[2] = {0.0, 0.0};  // in walk 0 and in walk 1
};

// The pass's work arrays. The pass sizes them itself; a caller that hands its own (the tests)
// finds F and D of every member in them afterwards. Without them, the pass works out F only
// for the members that are parents: nothing else reads it.
struct pedigree_work {
  rt::vec1<pedigree_member> member;           // n_pedigree + 1: the last stands in for an unknown parent
  rt::vec1<double> inbreeding_coefficients;   // n_pedigree + 1: F(X) at element X + 1, F(0) = -1
  // n_pedigree: 0 once F(X) is set, else the member whose walk gives it (X itself, or the first
  // of the run of full sibs X ends). F waits for a walk until an offspring needs it.
  rt::vec1<std::int32_t> walk_for;
  std::int64_t walks_side_by_side = 0;        // pairs of walks run together before the walks at the end
  // The ancestors still to visit in walk 0 and in walk 1, each a set of member numbers: a bit
  // per member in level 0, and in level 1 a bit per word of level 0 that is not zero.
  rt::vec1<std::uint64_t> pending[2][2];

  double F(std::int32_t X) const { return inbreeding_coefficients(X + 1); }
  double D(std::int32_t X) const { return member(X).mendelian_variance_factor; }
};

// Runs the pass for effect in.effect. Arrays of the program:
//   NLEV, CORR   per effect (n_effects); every effect e .. e+CORR(e)-1 must exist and have at
//                least n_pedigree levels (checked here: a member's number is its level);
//   g_inverse    (n_effects, 2, 2): block e is read;
//   equation_store        linked form, order n_equations: receives g_inverse(e,a+1,h+1) times
//                         the inverse relationship terms, upper triangle only, at the equations
//                         first_equation(e+a) - 1 + member (first_equation from NLEV);
//   relationship_inverse  linked form, order n_pedigree: receives the plain terms, both
//                         triangles, when in.fill_relationship_inverse is true.
// Console: a progress line every in.progress_interval members and the closing warning. A
// member that is not its line number, or a parent below 0 or above n_pedigree, stops the run
// (exit status 1) with a message naming the line; SBSIJ status 701 or 702 stops it with an
// empty stop text. work, when given, receives the work arrays (F and D) instead of freeing them.
// A block effect with NLEV below n_pedigree stops the run before "ped.txt" is opened:
//   " FATAL ERROR: EFFECT           3 HAS FEWER LEVELS (NLEV) THAN"
//   " PEDIGREE MEMBERS:           2 <           3"
// With fill_relationship_inverse false the relationship store is not touched.
//
// The equation assembly calls it for every effect k of TYPO 2 with CORR(k) > 0, e.g.
//   num::pedigree_pass({k, n_pedigree, 1000, !relationship_filled}, NLEV, CORR, g_inverse,
//                      equation_store, GMAT);
//   relationship_filled = true;
void pedigree_pass(const pedigree_pass_input& in, const rt::vec1<std::int32_t>& NLEV,
                   const rt::vec1<std::int32_t>& CORR, const rt::vec3<double>& g_inverse,
                   sparse_store& equation_store, sparse_store& relationship_inverse,
                   pedigree_work* work = nullptr);

}  // namespace num

// STEP 2 and STEP 3: the mixed-model equations of zumek_ro, the data terms weighted by each
// family's residual inverse.
//
// The order of the SBSIJ calls fixes the order of the columns within every row of the
// equation store, hence the minimum-degree ordering and the last digits of the solution.
#include <cstdint>
#include <span>

#include "numeric/covariance_blocks.hpp"
#include "numeric/equation_coding.hpp"
#include "numeric/pedigree.hpp"
#include "numeric/sparse_store.hpp"
#include "numeric/sym_ginverse.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/data_prep.hpp"
#include "zumek_ro/family_terms.hpp"
#include "zumek_ro/steps.hpp"

namespace ro {

namespace {

constexpr double pivot_tolerance = 1.0E-12;

// Equations and coefficients of every effect of every record of the block, effect by effect.
// records_before: records of the earlier blocks, for the record number in messages.
void code_block(const run_state& s, const rt::vec1<std::int32_t>& first, family_block& b,
                std::int64_t records_before) {
  const std::int32_t ne = s.n_effects;
  const std::int32_t n = b.n_records;
  for (std::int32_t i = 1; i <= ne; ++i) {
    const std::int32_t f = first(i);
    const double fm1 = f - 1.0;
    for (std::int32_t r = 1; r <= n; ++r) {
      const double v = b.record_value(i, r);
      const auto record = static_cast<std::int32_t>(records_before + r);
      if (s.fixed_effect_type(i) == 0) {  // class effect: level and sign
        if (v == 0.0) {
          b.equation(i, r) = 0;
        } else if (v > 0.0) {
          b.coefficient(i, r) = 1.0;
          b.equation(i, r) = num::level_equation(
              record, i, f, s.NLEV(i), v + fm1, "CLASS LEVEL", v);
        } else {
          b.coefficient(i, r) = -1.0;
          b.equation(i, r) = num::level_equation(
              record, i, f, s.NLEV(i), fm1 - v, "CLASS LEVEL", v);
        }
      } else if (s.fixed_effect_type(i) == 1) {  // covariate, maybe nested in a class effect
        b.coefficient(i, r) = v;
        const std::int32_t nest = s.NEST(i);
        if (nest == 0) {
          b.equation(i, r) = f;
        } else {
          if (nest < 1 || nest > ne - 1) num::stop_nested_covariate();
          const double level = b.record_value(nest, r);
          b.equation(i, r) = num::level_equation(
              record, i, f, s.NLEV(i), level + fm1, "NESTING LEVEL", level);
        }
      } else {
        num::stop_unimplemented_fixed_effect(i);
      }
    }
  }
}

// residual_matrix = S2E0 (I + p_PAR x links) and its inverse RINV. The rest group keeps only
// the diagonal and the linked pairs; its RINV is 1 / S2E0 on the diagonal, and at the pairs
// the copied residual values, which are never read.
void build_residual_inverse(const run_state& s, family_block& b, std::int32_t block_number) {
  const std::int32_t n = b.n_records;
  const double link_value = s.p_PAR * s.S2E0;
  if (b.is_rest_group != 0) {
    for (std::int32_t l = 1; l <= n; ++l) b.rest_residual_diag(l) = s.S2E0;
    for (std::int32_t p = 1; p <= b.n_links; ++p) b.rest_residual_link(p) = link_value;
    for (std::int32_t l = 1; l <= n; ++l) b.rest_rinv_diag(l) = 1.0 / b.rest_residual_diag(l);
    for (std::int32_t p = 1; p <= b.n_links; ++p) b.rest_rinv_link(p) = b.rest_residual_link(p);
    return;
  }
  for (std::int32_t l = 1; l <= n; ++l) b.residual_matrix(l, l) = s.S2E0;
  for (std::int32_t p = 1; p <= b.n_links; ++p) {
    b.residual_matrix(b.link_first(p), b.link_second(p)) = link_value;
    b.residual_matrix(b.link_second(p), b.link_first(p)) = link_value;
  }
  for (std::int64_t e = 1; e <= b.RINV.d.size(); ++e) b.RINV.d(e) = b.residual_matrix.d(e);
  std::int32_t rank = 0;
  num::sym_ginverse(b.RINV.data(), n, n, pivot_tolerance, rank);
  if (rank < n) {
    rt::stop_framed(rt::fixed_line()
                        .A("FATAL ERROR: RINV FOR FAMILY ", 30)
                        .I(block_number, 3)
                        .A(" IS NOT POSITIVE DEFINITE.", 27));
  }
}

}  // namespace

void add_data_contributions(run_state& s) {
  rt::text_out& con = rt::console();
  rt::write(con, {"STEP 2. FIXED EFFECTS CONTRIBUTIONS."});
  rt::write(con, {});

  const rt::vec1<std::int32_t> first = num::first_equations(s.n_effects, s.NLEV);
  const std::int32_t ne = s.n_effects;
  std::int64_t records_before = 0;
  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    if (f % 100 == 0) rt::put(con, rt::fixed_line().I(f, 9).X(2).A("FAMILIES READ", 13));
    family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    for (std::int32_t r = 1; r <= b.n_records; ++r) {
      // record_value(1..ne, r) is contiguous: column r of the table.
      rt::read(s.dat1, {std::span<double>(&b.record_value(1, r), static_cast<std::size_t>(ne)),
                        b.observation(r)});
    }
    find_linked_pairs(b, ne);
    code_block(s, first, b, records_before);
    build_residual_inverse(s, b, f);
    add_family_block_terms(b, ne, s.equation_store, s.rhs, s.IER);
    records_before += b.n_records;
  }
  rt::write(con, {"***"});
}

void add_random_effect_terms(run_state& s) {
  rt::text_out& con = rt::console();
  rt::write(con, {"STEP 3. RANDOM EFFECTS CONTRIBUTIONS."});
  rt::write(con, {});

  const rt::vec1<std::int32_t> first = num::first_equations(s.n_effects, s.NLEV);
  bool relationship_filled = false;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) {
    if (s.CORR(k) == 0) continue;
    num::invert_starting_block(s.g_inverse, s.G0, k, s.CORR(k));
    switch (s.TYPO(k)) {
      case 0:
        break;
      case 1: {
        const double g11 = s.g_inverse(k, 1, 1);
        for (std::int32_t e = first(k); e <= first(k) + s.NLEV(k) - 1; ++e)
          num::add_entry(s.equation_store, e, e, g11, s.IER);
        break;
      }
      case 2: {
        num::pedigree_pass_input in;
        in.effect = k;
        in.n_pedigree = s.n_pedigree;
        in.progress_interval = 10000;
        in.fill_relationship_inverse = !relationship_filled;  // AMAT holds A-inverse once
        num::pedigree_pass(in, s.NLEV, s.CORR, s.g_inverse, s.equation_store, s.AMAT);
        relationship_filled = true;
        break;
      }
      default:
        rt::write(con, {"UNIMPLEMENTED RANDOM EFFECT", s.TYPO(k)});
        rt::stop("", rt::exit_error);
    }
  }
}

}  // namespace ro

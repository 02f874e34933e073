// STEP 2 and STEP 3: the mixed-model equations of zumek_tav, scaled once by S2E0.
//
// The order of the SBSIJ calls below fixes the order of the columns within every row of the
// stores, hence the minimum-degree ordering and the last digits of the solution: keep it.
#include <cstdint>
#include <span>

#include "numeric/covariance_blocks.hpp"
#include "numeric/equation_coding.hpp"
#include "numeric/pedigree.hpp"
#include "numeric/sparse_store.hpp"
#include "numeric/sym_ginverse.hpp"
#include "runtime/prefetch.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/steps.hpp"

namespace tav {

namespace {

constexpr double pivot_tolerance = 1.0E-12;

// Turns the record's values into equation numbers and coefficients, effect by effect.
void code_record(run_state& s, const rt::vec1<std::int32_t>& first, std::int32_t record) {
  const std::int32_t n = s.n_effects;
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t f = first(i);
    const double v = s.record_value(i);
    if (s.fixed_effect_type(i) == 0) {  // class effect: level and sign
      if (v == 0.0) {
        s.equation(i) = 0;
      } else if (v > 0.0) {
        s.coefficient(i) = 1.0;
        s.equation(i) = num::level_equation(record, i, f, s.NLEV(i), v - 1.0 + f, "CLASS LEVEL", v);
      } else {
        s.coefficient(i) = -1.0;
        s.equation(i) = num::level_equation(
            record, i, f, s.NLEV(i), 0 - (v + 1.0) + f, "CLASS LEVEL", v);
      }
    } else if (s.fixed_effect_type(i) == 1) {  // covariate, maybe nested in a class effect
      s.coefficient(i) = v;
      const std::int32_t nest = s.NEST(i);
      if (nest == 0) {
        s.equation(i) = f;
      } else {
        if (nest < 1 || nest > n - 1) num::stop_nested_covariate();
        const double level = s.record_value(nest);
        s.equation(i) = num::level_equation(
            record, i, f, s.NLEV(i), level - 1.0 + f, "NESTING LEVEL", level);
      }
    } else {
      num::stop_unimplemented_fixed_effect(i);
    }
  }
}

// The equations that code_record will give a record read ahead, for hints only: 0 for an
// effect outside the model, absent, or with a value code_record would stop on (the hints skip
// it; code_record still stops when the record's turn comes). values: the record's values as
// read, before the drop of last levels, which is applied here as add_data_contributions does.
void peek_equations(const run_state& s, const rt::vec1<std::int32_t>& first, const double* values,
                    std::int32_t* eq) {
  const std::int32_t n = s.n_effects;
  const auto value = [&](std::int32_t i) {
    const double v = values[i - 1];
    return s.drop_last_level(i) != 0 && v == static_cast<double>(s.NLEV(i)) ? 0.0 : v;
  };
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t f = first(i);
    double x = 0.0;  // the equation as a real, 0 for none
    if (s.in_model(i) == 0) {
    } else if (s.fixed_effect_type(i) == 0) {
      const double v = value(i);
      if (v > 0.0) x = v - 1.0 + f;
      else if (v < 0.0) x = 0 - (v + 1.0) + f;
    } else if (s.fixed_effect_type(i) == 1) {
      const std::int32_t nest = s.NEST(i);
      if (nest == 0) x = f;
      else if (nest >= 1 && nest <= n - 1) x = value(nest) - 1.0 + f;
    }
    eq[i - 1] = x >= static_cast<double>(f) && x < static_cast<double>(f) + s.NLEV(i)
                    ? static_cast<std::int32_t>(x)
                    : 0;
  }
}

// Every ordered pair of the record's equations into WW, the observation into rhs and
// data_rhs. The upper triangle of these terms goes to equation_store too, but only once all
// records are in (add_data_contributions): its entries, their order within each row and their
// sums are those of WW's upper triangle.
void add_record_terms(run_state& s, double observation) {
  const std::int32_t n = s.n_effects;
  for (std::int32_t i = 1; i <= n; ++i) {
    if (s.in_model(i) == 0) continue;
    const std::int32_t ei = s.equation(i);
    if (ei == 0) continue;  // an absent effect adds nothing, not even to rhs
    // Row ei takes its terms in the order of k, up to eight at a time through one walk of the
    // row, as the calls one by one would.
    std::int32_t cols[8];
    double terms[8];
    std::size_t held = 0;
    for (std::int32_t k = 1; k <= n; ++k) {
      if (s.in_model(k) == 0) continue;
      const std::int32_t ek = s.equation(k);
      if (ek == 0) continue;
      const double t = (s.coefficient(i) / s.S2E0) * s.coefficient(k);
      s.WW.entry_value = t;
      cols[held] = ek;
      terms[held++] = t;
      if (held == 8) {
        num::add_row_entries(s.WW, ei, std::span<const std::int32_t>(cols, held),
                             std::span<const double>(terms, held), s.IER);
        held = 0;
      }
    }
    num::add_row_entries(s.WW, ei, std::span<const std::int32_t>(cols, held),
                         std::span<const double>(terms, held), s.IER);
    const double u = (observation * s.coefficient(i)) / s.S2E0;
    s.rhs(ei) += u;
    s.data_rhs(ei) += u;
  }
}

// Family terms of the TYPO-3 effect k: g_inverse(k,1,1) x RINV of every family on the
// diagonal block of its records, RINV the inverse of I + p_PAR x dam_link_matrix.
void add_family_terms(run_state& s, std::int32_t k, const rt::vec1<std::int32_t>& first) {
  const double g11 = s.g_inverse(k, 1, 1);
  std::int32_t b = first(k);
  for (std::int32_t g = 1; g <= s.n_families; ++g) {
    family_block& fb = s.family_block(g);
    const std::int32_t n = fb.n_records;
    if (fb.diagonal_only != 0) {  // the rest group: unit diagonal, never inverted
      for (std::int32_t l = 1; l <= n; ++l) {
        fb.residual_matrix(l) = 1.0;
        fb.residual_matrix(l) = fb.dam_link_matrix(l) * s.p_PAR + fb.residual_matrix(l);
        fb.RINV(l) = 1.0;
        num::add_entry(s.equation_store, b + l - 1, b + l - 1, g11 * fb.RINV(l), s.IER);
      }
    } else if (n > 0) {
      rt::col_view r = dense(fb.residual_matrix, n);
      rt::col_view link = dense(fb.dam_link_matrix, n);
      rt::col_view rinv = dense(fb.RINV, n);
      for (std::int32_t l = 1; l <= n; ++l) r(l, l) = 1.0;
      for (std::int32_t m = 1; m <= n; ++m)
        for (std::int32_t l = 1; l <= n; ++l) r(l, m) = link(l, m) * s.p_PAR + r(l, m);
      for (std::int64_t p = 1; p <= fb.RINV.size(); ++p) fb.RINV(p) = fb.residual_matrix(p);
      std::int32_t rank = 0;
      num::sym_ginverse(fb.RINV.data(), n, n, pivot_tolerance, rank);
      if (rank < n) {
        rt::stop_framed(rt::fixed_line()
                            .A("FATAL ERROR: RINV FOR FAMILY ", 30)
                            .I(g, 3)
                            .A(" IS NOT POSITIVE DEFINITE.", 27));
      }
      for (std::int32_t l = 1; l <= n; ++l)
        for (std::int32_t m = l; m <= n; ++m)
          num::add_entry(s.equation_store, b + l - 1, b + m - 1, g11 * rinv(l, m), s.IER);
    }
    b += n;
  }
}

}  // namespace

void add_data_contributions(run_state& s) {
  rt::text_out& con = rt::console();
  rt::write(con, {"STEP 2. FIXED EFFECTS CONTRIBUTIONS."});
  rt::write(con, {});

  const rt::vec1<std::int32_t> first = num::first_equations(s.n_effects, s.NLEV);
  const std::int32_t n = s.n_effects;
  const auto n_values = static_cast<std::size_t>(n);
  // Records are read a few places ahead of the one being added, into a ring, so that the
  // memory their terms will reach can be asked for in three steps: on reading, the rows'
  // heads in WW and the right-hand sides; halfway, what the heads lead to (head entries, table
  // cells); near the turn, the values. Each record's status is kept and acted on at its turn,
  // so the run reads, writes and stops as it would reading record by record.
  constexpr std::int64_t ahead = 8, mid = ahead / 2, near = ahead / 4;
  rt::vec1<double> queued_values(ahead * n);
  rt::vec1<std::int32_t> queued_equations(ahead * n);
  double queued_observation[ahead];
  int queued_status[ahead];
  std::int64_t n_read = 0;   // records read (or the end or a failure met) so far
  bool reading = true;
  const auto place = [&](std::int64_t k) { return static_cast<std::size_t>(k % ahead); };
  const auto equations_of = [&](std::int64_t k) {
    return std::span<const std::int32_t>(queued_equations.data() + place(k) * n_values, n_values);
  };
  const auto read_next = [&] {
    const std::size_t p = place(n_read);
    double* v = queued_values.data() + p * n_values;
    queued_status[p] = rt::read_with_status(s.dat1_file, {std::span<double>(v, n_values),
                                                          queued_observation[p]});
    if (queued_status[p] == rt::read_ok) {
      peek_equations(s, first, v, queued_equations.data() + p * n_values);
      num::sparse_prefetch_rows(s.WW, equations_of(n_read));
      for (std::int32_t e : equations_of(n_read)) {  // the right-hand sides the record adds to
        if (e == 0) continue;
        rt::prefetch_write(s.rhs.data() + (e - 1));
        rt::prefetch_write(s.data_rhs.data() + (e - 1));
      }
    } else {
      reading = false;         // nothing is read after the end or a failure
    }
    ++n_read;
  };
  const auto hint = [&](std::int64_t k, bool values) {
    if (k >= n_read || queued_status[place(k)] != rt::read_ok) return;
    const std::span<const std::int32_t> eqs = equations_of(k);
    for (std::int32_t e : eqs) {
      if (values) num::sparse_prefetch_values(s.WW, e, eqs);
      else num::sparse_prefetch_entries(s.WW, e, eqs);
    }
  };
  while (reading && n_read < ahead) read_next();

  double observation = 0.0;
  std::int32_t count = 0;
  std::int32_t next_progress = 1000;
  for (std::int64_t taken = 0;; ++taken) {
    const std::size_t p = place(taken);
    const int status = queued_status[p];
    if (status == rt::read_end_of_file) break;
    if (status != rt::read_ok) {
      rt::write(con, {"BEWARE! ERROR IN LINE", count});
      rt::write(con, {});
      rt::stop("FATAL ERROR: EXECUTION STOPPED", rt::exit_error);
    }
    for (std::int32_t i = 1; i <= n; ++i)
      s.record_value(i) = queued_values(static_cast<std::int64_t>(p) * n + i);
    observation = queued_observation[p];
    if (reading) read_next();  // into the place just emptied
    hint(taken + mid, false);
    hint(taken + near, true);
    ++count;
    if (count == next_progress) {
      rt::put(con, rt::fixed_line().I(count, 9).X(2).A("RECORDS READ", 12));
      next_progress += 1000;
    }
    for (std::int32_t i = 1; i <= n; ++i)  // every effect before any is coded
      if (s.drop_last_level(i) != 0 && s.record_value(i) == static_cast<double>(s.NLEV(i)))
        s.record_value(i) = 0.0;
    code_record(s, first, count);
    add_record_terms(s, observation);
  }
  // equation_store has received nothing before this step, and each of its terms would have
  // followed the same term of WW: WW fills up first, and the copy cannot run out of room.
  s.IER = num::sparse_add_upper(s.WW, s.equation_store, 0, con);
  if (s.IER == 701 || s.IER == 702) rt::stop("", rt::exit_error);

  rt::write(con, {});
  rt::write(con, {"RECORDS IN DATA FILE:", count});
  rt::write(con, {});
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
      case 1:
        if (s.in_model(k) != 0) {
          const double g11 = s.g_inverse(k, 1, 1);
          for (std::int32_t e = first(k); e <= first(k) + s.NLEV(k) - 1; ++e)
            num::add_entry(s.equation_store, e, e, g11, s.IER);
        }
        break;
      case 2: {
        num::pedigree_pass_input in;
        in.effect = k;
        in.n_pedigree = s.n_pedigree;
        in.progress_interval = 1000;
        in.fill_relationship_inverse = !relationship_filled;  // GMAT holds A-inverse once
        num::pedigree_pass(in, s.NLEV, s.CORR, s.g_inverse, s.equation_store, s.GMAT);
        relationship_filled = true;
        break;
      }
      case 3:
        add_family_terms(s, k, first);
        break;
      default:
        rt::write(con, {"UNIMPLEMENTED RANDOM EFFECT", s.TYPO(k)});
        rt::write(con, {});
        rt::stop("FATAL ERROR: EXECUTION STOPPED", rt::exit_error);
    }
  }
}

}  // namespace tav

// One sampling round of zumek_ro: the chain line, the rebuild of the data part of the
// equations at current_p_par, the draw of current_s2e0, the block bookkeeping and the
// single-site draw of every location effect; then the p_PAR draw and the (co)variance draws.
#include "zumek_ro/sample_round.hpp"

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "numeric/block_bookkeeping.hpp"
#include "numeric/chain_record.hpp"
#include "numeric/grid_draw.hpp"
#include "numeric/random_variates.hpp"
#include "numeric/sparse_store.hpp"
#include "numeric/sym_ginverse.hpp"
#include "runtime/prefetch.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/data_prep.hpp"
#include "zumek_ro/family_classes.hpp"
#include "zumek_ro/family_terms.hpp"

namespace ro {

namespace {

[[noreturn]] void stop_with_line(std::string_view text, std::int32_t n) {
  rt::write(rt::console(), {text, n});
  rt::stop("", rt::exit_error);
}

// A block's equation q (not 0) renumbered past the equations dropped in STEP 4; -1 when q
// lies outside the equations before the drop.
std::int32_t renumbered_equation(const run_state& s, std::int32_t q) {
  if (q < 0 || q > s.shift.size()) return -1;
  return q - s.shift(q);
}

// Round 1's renumbering of block b's equations.
void renumber_block_equations(const run_state& s, family_block& b) {
  for (std::int32_t j = 1; j <= b.n_records; ++j)
    for (std::int32_t k = 1; k <= s.n_effects; ++k) {
      const std::int32_t q = b.equation(k, j);
      if (q == 0) continue;
      const std::int32_t renumbered = renumbered_equation(s, q);
      if (renumbered < 0) stop_with_line("BEWARE! EQUATION OUT OF RANGE IN EFFECT", k);
      b.equation(k, j) = renumbered;
    }
}

// Step 1 to 4 of a block's rebuild: its matrices at p, the residual matrix I + p x links and
// RINV, the generalised inverse of an ordinary family (rank not tested) or the copy of the
// matrix in the rest group. With renumber (round 1) the block's equations are renumbered first.
void rebuild_family_matrices(run_state& s, std::int32_t f, family_block& b, bool rest,
                             bool renumber, double p) {
  const std::int32_t n = b.n_records;
  if (renumber) renumber_block_equations(s, b);
  for (std::int32_t j = 1; j <= n; ++j) b.residual(j) = 0.0;
  if (rest) {
    for (std::int32_t i = 1; i <= n; ++i) {
      b.rest_residual_diag(i) = 1.0;
      b.rest_rinv_diag(i) = 1.0;
    }
    for (std::int32_t l = 1; l <= b.n_links; ++l) {
      b.rest_residual_link(l) = p;
      b.rest_rinv_link(l) = p;
    }
    return;
  }
  double* R = b.residual_matrix.data();
  double* W = b.RINV.data();
  const std::int64_t nn = static_cast<std::int64_t>(n) * n;
  fill_residual_matrix(b, p, R);
  const std::int32_t c = class_of(s, f);
  if (c > 0) {   // inverted once for the whole class, this round
    const double* C = s.class_rinv.data() + s.class_start(c);
    for (std::int64_t k = 0; k < nn; ++k) W[k] = C[k];
    return;
  }
  for (std::int64_t k = 0; k < nn; ++k) W[k] = R[k];
  if (n > 0) {
    std::int32_t rank = 0;
    num::sym_ginverse(W, n, n, 1.0E-12, rank);
  }
}

// Steps 6 and 7: the block's residuals at the sample of the previous round and its term
// residual' RINV residual, added term by term to residual_ss (i outer, j inner).
void add_family_residuals(run_state& s, family_block& b, bool rest) {
  const std::int32_t n = b.n_records;
  const std::int32_t ne = s.n_effects;
  for (std::int32_t j = 1; j <= n; ++j) {
    double sum = 0.0;
    for (std::int32_t k = 1; k <= ne; ++k) {
      const std::int32_t q = b.equation(k, j);
      if (q != 0) sum = sum + b.coefficient(k, j) * s.sample(q);
    }
    b.residual(j) = b.observation(j) - sum;
  }
  double ss = s.residual_ss;
  if (rest) {
    // The rest group's RINV is the identity plus its links; its zero elements add nothing.
    for (std::int32_t i = 1; i <= n; ++i) {
      const double ri = b.residual(i);
      const std::int32_t end = b.link_row_start(i + 1);
      std::int32_t k = b.link_row_start(i);
      for (; k < end && b.link_partner(k) < i; ++k)    // partners before i, ascending
        ss = ss + b.residual(b.link_partner(k)) * ri * b.rest_rinv_link(b.link_partner_pair(k));
      ss = ss + ri * ri * b.rest_rinv_diag(i);
      for (; k < end; ++k)                               // partners after i
        ss = ss + b.residual(b.link_partner(k)) * ri * b.rest_rinv_link(b.link_partner_pair(k));
    }
  } else {
    for (std::int32_t i = 1; i <= n; ++i) {
      const double ri = b.residual(i);
      for (std::int32_t j = 1; j <= n; ++j) ss = ss + b.residual(j) * ri * b.RINV(i, j);
    }
  }
  s.residual_ss = ss;
}

// How many terms ahead the replay of the data store asks for the value a term will update.
constexpr std::int64_t replay_prefetch_distance = 32;

// The number of store terms of a rebuild, in the equation numbers the blocks hold now (the
// first round renumbers them as it goes, which keeps their order, so the count stands): a
// size for the list of their slots.
std::int64_t count_terms(const run_state& s) {
  const std::int32_t ne = s.n_effects;
  std::int64_t count = 0;
  for (const family_block& b : s.family) {
    const std::int32_t n = b.n_records;
    for (std::int32_t i = 1; i <= ne; ++i)
      for (std::int32_t l = 1; l <= n; ++l) {
        const std::int32_t a = b.equation(i, l);
        if (a == 0) continue;
        const std::int32_t m_first = b.is_rest_group ? l : 1;
        const std::int32_t m_last = b.is_rest_group ? l : n;
        for (std::int32_t k = 1; k <= ne; ++k)
          for (std::int32_t m = m_first; m <= m_last; ++m) {
            const std::int32_t c = b.equation(k, m);
            if (c != 0 && a <= c) ++count;
          }
      }
  }
  return count;
}

// Turns counts into the places (from 0) where each one's run starts: a running sum of the
// counts before it.
void counts_to_starts(rt::vec1<std::int32_t>& v) {
  std::int32_t placed = 0;
  for (std::int64_t k = 1; k <= v.size(); ++k) {
    const std::int32_t count = v(k);
    v(k) = placed;
    placed += count;
  }
}

// Where block f's weights sit in rinv_flat: the classes' inverses first, then each family
// inverted on its own, then the rest group. Returns the length of rinv_flat.
std::int64_t lay_out_weights(run_state& s) {
  const std::int32_t nf = s.n_families;
  std::int64_t total = s.class_start(static_cast<std::int64_t>(s.n_classes) + 1);
  s.family_rinv_offset.assign(nf, 0);
  for (std::int32_t f = 1; f <= nf; ++f) {
    const std::int64_t n = s.family[static_cast<std::size_t>(f - 1)].n_records;
    const std::int32_t c = f < nf ? class_of(s, f) : 0;
    if (c > 0) {
      s.family_rinv_offset(f) = s.class_start(c);
    } else {
      s.family_rinv_offset(f) = total;
      total += f < nf ? n * n : n;
    }
  }
  return total;
}

// Compiles the recorded terms (term_slot, in the slots of the finished store) into term_factor
// and term_source, put in slot order by a count of the terms at each slot (a stable sort, so
// that a slot's terms keep their order), and releases term_slot. Compiles nothing when the
// memory for it is not there, or when a place would not fit term_source: the rounds then
// replay term_slot.
void compile_terms(run_state& s) {
  const std::int32_t nf = s.n_families;
  const std::int32_t ne = s.n_effects;
  const std::int64_t n_terms = s.n_terms;
  const num::sparse_store& D = s.data_store;
  const std::int64_t nnz = static_cast<std::int64_t>(D.row_start(std::int64_t{D.order} + 1)) - 1;
  const std::int64_t weights = lay_out_weights(s);
  constexpr std::int64_t most = 2147483647;
  const double bytes = 12.0 * static_cast<double>(n_terms) + 4.0 * static_cast<double>(nnz) +
                       8.0 * static_cast<double>(weights);
  if (weights >= most || n_terms >= most || nnz < 0 ||
      bytes > static_cast<double>(rt::memory_limit() - rt::memory_held())) {
    s.family_rinv_offset.release();
    return;
  }
  s.rinv_flat.assign(weights, 0.0);
  // next(k): at first the number of terms at slot k, then the place (from 0) of the next of
  // them in the compiled list; after the fill, where slot k's terms end.
  rt::vec1<std::int32_t> next;
  next.assign(nnz, 0);
  for (std::int64_t t = 1; t <= n_terms; ++t) {
    const std::int32_t k = s.term_slot(t) < 0 ? -s.term_slot(t) : s.term_slot(t);
    if (k < 1 || k > nnz) rt::internal_error("recorded term outside the finished store");
    next(k) += 1;
  }
  counts_to_starts(next);
  s.term_factor.resize_for_overwrite(n_terms);
  s.term_source.resize_for_overwrite(n_terms);
  std::int64_t t = 0;
  for (std::int32_t f = 1; f <= nf; ++f) {
    const family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    const std::int64_t offset = s.family_rinv_offset(f);
    for_each_store_term(b, ne, [&](std::int32_t, std::int32_t, double factor, std::int64_t w) {
      if (++t > n_terms) rt::internal_error("more terms than recorded");
      const std::int32_t slot = s.term_slot(t);
      const std::int32_t at = (slot < 0 ? -slot : slot);
      const std::int32_t place = static_cast<std::int32_t>(offset + w + 1);
      const std::int64_t pos = std::int64_t{next(at)} + 1;
      next(at) += 1;
      s.term_factor(pos) = factor;
      s.term_source(pos) = slot < 0 ? -place : place;
    });
  }
  if (t != n_terms) rt::internal_error("fewer terms than recorded");
  // Each slot's terms in their order: the one that set the slot first, the ones that added to it
  // after; the replay relies on it.
  for (std::int64_t k = 1; k <= nnz; ++k) {
    const std::int64_t first = k > 1 ? next(k - 1) : 0;
    if (next(k) <= first || s.term_source(first + 1) > 0)
      rt::internal_error("compiled terms out of step with the store");
    for (std::int64_t pos = first + 2; pos <= next(k); ++pos)
      if (s.term_source(pos) < 0) rt::internal_error("compiled terms out of step with the store");
  }
  s.term_slot.release();
  s.terms_compiled = true;
}

// Round 1's store, laid out and compiled without SBSIJ. The finished store that SBSIJ calls
// for the store terms in term order, then sparse_finish, leave depends only on each row's
// terms in their order: rows in row order, each row's columns in the order they first arrive.
// So the terms are put in row order by a count of each row's terms (a stable sort: a row's
// terms keep their order), and one pass along each row gives a column its slot at its first
// term. A row's slots follow one another, so the compiled list (the terms in slot order, a
// slot's terms in their own order) holds each row's terms at the places the row order gave
// them: each row is put in slot order where it stands. This reads the rows one after another
// where SBSIJ looks every term up in a chain, and compile_terms sorts every term again.
// On return the store is finished with its values left at zero for the compiled replay to
// write, the terms are compiled and the blocks' equations renumbered.
// Returns false when the SBSIJ path must run instead, with nothing of the store changed: the
// store is not fresh, an equation is out of range (that path stops with its message), the
// entries would not fit NZ (it stops with SBSIJ's), a count would not fit 31 bits, or the
// memory is not there. The renumbering is done as soon as every equation is known to be in
// range, and equations_renumbered set, so that the SBSIJ path does not do it again.
bool lay_out_compiled_store(run_state& s) {
  num::sparse_store& D = s.data_store;
  const std::int32_t ne = s.n_effects;
  const std::int32_t nf = s.n_families;
  const std::int32_t neq = s.n_equations;
  if (!s.data_store_empty || s.equations_renumbered || s.terms_compiled || D.order != neq ||
      D.NZ < 1 || D.column.size() != D.NZ || D.row_start.size() != std::int64_t{neq} + 1)
    return false;
  for (const family_block& b : s.family)
    for (std::int32_t j = 1; j <= b.n_records; ++j)
      for (std::int32_t k = 1; k <= ne; ++k) {
        const std::int32_t q = b.equation(k, j);
        if (q == 0) continue;
        const std::int32_t renumbered = renumbered_equation(s, q);
        if (renumbered < 0 || renumbered > neq) return false;
      }
  for (family_block& b : s.family) renumber_block_equations(s, b);
  s.equations_renumbered = true;

  const std::int64_t n_terms = count_terms(s);
  const std::int64_t weights = lay_out_weights(s);
  constexpr std::int64_t most = 2147483647;
  const double bytes = 16.0 * static_cast<double>(n_terms) + 8.0 * static_cast<double>(weights) +
                       8.0 * (static_cast<double>(neq) + 1.0);
  if (n_terms >= most || weights >= most ||
      bytes > static_cast<double>(rt::memory_limit() - rt::memory_held())) {
    s.family_rinv_offset.release();
    return false;
  }

  // row_end(a): at first the number of row a's terms, then the place (from 0) of the row's
  // next term; after the placing, where row a's terms end.
  rt::vec1<std::int32_t> row_end;
  row_end.assign(neq, 0);
  for (const family_block& b : s.family)
    for_each_store_term(b, ne, [&](std::int32_t a, std::int32_t, double, std::int64_t) {
      row_end(a) += 1;
    });
  counts_to_starts(row_end);
  // In row order: the column of the term at place p, its coefficient product and the place of
  // its weight in rinv_flat.
  rt::vec1<std::int32_t> column_at;
  column_at.resize_for_overwrite(n_terms);
  s.term_factor.resize_for_overwrite(n_terms);
  s.term_source.resize_for_overwrite(n_terms);
  for (std::int32_t f = 1; f <= nf; ++f) {
    const std::int64_t offset = s.family_rinv_offset(f);
    for_each_store_term(s.family[static_cast<std::size_t>(f - 1)], ne,
                        [&](std::int32_t a, std::int32_t c, double factor, std::int64_t w) {
                          const std::int32_t p = ++row_end(a);
                          column_at(p) = c;
                          s.term_factor(p) = factor;
                          s.term_source(p) = static_cast<std::int32_t>(offset + w + 1);
                        });
  }

  // met(c): the last row whose terms met column c (counting), then column c's slot.
  rt::vec1<std::int32_t> met;
  met.assign(neq, 0);
  std::int64_t entries = 0;
  for (std::int32_t a = 1, p = 0; a <= neq; ++a)
    for (const std::int32_t end = row_end(a); p < end;) {
      const std::int32_t c = column_at(++p);
      if (met(c) != a) {
        met(c) = a;
        ++entries;
      }
    }
  if (entries > D.NZ) {
    s.term_factor.release();
    s.term_source.release();
    s.family_rinv_offset.release();
    return false;
  }

  // Slots from 1 up, row after row; a column met before in this row has a slot at or above
  // the row's first. column_at(p) becomes the slot of the term at p, minus it for a first term.
  // Then the row's terms go to slot order through the row's own counts (staged in order_*).
  for (std::int32_t c = 1; c <= neq; ++c) met(c) = 0;
  std::vector<std::int32_t> slot_next;
  std::vector<double> order_factor;
  std::vector<std::int32_t> order_source;
  std::int32_t next = 0;
  for (std::int32_t a = 1, p = 0; a <= neq; ++a) {
    const std::int32_t row_first = next + 1;
    const std::int32_t begin = p;
    D.row_start(a) = row_first;
    for (const std::int32_t end = row_end(a); p < end;) {
      const std::int32_t c = column_at(++p);
      const std::int32_t k = met(c);
      if (k >= row_first) {
        column_at(p) = k;
      } else {
        met(c) = ++next;
        D.column(next) = c;
        column_at(p) = -next;
      }
    }
    const std::int32_t n_row = p - begin;
    const std::int32_t n_slots = next - row_first + 1;
    if (n_slots == n_row) {   // no column twice: row order is slot order, every term a first
      for (std::int32_t q = begin + 1; q <= p; ++q) s.term_source(q) = -s.term_source(q);
      continue;
    }
    if (slot_next.size() < static_cast<std::size_t>(n_slots) + 1)
      slot_next.resize(static_cast<std::size_t>(n_slots) + 1);
    for (std::size_t i = 0; i <= static_cast<std::size_t>(n_slots); ++i) slot_next[i] = 0;
    for (std::int32_t q = begin + 1; q <= p; ++q) {
      const std::int32_t k = column_at(q) < 0 ? -column_at(q) : column_at(q);
      slot_next[static_cast<std::size_t>(k - row_first) + 1] += 1;
    }
    for (std::size_t i = 1; i <= static_cast<std::size_t>(n_slots); ++i) slot_next[i] += slot_next[i - 1];
    if (order_factor.size() < static_cast<std::size_t>(n_row)) {
      order_factor.resize(static_cast<std::size_t>(n_row));
      order_source.resize(static_cast<std::size_t>(n_row));
    }
    for (std::int32_t q = begin + 1; q <= p; ++q) {
      const std::int32_t k = column_at(q);
      const std::size_t at = static_cast<std::size_t>(slot_next[static_cast<std::size_t>((k < 0 ? -k : k) - row_first)]++);
      order_factor[at] = s.term_factor(q);
      order_source[at] = k < 0 ? -s.term_source(q) : s.term_source(q);
    }
    for (std::int32_t q = begin + 1; q <= p; ++q) {
      s.term_factor(q) = order_factor[static_cast<std::size_t>(q - begin - 1)];
      s.term_source(q) = order_source[static_cast<std::size_t>(q - begin - 1)];
    }
  }
  D.row_start(std::int64_t{neq} + 1) = next + 1;
  D.fill_index.long_id.release();
  s.rinv_flat.assign(weights, 0.0);
  s.term_slot.release();
  s.n_terms = n_terms;
  s.terms_recorded = true;
  s.terms_compiled = true;
  s.data_store_empty = false;
  return true;
}

// Copies block f's weights of this round into rinv_flat, unless they are its class's.
void copy_own_weights(run_state& s, std::int32_t f, const family_block& b, bool rest) {
  if (!rest && class_of(s, f) > 0) return;
  const rt::vec1<double>& from = rest ? b.rest_rinv_diag : b.RINV.d;
  const std::int64_t offset = s.family_rinv_offset(f);
  const std::int64_t n = rest ? b.n_records : std::int64_t{b.n_records} * b.n_records;
  for (std::int64_t k = 1; k <= n; ++k) s.rinv_flat(offset + k) = from(k);
}

// Writes the store's values from the compiled terms, front to back: a slot's first term sets
// it, each further term adds to it (the new value plus the old, as SBSIJ adds).
void replay_compiled_terms(run_state& s) {
  const std::int64_t n = s.n_terms;
  if (n == 0) return;
  const double* factor = s.term_factor.data();
  const std::int32_t* source = s.term_source.data();
  const double* weight = s.rinv_flat.data() - 1;    // place p at weight[p]
  double* value = s.data_store.value.data() - 1;    // slot k at value[k]
  // The slot's value is summed in a register and stored once the next slot starts: the same
  // additions in the same order, without each one waiting for the store of the one before.
  std::int64_t k = 1;
  double sum = factor[0] * weight[-source[0]];    // the first term starts slot 1
  for (std::int64_t j = 1; j < n; ++j) {
    const std::int32_t p = source[j];
    if (p < 0) {
      value[k++] = sum;
      sum = factor[j] * weight[-p];
    } else {
      sum = factor[j] * weight[p] + sum;
    }
  }
  value[k] = sum;
}

}  // namespace

void size_round_work(run_state& s) {
  if (s.round_work_sized) return;
  const std::int32_t ne = s.n_effects;
  const std::int32_t ng = s.n_grid_points > 0 ? s.n_grid_points : 0;
  const std::int32_t neq = s.n_equations;
  s.QFORM.resize(ne, 2, 2);
  s.log_likelihood.assign(ng, 0.0);
  s.log_det_sum.assign(ng, 0.0);
  s.family_log_det.assign(ng, 0.0);
  s.CDF.assign(ng, 0.0);
  num::size_block_bookkeeping(ne, s.effect_offset, s.block_start, s.block_offset,
                              s.block_ginv_row);
  s.work_rhs.assign(neq, 0.0);
  s.lower_sum.assign(neq, 0.0);
  s.round_rhs.assign(neq, 0.0);
  s.packed_factor.assign(3, 0.0);
  s.packed_draw.assign(3, 0.0);
  s.NEWG.resize(ne, 2, 2);
  num::sparse_create(s.data_store, neq, s.NZ);
  s.data_store_empty = true;
  s.terms_recorded = false;
  if (s.sample.size() < neq) rt::internal_error("sample shorter than the equations");
  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    if (b.link_row_start.size() != static_cast<std::int64_t>(b.n_records) + 1)
      find_linked_pairs(b, ne);
  }
  form_family_classes(s);
  s.round_work_sized = true;
}

void write_chain_record(run_state& s) {
  const std::int32_t ne = s.n_effects;
  const double values[6] = {s.current_s2e0,     s.current_p_par,    s.G(ne - 2, 1, 1),
                            s.G(ne - 1, 1, 1), s.G(ne - 1, 2, 1), s.G(ne - 1, 2, 2)};
  num::write_chain_line(s.chain_file, values);
}

void fill_coarse_grid(run_state& s) {
  num::fill_coarse_grid(s.grid, s.n_grid_points, s.coarse_grid_start, s.coarse_grid_step);
}

void rebuild_data_part(run_state& s, std::int32_t ROUND, bool literal) {
  const std::int32_t ne = s.n_effects;
  const std::int32_t nf = s.n_families;
  const double p = s.current_p_par;
  num::sparse_store& D = s.data_store;
  rt::vec1<double>& rhs = s.round_rhs;
  bool record = literal || ROUND == 1 || !s.terms_recorded;

  for (std::int32_t q = 1; q <= s.n_equations; ++q) rhs(q) = 0.0;
  s.residual_ss = 0.0;
  invert_classes(s, p);
  auto rhs_at = [&rhs](std::int32_t a) -> double& { return rhs(a); };

  // Round 1 lays out the store's structure from the terms, compiles them, and writes its values
  // as the later rounds do; the literal rounds and the replay by slots go through SBSIJ.
  if (record && !literal && !s.replay_by_slots && lay_out_compiled_store(s)) record = false;
  const bool renumber = ROUND == 1 && !s.equations_renumbered;

  if (!record && s.terms_compiled) {
    // The finished structure stands from the recording round: the blocks' weights of this
    // round go to rinv_flat, and the compiled terms write the values.
    for (std::int64_t k = 1; k <= s.class_start(std::int64_t{s.n_classes} + 1); ++k)
      s.rinv_flat(k) = s.class_rinv(k);
    for (std::int32_t f = 1; f <= nf; ++f) {
      family_block& b = s.family[static_cast<std::size_t>(f - 1)];
      const bool rest = f == nf;
      if (f + family_prefetch_distance <= nf)
        prefetch_family(s.family[static_cast<std::size_t>(f + family_prefetch_distance - 1)]);
      if (f + family_equations_distance < nf) {   // not the rest group
        const std::int32_t ahead = f + family_equations_distance;
        prefetch_family_equations(s.family[static_cast<std::size_t>(ahead - 1)], s.sample.data(),
                                  rhs.data(), rhs.size());
      }
      rebuild_family_matrices(s, f, b, rest, renumber, p);
      copy_own_weights(s, f, b, rest);
      add_rhs_terms(b, ne, rhs_at);
      add_family_residuals(s, b, rest);
    }
    replay_compiled_terms(s);
    return;
  }

  if (!record) {
    // Replay term by term in term order: the finished structure stands from the recording
    // round; only values change.
    std::int64_t t = 0;
    const std::int64_t n_terms = s.n_terms;
    // slot[t], t = 1 .. n_terms; value[k], k = 1 .. NZ. With no record at all both are
    // empty, their storage null, and not one term is replayed: offset no null pointer.
    std::int32_t* slot = s.term_slot.size() > 0 ? s.term_slot.data() - 1 : nullptr;
    double* value = D.value.size() > 0 ? D.value.data() - 1 : nullptr;
    for (std::int32_t f = 1; f <= nf; ++f) {
      family_block& b = s.family[static_cast<std::size_t>(f - 1)];
      const bool rest = f == nf;
      rebuild_family_matrices(s, f, b, rest, renumber, p);
      for_each_family_term(
          b, ne,
          [&](std::int32_t, std::int32_t, double x) {
            const std::int32_t k = slot[++t];
            // The slots jump about the store: ask for the value of a term some way ahead
            // now, so that its cache miss overlaps the work of the terms in between.
            if (t + replay_prefetch_distance <= n_terms) {
              const std::int32_t ahead = slot[t + replay_prefetch_distance];
              __builtin_prefetch(value + (ahead < 0 ? -ahead : ahead), 1);
            }
            if (k < 0)
              value[-k] = x;                       // first term at the slot sets it
            else
              value[k] = x + value[k];             // as SBSIJ adds: new value plus old
          },
          rhs_at);
      add_family_residuals(s, b, rest);
    }
    if (t != n_terms) rt::internal_error("data store replay out of step");
    return;
  }

  // Literal rebuild through SBSIJ. Each term's slot is noted as it goes in (minus the slot
  // when the term is the first at it), and the finishing turns those linked-form slots into
  // the slots of the finished store, which later rounds replay.
  // A store fresh from sparse_create is what sparse_init would make of it: clearing its NZ
  // slots again would only bring all their pages into memory.
  if (!s.data_store_empty) num::sparse_init(D);
  s.data_store_empty = false;
  // term_slot(t): the linked-form slot of term t, -k when the term is the first at slot k.
  // Sized from a count of the terms beforehand so that the list is not regrown as it fills.
  std::int64_t t = 0;
  if (s.term_slot.size() < 1) s.term_slot.assign(count_terms(s) + 1, 0);
  rt::text_out& con = rt::console();
  for (std::int32_t f = 1; f <= nf; ++f) {
    family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    const bool rest = f == nf;
    rebuild_family_matrices(s, f, b, rest, renumber, p);
    for_each_family_term(
        b, ne,
        [&](std::int32_t a, std::int32_t c, double x) {
          const std::int32_t k = num::SBSIJ_slot(D, a, c, x, 5, 0, con, s.IER);
          if (s.IER == 701 || s.IER == 702) rt::stop("", rt::exit_error);
          if (++t > s.term_slot.size()) s.term_slot.resize(2 * t, 0);
          s.term_slot(t) = s.IER == 0 ? -k : k;
        },
        rhs_at);
    add_family_residuals(s, b, rest);
  }
  num::sparse_finish(D, std::span<std::int32_t>(s.term_slot.data(), static_cast<std::size_t>(t)));
  s.n_terms = t;
  s.terms_recorded = true;
  if (ROUND == 1) s.equations_renumbered = true;
  if (!s.terms_compiled && !s.replay_by_slots) compile_terms(s);
}

void draw_residual_variance(run_state& s) {
  const double df = s.NRDF + s.residual_prior_df;
  const double scale = (s.residual_prior_df + 1.0) * s.S2E0 + s.residual_ss;
  const double x = num::rand_scaled_inv_chisq(df, scale, s.seed);
  if (x > 200000.0) rt::stop(" BEWARE! S2E0 SAMPLE VALUE TOO BIG!", rt::exit_error);
  // A draw that is not a finite positive number would poison every later round.
  if (!(std::isfinite(x) && x > 0.0))
    rt::stop(" BEWARE! S2E0 SAMPLE VALUE IS NOT A FINITE POSITIVE NUMBER!", rt::exit_error);
  s.current_s2e0 = x;
}

void build_block_bookkeeping(run_state& s) {
  for (std::int32_t i = 1; i <= s.n_equations; ++i) {
    s.work_rhs(i) = s.round_rhs(i);
    s.lower_sum(i) = 0.0;
  }
  num::build_block_bookkeeping(s.n_effects, s.remaining_levels, s.CORR, s.g_inverse,
                               s.effect_offset, s.block_start, s.block_offset, s.block_ginv_row);
}

void sweep_location_effects(run_state& s) {
  const std::int32_t ne = s.n_effects;
  const num::sparse_store& D = s.data_store;
  const num::sparse_store& A = s.AMAT;
  rt::vec1<double>& sample = s.sample;
  rt::vec1<double>& lower_sum = s.lower_sum;
  const double s2e0 = s.current_s2e0;
  // The rows come in increasing order, so entry k + ahead of the store is in this row or a
  // later one: its column's elements of sample and lower_sum, scattered over vectors far larger
  // than the cache on big data, are asked for that many entries ahead, and the gather below
  // and the scatter after the draw find them in cache. (Anything asked for out of turn only
  // costs a fetch.)
  constexpr std::int32_t ahead = 64;
  const std::int32_t* const column_at = D.column.data() - 1;   // 1-based views
  const double* const sample_at = sample.data() - 1;
  double* const lower_sum_at = lower_sum.data() - 1;
  const std::int32_t last_entry = D.row_start(D.order + 1);      // one past the last
  const std::int32_t* const pedigree_column_at =
      A.column.size() > 0 ? A.column.data() - 1 : nullptr;
  const std::int32_t last_pedigree_entry = A.order > 0 ? A.row_start(A.order + 1) : 0;

  for (std::int32_t e = 1; e <= ne; ++e) {
    const std::int32_t levels = s.remaining_levels(e);
    if (levels <= 0) continue;
    const std::int32_t offset = s.effect_offset(e);
    const std::int32_t typo = s.TYPO(e);
    if (typo < 0 || typo > 2) stop_with_line("UNIMPLEMENTED RANDOM EFFECT", typo);
    const std::int32_t b = s.block_start(e);
    if (typo == 2 && b != 0) {
      // The level is the pedigree member's number, and the terms of every member of the block
      // must land on equations of the system.
      if (levels > A.order) stop_with_line("MORE LEVELS THAN PEDIGREE MEMBERS IN EFFECT", e);
      for (std::int32_t c = 1; c <= s.CORR(b); ++c)
        if (static_cast<std::int64_t>(s.block_offset(e, c, 2)) + A.order > s.n_equations)
          stop_with_line("PEDIGREE TERMS BEYOND THE LAST EQUATION IN EFFECT", e);
    }
    const double ginv11 = s.g_inverse(e, 1, 1);

    for (std::int32_t l = 1; l <= levels; ++l) {
      const std::int32_t i = offset + l;
      double w = s.work_rhs(i) - lower_sum(i);
      double d = 0.0;
      const std::int32_t row_end = D.row_start(i + 1);
      for (std::int32_t k = D.row_start(i); k < row_end; ++k) {
        if (k + ahead < last_entry) {
          const std::int32_t c = column_at[k + ahead];
          rt::prefetch_read(sample_at + c);
          rt::prefetch_write(lower_sum_at + c);
        }
        const std::int32_t c = D.column(k);
        if (c == i)
          d = D.value(k);
        else
          w = w - D.value(k) * sample(c);
      }
      switch (typo) {
        case 0:
          d = d + s2e0 / 1.0E7;
          break;
        case 1:
          d = d + s2e0 * ginv11;
          break;
        default: {  // 2
          if (b == 0) break;  // a pedigree effect outside any block has no prior term
          const std::int32_t p = i - s.block_offset(e, 1, 1);
          for (std::int32_t c = 1; c <= s.CORR(b); ++c) {
            const std::int32_t base = s.block_offset(e, c, 2);
            const double gi = s.block_ginv_row(e, c, 1);
            for (std::int32_t k = A.row_start(p); k < A.row_start(p + 1); ++k) {
              // The members come in increasing order too: this block's element of sample
              // at the column of entry k + ahead of A is asked for as the store's are.
              if (k + ahead < last_pedigree_entry)
                rt::prefetch_read(sample_at + base + pedigree_column_at[k + ahead]);
              const std::int32_t q = base + A.column(k);
              const double f = A.value(k) * s2e0 * gi;
              if (q == i)
                d = d + f;
              else
                w = w - f * sample(q);
            }
          }
          break;
        }
      }
      s.work_rhs(i) = w;
      sample(i) = w / d;
      const double z = num::rand_normal(s.seed);
      sample(i) = sample(i) + z / std::sqrt(d / s2e0);
      const double x = sample(i);
      for (std::int32_t k = D.row_start(i); k < row_end; ++k) {
        const std::int32_t c = D.column(k);
        lower_sum(c) = lower_sum(c) + D.value(k) * x;
      }
    }
  }
}

void sample_round(run_state& s, std::int32_t ROUND) {
  size_round_work(s);
  write_chain_record(s);
  fill_coarse_grid(s);
  rebuild_data_part(s, ROUND);
  draw_residual_variance(s);
  build_block_bookkeeping(s);
  sweep_location_effects(s);
  draw_p_par(s, ROUND);
  draw_variances(s, ROUND);
}

}  // namespace ro

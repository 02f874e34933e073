// One sampling round of zumek_tav: the chain line, the coarse grid, the block bookkeeping and
// the single-site draw of every location effect; then the p_PAR draw and the variance draws.
#include "zumek_tav/sample_round.hpp"

#include <cmath>

#include "numeric/block_bookkeeping.hpp"
#include "numeric/chain_record.hpp"
#include "numeric/grid_draw.hpp"
#include "numeric/random_variates.hpp"
#include "runtime/prefetch.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_tav/family_classes.hpp"
#include "zumek_tav/grid_draw.hpp"
#include "zumek_tav/run_state.hpp"

namespace tav {

void size_round_work(run_state& s) {
  round_work& w = s.round;
  if (w.sized) return;
  // The chain line and the variance draws address the last four effects.
  if (s.n_effects < 4)
    rt::stop("BEWARE! AT LEAST FOUR EFFECTS ARE NEEDED FOR THE SAMPLER", rt::exit_error);
  const std::int32_t ne = s.n_effects;
  const std::int32_t ng = s.n_grid_points > 0 ? s.n_grid_points : 0;
  w.QFORM.resize(ne, 2, 2);
  w.log_likelihood.assign(ng, 0.0);
  w.log_det_sum.assign(ng, 0.0);
  w.family_log_det.assign(ng, 0.0);
  w.CDF.assign(ng, 0.0);
  w.work_rhs.assign(s.n_equations, 0.0);
  num::size_block_bookkeeping(ne, w.effect_offset, w.block_start, w.block_offset,
                              w.block_ginv_row);
  w.type2_prior_scale.resize(2, 2, 1);
  form_family_classes(s);
  w.sized = true;
}

void write_chain_record(run_state& s) {
  const std::int32_t ne = s.n_effects;
  const double values[6] = {s.G(ne - 2, 1, 1), s.current_p_par,     s.G(ne - 3, 1, 1),
                            s.G(ne - 1, 1, 1), s.G(ne - 1, 2, 1), s.G(ne - 1, 2, 2)};
  num::write_chain_line(s.chain_file, values);
}

void fill_coarse_grid(run_state& s) {
  num::fill_coarse_grid(s.grid, s.n_grid_points, s.coarse_grid_start, s.coarse_grid_step);
}

void build_block_bookkeeping(run_state& s) {
  round_work& w = s.round;
  for (std::int32_t i = 1; i <= s.n_equations; ++i) w.work_rhs(i) = s.data_rhs(i);

  num::build_block_bookkeeping(s.n_effects, s.remaining_levels, s.CORR, s.g_inverse,
                               w.effect_offset, w.block_start, w.block_offset, w.block_ginv_row);
}

// The sweep's terms scatter over the whole sample, which at a large size no longer sits in cache.
// The rows of WW, and the members of a pedigree block, come in increasing order: the sample value
// that entry k + sweep_ahead_entries of WW or of GMAT will read (in this row or a later one) is
// asked for at entry k, at the cost of one more load per entry.
constexpr std::int32_t sweep_ahead_entries = 64;

void sweep_location_effects(run_state& s) {
  round_work& w = s.round;
  const std::int32_t ne = s.n_effects;
  const num::sparse_store& WW = s.WW;
  const num::sparse_store& GMAT = s.GMAT;
  rt::vec1<double>& sample = s.sample;
  rt::text_out& con = rt::console();

  // The sweep reads the sample from y: the paired layout when it is in use, else the sample
  // itself. at(q) is where equation q lies in y, wcol[k] where WW's column k lies.
  num::sample_layout& L = w.layout;
  if (!w.layout_built) {
    num::build_sample_layout(L, w.layout_min_equations, ne, s.n_equations, s.TYPO, s.CORR,
                             s.remaining_levels, w.block_start, w.effect_offset, GMAT.order, WW);
    w.layout_built = true;
  }
  const bool paired = L.active;
  if (paired) num::fill_sample_layout(L, sample, s.n_equations);
  double* const y = (paired ? L.value.data() : sample.data()) - 1;   // 1-based
  const std::int32_t* const wcol = (paired ? L.column.data() : WW.column.data()) - 1;
  const std::int32_t* const place = paired ? L.place.data() - 1 : nullptr;
  auto at = [place](std::int32_t q) { return place ? place[q] : q; };
  const std::int32_t last_entry = WW.row_start(WW.order + 1);   // one past WW's last entry
  const std::int32_t* const gmat_column_at =
      GMAT.column.size() > 0 ? GMAT.column.data() - 1 : nullptr;
  const std::int32_t last_gmat_entry = GMAT.order > 0 ? GMAT.row_start(GMAT.order + 1) : 0;

  // Family walk of the family-correlated effect: current family, records left in it, position
  // of the record in it, the family's first equation. It carries over from level to level.
  std::int32_t fam = 0, left = 0, pos = 0, fam_first = 0;

  for (std::int32_t e = 1; e <= ne; ++e) {
    const std::int32_t levels = s.remaining_levels(e);
    const std::int32_t offset = w.effect_offset(e);
    if (levels <= 0) continue;
    const std::int32_t typo = s.TYPO(e);
    if (typo < 0 || typo > 3) {
      rt::write(con, {"UNIMPLEMENTED RANDOM EFFECT", typo});
      rt::stop("FATAL ERROR: PROGRAM STOPPED", rt::exit_error);
    }
    const std::int32_t b = w.block_start(e);
    if (typo == 2 && b != 0 && levels > GMAT.order) {
      // The level is the pedigree member's number: it must be a row of GMAT.
      rt::write(con, {"MORE LEVELS THAN PEDIGREE MEMBERS IN EFFECT", e});
      rt::stop("FATAL ERROR: PROGRAM STOPPED", rt::exit_error);
    }
    const double ginv11 = s.g_inverse(e, 1, 1);
    const std::int32_t pf = paired ? L.pair_first(e) : -1;   // >= 0: the block lies in pairs

    for (std::int32_t l = 1; l <= levels; ++l) {
      const std::int32_t i = offset + l;
      const std::int32_t yi = at(i);
      double x = w.work_rhs(i);
      double d = 0.0;
      for (std::int32_t k = WW.row_start(i); k < WW.row_start(i + 1); ++k) {
        if (k + sweep_ahead_entries < last_entry)
          rt::prefetch_read(y + wcol[k + sweep_ahead_entries]);
        const std::int32_t c = wcol[k];
        if (c == yi)
          d = WW.value(k);
        else
          x = x - WW.value(k) * y[c];
      }

      switch (typo) {
        case 0:
          d = d + 1.0e-7;
          break;
        case 1:
          d = d + ginv11;
          break;
        case 2: {
          if (b == 0) break;  // a pedigree effect outside any block has no prior term
          const std::int32_t p = i - w.block_offset(e, 1, 1);
          for (std::int32_t c = 1; c <= s.CORR(b); ++c) {
            const std::int32_t base = w.block_offset(e, c, 2);
            const double gi = w.block_ginv_row(e, c, 1);
            // Paired: member c's level m lies at yc[2 m].
            const double* const yc = pf >= 0 ? y + (pf - 2 + c) : y;
            for (std::int32_t k = GMAT.row_start(p); k < GMAT.row_start(p + 1); ++k) {
              if (k + sweep_ahead_entries < last_gmat_entry) {
                const std::int32_t ahead = gmat_column_at[k + sweep_ahead_entries];
                if (pf >= 0)   // one fetch brings both members' values
                  rt::prefetch_read(yc + 2 * ahead);
                else if (base + ahead <= s.n_equations)   // checked below in its turn
                  rt::prefetch_read(y + at(base + ahead));
              }
              const std::int32_t q = base + GMAT.column(k);
              const double f = GMAT.value(k) * gi;
              if (q == i) {
                d = d + f;
              } else {
                if (q > s.n_equations) {
                  rt::write(con, {"PEDIGREE TERM BEYOND THE LAST EQUATION IN EFFECT", e});
                  rt::stop("FATAL ERROR: PROGRAM STOPPED", rt::exit_error);
                }
                x = x - f * (pf >= 0 ? yc[2 * GMAT.column(k)] : y[at(q)]);
              }
            }
          }
          break;
        }
        case 3: {
          if (left == 0) {
            fam += 1;
            while (fam <= s.n_families && s.family_block(fam).n_records == 0) fam += 1;
            if (fam > s.n_families ||
                i + s.family_block(fam).n_records - 1 > s.n_equations) {
              rt::write(con, {"LEVELS AND DATA RECORDS DIFFER IN EFFECT", e});
              rt::stop("FATAL ERROR: PROGRAM STOPPED", rt::exit_error);
            }
            pos = 1;
            left = s.family_block(fam).n_records - 1;
            fam_first = i;
          } else {
            left -= 1;
            pos += 1;
          }
          tav::family_block& fb = s.family_block(fam);
          const std::int32_t n = fb.n_records;
          if (fam == s.n_families) {
            d = d + ginv11 * fb.RINV(pos);  // the rest group keeps only its diagonal
          } else {
            const rt::col_view RINV = dense(fb.RINV, n);
            for (std::int32_t m = 1; m <= n; ++m) {
              const std::int32_t q = fam_first + m - 1;
              if (q == i)
                d = d + ginv11 * RINV(pos, pos);
              else
                x = x - ginv11 * RINV(pos, m) * y[at(q)];
            }
          }
          break;
        }
      }
      w.work_rhs(i) = x;
      sample(i) = x / d;
      const double z = num::rand_normal(s.seed);
      sample(i) = sample(i) + z / std::sqrt(d);
      if (paired) y[yi] = sample(i);
    }
  }
}

void sample_round(run_state& s, std::int32_t ROUND) {
  size_round_work(s);
  write_chain_record(s);
  fill_coarse_grid(s);
  build_block_bookkeeping(s);
  sweep_location_effects(s);
  draw_p_par(s, ROUND);
  draw_variances(s, ROUND);
}

}  // namespace tav

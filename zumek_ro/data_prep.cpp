// The data step of zumek_ro: "dat.txt" into memory, maternal families, "DAT1.sal" and the
// family blocks.
#include "zumek_ro/data_prep.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <span>

#include "numeric/maternal_families.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace ro {

namespace {

// Reads record i into row (n_effects + 1 values); a failed read stops the run.
void read_record(rt::text_in& dat, std::span<double> row, std::int32_t i) {
  const int status = rt::read_with_status(dat, {row});
  if (status == rt::read_ok) return;
  rt::text_out& con = rt::console();
  if (status == rt::read_end_of_file) {
    rt::write(con, {});
    rt::write(con, {"BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER"});
    rt::stop("", rt::exit_error);
  }
  rt::write(con, {"BEWARE! ERROR", std::int32_t{status}, " IN LINE", i});
  rt::write(con, {});
  rt::stop("FATAL ERROR: EXECUTION STOPPED", rt::exit_error);
}

// The blocks' arrays are allocated with a status test: check the whole size first so that a
// block too large for memory gives the block message rather than the out-of-memory line.
void check_block_size(std::int64_t n, std::int64_t n_effects, bool dense) {
  const double bytes = static_cast<double>(n) * static_cast<double>(n_effects) * (4.0 + 8.0 + 8.0) +
                       static_cast<double>(n) * (dense ? 16.0 : 32.0) +
                       (dense ? 2.0 * 8.0 * static_cast<double>(n) * static_cast<double>(n) : 0.0);
  // A request the system grants is not yet memory (the pages come when first written), so
  // the size is held against what the arrays may take together, not probed.
  if (bytes > static_cast<double>(rt::memory_limit() - rt::memory_held()))
    rt::stop("BLOCK ALLOCATION ERROR", rt::exit_error);
}

// Allocates and zeroes the arrays of a block of n records. The rest group gets diagonals
// instead of dense matrices.
void allocate_block(family_block& b, std::int32_t n, std::int32_t n_effects, bool rest) {
  check_block_size(n, n_effects, !rest);
  b.n_records = n;
  b.is_rest_group = rest ? 1 : 0;
  b.equation.assign_zeros(n_effects, n);
  b.observation.assign_zeros(n);
  b.residual.assign_zeros(n);
  b.record_value.assign_zeros(n_effects, n);
  b.coefficient.assign_zeros(n_effects, n);
  if (rest) {
    b.residual_matrix.assign(0, 0);
    b.RINV.assign(0, 0);
    b.rest_residual_diag.assign_zeros(n);
    b.rest_rinv_diag.assign_zeros(n);
  } else {
    b.residual_matrix.assign(n, n, 0.0);
    b.RINV.assign(n, n, 0.0);
  }
  b.n_links = 0;
}

}  // namespace

void prepare_data(run_state& s) {
  const std::int32_t ne = s.n_effects;
  const std::int64_t nv = static_cast<std::int64_t>(ne) + 1;   // values per record
  const std::int32_t nrdf = s.NRDF;
  rt::text_out& con = rt::console();

  rt::vec1<std::int32_t> record_family;
  rt::vec1<double> data_table;   // record by record
  data_table.assign_zeros(static_cast<std::int64_t>(nrdf) * nv);
  rt::text_in dat;
  rt::open_in(dat, 1, "dat.txt");
  for (std::int32_t i = 1; i <= nrdf; ++i) {
    double* row = data_table.data() + (i - 1) * nv;
    read_record(dat, std::span<double>(row, static_cast<std::size_t>(nv)), i);
    if (i % 1000 == 0) rt::put(con, rt::fixed_line().I(i, 9).X(2).A("RECORDS READ", 12));
  }

  // Families are formed on the values as read; drop_last_level comes after.
  // With no record the table has no storage (data() is null): the columns then point nowhere
  // and are never read, and no offset may be applied to the null pointer.
  const double* base = data_table.data();
  auto column = [&](std::int64_t k) {
    return num::value_column{nrdf > 0 ? base + (k - 1) : nullptr, nv};
  };
  s.n_families =
      num::form_maternal_families(nrdf, column(1), column(ne - 1), column(ne), record_family);

  rt::vec1<std::int32_t> family_start, order;
  num::list_family_records(nrdf, record_family, s.n_families, family_start, order);

  rt::text_out dat1;
  rt::open_out(dat1, 21, "DAT1.sal");
  try {
    s.family.clear();
    s.family.resize(static_cast<std::size_t>(s.n_families));
  } catch (const std::bad_alloc&) {
    rt::out_of_memory();
  }
  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    b.n_records = 0;
    for (std::int32_t p = family_start(f); p < family_start(f + 1); ++p) {
      double* row = data_table.data() + (order(p) - 1) * nv;   // row[k - 1] is value k
      for (std::int32_t k = 1; k <= ne; ++k)
        if (s.drop_last_level(k) != 0 && row[k - 1] == static_cast<double>(s.NLEV(k)))
          row[k - 1] = 0.0;
      rt::write(dat1, {std::span<const double>(row, static_cast<std::size_t>(nv))});
      b.n_records += 1;
    }
  }
  rt::close(dat);
  rt::close(dat1);
  data_table.release();
  record_family.release();

  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    family_block& b = s.family[static_cast<std::size_t>(f - 1)];
    allocate_block(b, b.n_records, ne, f == s.n_families);
  }
}

void find_linked_pairs(family_block& b, std::int32_t n_effects) {
  const std::int32_t n = b.n_records;
  const std::int32_t animal = n_effects - 1, dam = n_effects;

  // Pairs in (l, m) order. Small blocks are scanned directly; larger ones look the dam_id of
  // each record up among the animal_ids sorted by value (equal values keep record order).
  std::vector<std::int32_t> first, second;
  if (n <= 32) {
    for (std::int32_t l = 1; l < n; ++l)
      for (std::int32_t m = l + 1; m <= n; ++m)
        if (b.record_value(dam, m) == b.record_value(animal, l)) {
          first.push_back(l);
          second.push_back(m);
        }
  } else {
    std::vector<std::int32_t> by_animal;
    by_animal.reserve(static_cast<std::size_t>(n));
    for (std::int32_t l = 1; l <= n; ++l)
      if (!std::isnan(b.record_value(animal, l))) by_animal.push_back(l);
    std::stable_sort(by_animal.begin(), by_animal.end(), [&](std::int32_t x, std::int32_t y) {
      return b.record_value(animal, x) < b.record_value(animal, y);
    });
    std::vector<std::int32_t> count(static_cast<std::size_t>(n) + 2, 0);
    std::vector<std::int32_t> pm_first, pm_second;   // pairs in (m, l) order
    for (std::int32_t m = 1; m <= n; ++m) {
      const double d = b.record_value(dam, m);
      if (std::isnan(d)) continue;
      auto lo = std::lower_bound(by_animal.begin(), by_animal.end(), d,
                                 [&](std::int32_t x, double v) { return b.record_value(animal, x) < v; });
      for (auto it = lo; it != by_animal.end() && b.record_value(animal, *it) == d && *it < m; ++it) {
        pm_first.push_back(*it);
        pm_second.push_back(m);
        count[static_cast<std::size_t>(*it)] += 1;
      }
    }
    // Stable counting sort by l: within one l the m values stay ascending.
    std::vector<std::int32_t> at(static_cast<std::size_t>(n) + 2, 0);
    for (std::int32_t l = 1, pos = 0; l <= n; ++l) {
      at[static_cast<std::size_t>(l)] = pos;
      pos += count[static_cast<std::size_t>(l)];
    }
    first.assign(pm_first.size(), 0);
    second.assign(pm_first.size(), 0);
    for (std::size_t p = 0; p < pm_first.size(); ++p) {
      const std::int32_t slot = at[static_cast<std::size_t>(pm_first[p])]++;
      first[static_cast<std::size_t>(slot)] = pm_first[p];
      second[static_cast<std::size_t>(slot)] = pm_second[p];
    }
  }

  const std::int32_t np = static_cast<std::int32_t>(first.size());
  b.n_links = np;
  b.link_first.assign(np, 0);
  b.link_second.assign(np, 0);
  for (std::int32_t p = 1; p <= np; ++p) {
    b.link_first(p) = first[static_cast<std::size_t>(p - 1)];
    b.link_second(p) = second[static_cast<std::size_t>(p - 1)];
  }

  // Both directions per record. Taking the pairs in (l, m) order gives each record its
  // earlier partners (as m) before its later ones (as l), each run ascending.
  b.link_row_start.assign(static_cast<std::int64_t>(n) + 1, 0);
  for (std::int32_t p = 1; p <= np; ++p) {
    b.link_row_start(b.link_first(p)) += 1;
    b.link_row_start(b.link_second(p)) += 1;
  }
  std::int32_t pos = 1;
  for (std::int32_t r = 1; r <= n + 1; ++r) {
    const std::int32_t c = r <= n ? b.link_row_start(r) : 0;
    b.link_row_start(r) = pos;
    pos += c;
  }
  b.link_partner.assign(2 * static_cast<std::int64_t>(np), 0);
  b.link_partner_pair.assign(2 * static_cast<std::int64_t>(np), 0);
  rt::vec1<std::int32_t> fill(n, 0);
  auto put = [&](std::int32_t r, std::int32_t partner, std::int32_t p) {
    const std::int32_t at = b.link_row_start(r) + fill(r);
    b.link_partner(at) = partner;
    b.link_partner_pair(at) = p;
    fill(r) += 1;
  };
  for (std::int32_t p = 1; p <= np; ++p) {
    put(b.link_first(p), b.link_second(p), p);
    put(b.link_second(p), b.link_first(p), p);
  }

  if (b.is_rest_group) {
    b.rest_residual_link.assign(np, 0.0);
    b.rest_rinv_link.assign(np, 0.0);
  }
}

}  // namespace ro

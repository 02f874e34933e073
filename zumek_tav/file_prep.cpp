#include "zumek_tav/file_prep.hpp"

#include <cstdint>
#include <span>

#include "numeric/maternal_families.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace tav {

namespace {

// Reads every record of "dat.txt" into data_table, record after record (n_effects values
// each). A short file or a bad value stops the run with its message.
void read_data_file(const run_state& s, rt::text_in& dat, rt::vec1<double>& data_table) {
  const std::int64_t m = s.n_effects;
  for (std::int32_t i = 1; i <= s.NRDF; ++i) {
    double* row = data_table.data() + (i - 1) * m;
    int status = rt::read_with_status(dat, {std::span<double>(row, static_cast<std::size_t>(m))});
    if (status == rt::read_end_of_file) {
      rt::write(rt::console(), {});
      rt::write(rt::console(), {"BEWARE! UNEXPECTED END OF FILE. CHECK NRDF PARAMETER"});
      rt::stop("", rt::exit_error);
    }
    if (status != rt::read_ok) {
      rt::write(rt::console(), {"BEWARE! ERROR", static_cast<std::int32_t>(status), " IN LINE", i});
      rt::write(rt::console(), {});
      rt::stop("FATAL ERROR: EXECUTION STOPPED", rt::exit_error);
    }
  }
}

void write_family_count(std::int32_t n_families) {
  rt::text_out& con = rt::console();
  rt::write(con, {});
  rt::write(con, {"---------------------"});
  rt::put(con, rt::fixed_line().A(" No. MATERNAL FAMILIES:", 23).X(1).I(n_families, 4));
  rt::write(con, {"---------------------"});
  rt::write(con, {});
}

// Gives family block b its three matrices: n x n each for an ordinary family, the diagonal
// alone for the rest group; all zero. The space is asked for first without ending the run,
// so that a family too large for memory stops with the program's own message.
void allocate_block(family_block& b, bool rest_group) {
  const std::int64_t n = b.n_records;
  const std::int64_t per_matrix = rest_group ? n : n * n;
  // A request the system grants is not yet memory (the pages come when first written), so
  // the size is held against what the arrays may take together, not probed.
  const double bytes = 3.0 * static_cast<double>(sizeof(double)) * static_cast<double>(per_matrix);
  const bool fits = bytes <= static_cast<double>(rt::memory_limit() - rt::memory_held());
  if (!fits) rt::stop("BLOCK ALLOCATION ERROR", rt::exit_error);
  b.dam_link_matrix.assign(per_matrix, 0.0);
  b.residual_matrix.assign(per_matrix, 0.0);
  b.RINV.assign(per_matrix, 0.0);
  b.diagonal_only = rest_group ? 1 : 0;
}

}  // namespace

void FILE_PREP(run_state& s) {
  const std::int64_t n_eff = s.n_effects;  // 4 or more (checked by the parameter reader)
  const std::int64_t n_rec = s.NRDF;       // 0 or more

  rt::vec1<double> data_table;  // record i holds values (i-1)*n_eff + 1 ..
  data_table.assign_zeros(n_rec * n_eff);
  rt::text_in dat;
  rt::open_in(dat, 1, "dat.txt");
  read_data_file(s, dat, data_table);

  // Value 1 carries the head code, value n_effects - 2 the animal, n_effects - 1 its dam.
  rt::vec1<std::int32_t> record_family;
  // With no record the table has no storage (data() is null): the columns then point nowhere
  // and are never read, and no offset may be applied to the null pointer.
  const double* base = data_table.data();
  auto column = [&](std::int64_t k) {
    return num::value_column{n_rec > 0 ? base + (k - 1) : nullptr, n_eff};
  };
  s.n_families = num::form_maternal_families(s.NRDF, column(1), column(n_eff - 2),
                                             column(n_eff - 1), record_family);

  write_family_count(s.n_families);

  rt::text_out dat1;
  rt::open_out(dat1, 21, "DAT1.sal");
  s.family_block.resize(s.n_families);

  // Records family by family, in file order inside a family; the running number of a record
  // is its position in this order.
  rt::vec1<std::int32_t> family_start, order;
  num::list_family_records(s.NRDF, record_family, s.n_families, family_start, order);
  rt::vec1<double> out(n_eff + 1, 0.0);  // one "DAT1.sal" record
  std::int32_t written = 0;
  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    family_block& b = s.family_block(f);
    b.n_records = 0;
    for (std::int32_t p = family_start(f); p < family_start(f + 1); ++p) {
      const double* v = base + static_cast<std::int64_t>(order(p) - 1) * n_eff;
      b.n_records += 1;
      written += 1;
      for (std::int64_t k = 1; k <= n_eff - 3; ++k) out(k) = v[k - 1];
      out(n_eff - 2) = static_cast<double>(written);  // record_number
      out(n_eff - 1) = v[n_eff - 3];                  // animal_id
      out(n_eff) = v[n_eff - 2];                      // dam_id
      out(n_eff + 1) = v[n_eff - 1];                  // observation
      rt::write(dat1, {std::span<const double>(out.data(), static_cast<std::size_t>(n_eff + 1))});
    }
  }
  if (written != s.NRDF) rt::stop("FATAL ERROR IN SUBROUTINE FILE_PREP", rt::exit_error);
  data_table.release();
  order.release();
  rt::close(dat1);

  // Links are found on the values as "DAT1.sal" holds them, so read the families back. The
  // file as read here (the whole of it is read at the opening) serves the assembly as well:
  // it is left open, rewound, rather than closed and read from disk a second time.
  rt::text_in& back = s.dat1_file;
  rt::open_in(back, 21, "DAT1.sal");
  std::int32_t largest = 0;
  for (std::int32_t f = 1; f < s.n_families; ++f)
    if (s.family_block(f).n_records > largest) largest = s.family_block(f).n_records;
  rt::vec1<double> animal(largest, 0.0), dam(largest, 0.0);
  for (std::int32_t f = 1; f <= s.n_families; ++f) {
    family_block& b = s.family_block(f);
    const bool rest_group = f == s.n_families;
    allocate_block(b, rest_group);
    if (rest_group) break;  // its records are not read back: it has no links
    const std::int32_t n = b.n_records;
    for (std::int32_t a = 1; a <= n; ++a) {
      rt::read(back, {std::span<double>(out.data(), static_cast<std::size_t>(n_eff + 1))});
      animal(a) = out(n_eff - 1);
      dam(a) = out(n_eff);
    }
    rt::col_view link = dense(b.dam_link_matrix, n);
    for (std::int32_t bb = 2; bb <= n; ++bb)
      for (std::int32_t a = 1; a < bb; ++a)
        if (animal(a) == dam(bb)) {
          link(a, bb) = 1.0;
          link(bb, a) = 1.0;
        }
  }
  rt::close(dat);
  rt::rewind(back);
}

}  // namespace tav

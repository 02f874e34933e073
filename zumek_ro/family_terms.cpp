// The terms of one family block added entry by entry into a store in linked form.
#include "zumek_ro/family_terms.hpp"

#include <span>

#include "runtime/prefetch.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace ro {

void add_family_block_terms(const family_block& b, std::int32_t n_effects,
                            num::sparse_store& store, rt::vec1<double>& rhs, std::int32_t& IER) {
  rt::text_out& con = rt::console();
  // A family's rows and columns are all known before its terms: the memory the calls will read
  // first is asked for ahead, rows first, then what each row leads to, and the right-hand
  // sides, so that the fetches overlap. (The rest group, whose records are not crossed, and
  // large blocks go without.)
  const std::int64_t n_eq = b.equation.d.size();
  if (b.is_rest_group == 0 && n_eq <= 64) {
    const std::span<const std::int32_t> eqs(b.equation.data(), static_cast<std::size_t>(n_eq));
    num::sparse_prefetch_rows(store, eqs);
    for (std::int32_t a : eqs)
      if (a != 0) num::sparse_prefetch_entries(store, a, eqs);
    for (std::int32_t a : eqs)
      if (a >= 1 && a <= rhs.size()) rt::prefetch_write(rhs.data() + (a - 1));
  }
  // The terms of one row come one after another: up to eight of them go in together, through
  // one walk of the row. The store sees the same calls in the same order as one by one.
  std::int32_t row = 0;
  std::int32_t cols[8];
  double terms[8];
  std::size_t held = 0;
  // The rest group's records come one after another for each effect, and the rows of its
  // terms are scattered over the store: the memory for the record a few places on is asked
  // for in three steps, each one's loads in flight before the next reads them. Far ahead the
  // row's head and table index (and its right-hand side), nearer what they lead to (the head
  // entry or the table cells), nearest the values of the entries found.
  const std::int32_t n = b.n_records;
  auto ahead = [&](std::int32_t i, std::int32_t l) {
    constexpr std::int32_t near = 4, mid = 2 * near, far = 3 * near;
    const auto record_columns = [&](std::int32_t m) {
      return std::span<const std::int32_t>(&b.equation(1, m), static_cast<std::size_t>(n_effects));
    };
    if (l + far <= n) {
      const std::int32_t a = b.equation(i, l + far);
      num::sparse_prefetch_rows(store, std::span<const std::int32_t>(&a, 1));
      if (a >= 1 && a <= rhs.size()) rt::prefetch_write(rhs.data() + (a - 1));
    }
    if (l + mid <= n)
      num::sparse_prefetch_entries(store, b.equation(i, l + mid), record_columns(l + mid));
    if (l + near <= n)
      num::sparse_prefetch_values(store, b.equation(i, l + near), record_columns(l + near));
  };
  auto put_held = [&] {
    if (held == 0) return;
    IER = num::SBSIJ_row_add(store, row, std::span<const std::int32_t>(cols, held),
                             std::span<const double>(terms, held), 0, con);
    if (IER == 701 || IER == 702) rt::stop("", rt::exit_error);
    held = 0;
  };
  for_each_family_term(
      b, n_effects,
      [&](std::int32_t a, std::int32_t c, double x) {
        if (a != row) {
          put_held();
          row = a;
        }
        cols[held] = c;
        terms[held++] = x;
        if (held == 8) put_held();
      },
      [&](std::int32_t a) -> double& {
        put_held();
        return rhs(a);
      },
      [&](std::int32_t i, std::int32_t l) {
        if (b.is_rest_group != 0) ahead(i, l);
      });
  put_held();
}

}  // namespace ro

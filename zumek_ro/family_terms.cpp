// The terms of one family block added entry by entry into a store in linked form.
#include "zumek_ro/family_terms.hpp"

#include <span>

#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace ro {

void add_family_block_terms(const family_block& b, std::int32_t n_effects,
                            num::sparse_store& store, rt::vec1<double>& rhs, std::int32_t& IER) {
  rt::text_out& con = rt::console();
  // A family's rows and columns are all known before its terms: the memory the calls will read
  // first is asked for ahead, rows first, then what each row leads to, so that the fetches
  // overlap. (The rest group, whose records are not crossed, and large blocks go without.)
  const std::int64_t n_eq = b.equation.d.size();
  if (b.is_rest_group == 0 && n_eq <= 64) {
    const std::span<const std::int32_t> eqs(b.equation.data(), static_cast<std::size_t>(n_eq));
    num::sparse_prefetch_rows(store, eqs);
    for (std::int32_t a : eqs)
      if (a != 0) num::sparse_prefetch_entries(store, a, eqs);
  }
  for_each_family_term(
      b, n_effects,
      [&](std::int32_t a, std::int32_t c, double x) {
        num::SBSIJ(store, a, c, x, 5, 0, con, IER);
        if (IER == 701 || IER == 702) rt::stop("", rt::exit_error);
      },
      [&](std::int32_t a, double x) { rhs(a) = rhs(a) + x; });
}

}  // namespace ro

// The terms of one family block added entry by entry into a store in linked form.
#include "zumek_ro/family_terms.hpp"

#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace ro {

void add_family_block_terms(const family_block& b, std::int32_t n_effects,
                            num::sparse_store& store, rt::vec1<double>& rhs, std::int32_t& IER) {
  rt::text_out& con = rt::console();
  for_each_family_term(
      b, n_effects,
      [&](std::int32_t a, std::int32_t c, double x) {
        num::SBSIJ(store, a, c, x, 5, 0, con, IER);
        if (IER == 701 || IER == 702) rt::stop("", rt::exit_error);
      },
      [&](std::int32_t a, double x) { rhs(a) = rhs(a) + x; });
}

}  // namespace ro

// Symmetric reordering of a row-compressed upper triangle in place: each entry moves to the
// row of whichever of its ends comes first in the new order. Row and column numbers stay in
// the input numbering; entries keep their relative order within a row.
#include "numeric/min_degree.hpp"

#include <utility>

namespace num {

void sym_reorder(std::int32_t n, rt::vec1<std::int32_t>& row_start,
                 rt::vec1<std::int32_t>& column, rt::vec1<double>& value,
                 const rt::vec1<std::int32_t>& inverse_permutation, bool diagonal_first,
                 slice<std::int32_t> counts, slice<std::int32_t> dest) {
  for (std::int32_t i = 1; i <= n; ++i) counts(i) = 0;
  // The target row of every slot, and how many entries each row receives.
  for (std::int32_t i = 1; i <= n; ++i) {
    for (std::int32_t p = row_start(i); p < row_start(i + 1); ++p) {
      std::int32_t r = column(p);
      if (inverse_permutation(r) < inverse_permutation(i))
        column(p) = i;
      else
        r = i;
      dest(p) = r;
      counts(r) += 1;
    }
  }
  for (std::int32_t i = 1; i <= n; ++i) {
    row_start(i + 1) = row_start(i) + counts(i);
    counts(i) = row_start(i + 1);                 // one past the last free slot of row i
  }
  // Destinations, filled from the back of each row so that the relative order is kept.
  std::int32_t last_diagonal_row = 0;
  const std::int32_t first = row_start(1);
  for (std::int32_t p = row_start(n + 1) - 1; p >= first; --p) {
    const std::int32_t r = dest(p);
    if (diagonal_first && column(p) == r && r != last_diagonal_row) {
      dest(p) = row_start(r);
      last_diagonal_row = r;
    } else {
      counts(r) -= 1;
      dest(p) = counts(r);
    }
  }
  // Apply the permutation of slots by following its cycles.
  for (std::int32_t p = first; p < row_start(n + 1); ++p) {
    while (dest(p) != p) {
      const std::int32_t q = dest(p);
      dest(p) = dest(q);
      dest(q) = q;
      std::swap(column(p), column(q));
      std::swap(value(p), value(q));
    }
  }
}

}  // namespace num

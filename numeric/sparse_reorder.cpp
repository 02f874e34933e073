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
  // Move every entry to its slot. With room for a second copy of the entries this is one
  // pass of independent stores and a copy back; otherwise the permutation of the slots is
  // applied in place by following its cycles, one dependent random access after another.
  // Both leave the same arrays.
  const std::int32_t end = row_start(n + 1);
  const std::int64_t entries = std::int64_t{end} - first;
  const std::int64_t bytes = entries * std::int64_t{sizeof(std::int32_t) + sizeof(double)};
#ifdef ZUMEK_LITERAL_SOLVER
  const bool copy = false;   // the reference build moves the entries in place only
#else
  const bool copy = true;
#endif
  if (copy && entries > 0 && first == 1 && rt::claim_memory(bytes)) {
    rt::release_memory(bytes);
    rt::vec1<std::int32_t> moved_column;
    rt::vec1<double> moved_value;
    moved_column.assign(entries);
    moved_value.assign(entries);
    for (std::int32_t p = 1; p < end; ++p) {
      const std::int32_t q = dest(p);
      moved_column(q) = column(p);
      moved_value(q) = value(p);
      dest(p) = p;
    }
    for (std::int32_t p = 1; p < end; ++p) {
      column(p) = moved_column(p);
      value(p) = moved_value(p);
    }
    return;
  }
  for (std::int32_t p = first; p < end; ++p) {
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

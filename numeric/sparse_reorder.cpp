// Symmetric reordering of a row-compressed upper triangle in place: each entry moves to the
// row of whichever of its ends comes first in the new order. Row and column numbers stay in
// the input numbering; entries keep their relative order within a row.
#include "numeric/min_degree.hpp"

#include <cstring>
#include <utility>

namespace num {

void sym_reorder(std::int32_t n, rt::vec1<std::int32_t>& row_start,
                 rt::vec1<std::int32_t>& column, rt::vec1<double>& value,
                 const rt::vec1<std::int32_t>& inverse_permutation, bool diagonal_first,
                 slice<std::int32_t> counts, slice<std::int32_t> dest,
                 slice<std::int32_t> spare) {
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
  // Every entry goes to its slot, found from the back of each row so that the relative order is
  // kept. With room for a second copy of the entries in the spare cells (the ordering's lists,
  // free by now, and already in memory) the entries are stored there as their slots are found
  // and copied back in one pass; otherwise the permutation of the slots is applied in place by
  // following its cycles, one dependent random access after another. Both leave the same
  // arrays.
  const std::int32_t first = row_start(1);
  const std::int32_t end = row_start(n + 1);
  const std::int64_t entries = std::int64_t{end} - first;
  const std::int64_t value_at = entries + (entries & 1);   // 8-byte aligned in the spare cells
#ifdef ZUMEK_LITERAL_SOLVER
  const bool copy = false;   // the reference build moves the entries in place only
#else
  const bool copy = first == 1 && spare.n >= value_at + 2 * entries;
#endif
  std::int32_t last_diagonal_row = 0;
  if (copy) {
    const slice<std::int32_t> moved_column{spare.p, entries};
    // The values as the bytes of spare cells value_at + 1 on, 8 per value (moved by memcpy).
    unsigned char* const moved_value = reinterpret_cast<unsigned char*>(spare.p + value_at);
    for (std::int32_t p = end - 1; p >= 1; --p) {
      const std::int32_t r = dest(p);
      std::int32_t q;
      if (diagonal_first && column(p) == r && r != last_diagonal_row) {
        q = row_start(r);
        last_diagonal_row = r;
      } else {
        counts(r) -= 1;
        q = counts(r);
      }
      dest(p) = p;                                // as the cycles leave it
      moved_column(q) = column(p);
      RT_CHECK_INDEX("spare cells", value_at + 2 * std::int64_t{q}, spare.n);
      std::memcpy(moved_value + 8 * std::int64_t{q - 1}, &value(p), sizeof(double));
    }
    for (std::int32_t p = 1; p < end; ++p) {
      column(p) = moved_column(p);
      std::memcpy(&value(p), moved_value + 8 * std::int64_t{p - 1}, sizeof(double));
    }
    return;
  }
  for (std::int32_t p = end - 1; p >= first; --p) {
    const std::int32_t r = dest(p);
    if (diagonal_first && column(p) == r && r != last_diagonal_row) {
      dest(p) = row_start(r);
      last_diagonal_row = r;
    } else {
      counts(r) -= 1;
      dest(p) = counts(r);
    }
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

#include "numeric/equation_reduction.hpp"

namespace num {

void drop_flagged_equations(std::int32_t& n, rt::vec1<std::int32_t>& row_start,
                            rt::vec1<std::int32_t>& column, rt::vec1<double>& rhs,
                            const rt::vec1<std::int32_t>& dropped,
                            const rt::vec1<std::int32_t>& shift) {
  std::int32_t d = 0;
  std::int32_t next_start = n >= 0 ? row_start(1) : 1;  // old row_start(i), read before overwrite
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t first = next_start;
    next_start = row_start(i + 1);
    if (dropped(i) != 0) {
      ++d;
      continue;
    }
    const std::int32_t k = i - d;
    rhs(k) = rhs(i);
    row_start(k) = first;
    for (std::int32_t slot = first; slot < next_start; ++slot) column(slot) -= shift(column(slot));
  }
  if (n >= 0) row_start(n - d + 1) = next_start;
  n -= d;
}

void expand_solution(std::int32_t n, const rt::vec1<std::int32_t>& dropped, rt::vec1<double>& x,
                     double fill) {
  rt::vec1<double> reduced(n > 0 ? n : 0);
  for (std::int32_t i = 1; i <= n; ++i) reduced(i) = x(i);
  std::int32_t next = 0;
  for (std::int64_t e = 1; e <= x.size(); ++e) x(e) = dropped(e) != 0 ? fill : reduced(++next);
}

}  // namespace num

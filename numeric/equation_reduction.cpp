// Removing empty equations and restoring the full solution.
#include "numeric/equation_reduction.hpp"

#include <string>

#include "runtime/process.hpp"

namespace num {

std::int32_t flag_empty_equations(std::int32_t n_effects, const rt::vec1<std::int32_t>& NLEV,
                                  const rt::vec1<std::int32_t>& row_start,
                                  rt::vec1<std::int32_t>& remaining_levels,
                                  rt::vec1<std::int32_t>& dropped, rt::vec1<std::int32_t>& shift) {
  std::int32_t e = 0;
  std::int32_t c = 0;
  for (std::int32_t k = 1; k <= n_effects; ++k) {
    remaining_levels(k) = NLEV(k);
    for (std::int32_t l = 1; l <= NLEV(k); ++l) {
      ++e;
      dropped(e) = 0;
      if (row_start(e) <= 0) {  // still the chain head of an empty row
        dropped(e) = 1;
        remaining_levels(k) -= 1;
        ++c;
      }
      shift(e) = c;  // empty equations among 1 .. e
    }
  }
  return c;
}

void drop_flagged_equations(std::int32_t& n, rt::vec1<std::int32_t>& row_start,
                            rt::vec1<std::int32_t>& column, rt::vec1<double>& rhs,
                            const rt::vec1<std::int32_t>& dropped,
                            const rt::vec1<std::int32_t>& shift) {
  std::int32_t d = 0;
  std::int32_t old_start = row_start(1);                // row_start(i) before it is overwritten
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t old_end = row_start(std::int64_t{i} + 1);   // read before k = i + 1 - d writes it
    if (dropped(i) != 0) {
      ++d;
    } else {
      const std::int32_t k = i - d;                     // the equation's new number; k <= i
      rhs(k) = rhs(i);
      row_start(k) = old_start;
      for (std::int32_t s = old_start; s < old_end; ++s) column(s) = column(s) - shift(column(s));
    }
    old_start = old_end;
  }
  row_start(std::int64_t{n} - d + 1) = old_start;        // the old row_start(n + 1)
  n = n - d;
}

void expand_solution(std::int32_t n, std::int32_t n_full, const rt::vec1<std::int32_t>& dropped,
                     rt::vec1<double>& x, double fill) {
  if (n < 0 || n_full < n || dropped.size() < n_full || x.size() < n_full)
    rt::internal_error("expand_solution: " + std::to_string(n) + " kept of " +
                       std::to_string(n_full) + " equations, dropped holds " +
                       std::to_string(dropped.size()) + ", solution holds " +
                       std::to_string(x.size()));
  std::int32_t kept = 0;
  for (std::int32_t e = 1; e <= n_full; ++e)
    if (dropped(e) == 0) ++kept;
  if (kept != n)
    rt::internal_error("expand_solution: dropped keeps " + std::to_string(kept) +
                       " equations but the reduced solution has " + std::to_string(n));

  rt::vec1<double> reduced(n);
  for (std::int32_t e = 1; e <= n; ++e) reduced(e) = x(e);
  std::int32_t next = 0;
  for (std::int32_t e = 1; e <= n_full; ++e) x(e) = dropped(e) != 0 ? fill : reduced(++next);
}

}  // namespace num

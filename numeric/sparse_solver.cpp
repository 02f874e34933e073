// The two drivers of the sparse symmetric solver: they check the arrays, carve the work
// storage into its pieces and run the requested stages.
#include "numeric/sparse_solver.hpp"

#include <algorithm>
#include <string>

#include "numeric/min_degree.hpp"
#include "numeric/sparse_factor.hpp"
#include "runtime/process.hpp"

namespace num {
namespace {

// The arrays come from our own code (a finished sparse_store, permutations from ODRV);
// anything inconsistent is a programming error, caught here before it can index memory.
void check_store(const char* who, std::int32_t n, const rt::vec1<std::int32_t>& row_start,
                 const rt::vec1<std::int32_t>& column, const rt::vec1<double>& value) {
  const std::string w(who);
  if (n < 0) rt::internal_error(w + ": negative order");
  if (row_start.size() < std::int64_t{n} + 1) rt::internal_error(w + ": row_start too short");
  if (row_start(1) != 1) rt::internal_error(w + ": row_start(1) is not 1");
  for (std::int32_t i = 1; i <= n; ++i)
    if (row_start(i + 1) < row_start(i)) rt::internal_error(w + ": row_start decreases");
  const std::int64_t nnz = std::int64_t{row_start(n + 1)} - 1;
  if (column.size() < nnz || value.size() < nnz)
    rt::internal_error(w + ": column or value shorter than the stored entries");
  for (std::int64_t p = 1; p <= nnz; ++p)
    if (column(p) < 1 || column(p) > n)
      rt::internal_error(w + ": column " + std::to_string(column(p)) + " out of range");
}

void check_permutation(const char* who, std::int32_t n, const rt::vec1<std::int32_t>& v) {
  for (std::int32_t i = 1; i <= n; ++i)
    if (v(i) < 1 || v(i) > n)
      rt::internal_error(std::string(who) + ": permutation entry out of range");
}

}  // namespace

std::int64_t solver_work_size(std::int64_t n, std::int64_t nnz) { return 3 * n + 6 * nnz; }

void ODRV(std::int32_t n, rt::vec1<std::int32_t>& row_start, rt::vec1<std::int32_t>& column,
          rt::vec1<double>& value, rt::vec1<std::int32_t>& permutation,
          rt::vec1<std::int32_t>& inverse_permutation, std::int64_t work_size,
          rt::vec1<std::int32_t>& int_work, std::int32_t solver_stages, std::int64_t& FLAG) {
  const std::int64_t N = n;
  FLAG = 0;
  if (solver_stages < 1 || solver_stages > 5) {
    FLAG = 11 * N + 1;
    return;
  }
  check_store("ODRV", n, row_start, column, value);
  if (permutation.size() < N || inverse_permutation.size() < N)
    rt::internal_error("ODRV: permutation arrays shorter than the order");
  if (int_work.size() < work_size) rt::internal_error("ODRV: int_work shorter than work_size");

  const bool ordering = solver_stages == 1 || solver_stages == 2 || solver_stages == 4;
  const bool reordering = solver_stages >= 2;
  const bool diagonal_first = solver_stages >= 4;

  if (ordering) {
    const std::int64_t L = (work_size - N) / 2;   // list_capacity
    if (L < N) {
      FLAG = 10 * N + 1;
      return;
    }
    md_work w;
    w.n = n;
    w.L = L;
    w.set_lists(carve(int_work, 1, 2 * L));
    w.bucket_head = carve(int_work, 2 * L + 1, N);
    w.bucket_prev = slice<std::int32_t>{permutation.data(), N};
    w.bucket_next = slice<std::int32_t>{inverse_permutation.data(), N};
    md_options options;
#ifdef ZUMEK_LITERAL_ORDERING
    options.literal = true;   // build that checks the tracked ordering against plain walks
#endif
    min_degree_order(w, row_start, column, FLAG, options);
    if (FLAG != 0) return;   // the store is untouched
  }
  if (reordering) {
    const std::int64_t nnz = std::int64_t{row_start(n + 1)} - 1;
    const std::int64_t counts_at = work_size + 1 - N;
    const std::int64_t dest_at = counts_at - nnz;
    if (dest_at < 1) {
      FLAG = 10 * N + 1;
      return;
    }
    if (!ordering) check_permutation("ODRV", n, inverse_permutation);
    // The cells in front of the scratch cells are free: the ordering is done with them.
    sym_reorder(n, row_start, column, value, inverse_permutation, diagonal_first,
                carve(int_work, counts_at, N), carve(int_work, dest_at, nnz),
                carve(int_work, 1, dest_at - 1));
  }
}

void SDRV(std::int32_t n, const rt::vec1<std::int32_t>& permutation,
          const rt::vec1<std::int32_t>& inverse_permutation,
          const rt::vec1<std::int32_t>& row_start, const rt::vec1<std::int32_t>& column,
          const rt::vec1<double>& value, const rt::vec1<double>& b, rt::vec1<double>& solution,
          std::int64_t work_size, rt::vec1<std::int32_t>& int_work, rt::vec1<double>& real_work,
          std::int64_t& spare_storage, std::int32_t solver_stages, std::int64_t& FLAG) {
  const std::int64_t N = n;
  if (solver_stages < 1 || solver_stages > 6) {
    FLAG = 11 * N + 1;
    return;
  }
  const bool symbolic = solver_stages == 1 || solver_stages == 4 || solver_stages == 5;
  const bool numeric = solver_stages == 1 || solver_stages == 2 || solver_stages == 5 ||
                       solver_stages == 6;
  const bool solve = solver_stages <= 3;
  check_store("SDRV", n, row_start, column, value);
  if (permutation.size() < N || inverse_permutation.size() < N)
    rt::internal_error("SDRV: permutation arrays shorter than the order");
  check_permutation("SDRV", n, permutation);
  check_permutation("SDRV", n, inverse_permutation);
  if (int_work.size() < work_size || (numeric || solve ? real_work.size() < work_size : false))
    rt::internal_error("SDRV: work arrays shorter than work_size");
  if (solve && (b.size() < N || solution.size() < N))
    rt::internal_error("SDRV: right-hand side or solution shorter than the order");

  const permuted_matrix a{permutation, inverse_permutation, row_start, column, value};
  factor_structure f;
  f.n = n;

  if (symbolic) {
    const std::int64_t column_capacity = work_size - 5 * N - 1;
    if (column_capacity <= 0) {
      FLAG = 10 * N + 1;
      return;
    }
    f.factor_index_start = carve(int_work, 1, N);
    f.factor_row_start = carve(int_work, N + 1, N + 1);
    f.row_list = carve(int_work, 2 * N + 2, N);
    f.factor_column = carve(int_work, 3 * N + 2, column_capacity);
    symbolic_factor(a, f, carve(int_work, work_size - 2 * N + 1, N),
                    carve(int_work, work_size - N + 1, N), FLAG);
    if (FLAG != 0) return;
  }
  if (!numeric && !solve && !symbolic) return;
  // The layout of the numeric stage and the solve hangs on the used length of the column
  // lists, factor_index_start(n); without the three index arrays nothing fits at all.
  if (work_size < 3 * N + 1) {
    FLAG = 10 * N + 1;
    return;
  }
  const std::int64_t used_columns = n > 0 ? int_work(N) : 0;
  const std::int64_t e0 = 3 * N + 2 + used_columns;
  const std::int64_t t = e0 / 2 + 1;
  const std::int64_t factor_capacity = work_size + 1 - (t + 2 * N);
  const std::int64_t factor_entries = std::int64_t{int_work(2 * N + 1)} - 1;
  spare_storage = factor_capacity - factor_entries;
  if (!numeric && !solve) return;

  if (factor_capacity <= 0 || e0 + N - 1 > work_size) {
    FLAG = 10 * N + 1;
    return;
  }
  f.factor_index_start = carve(int_work, 1, N);
  f.factor_row_start = carve(int_work, N + 1, N + 1);
  f.row_list = carve(int_work, 2 * N + 2, N);
  f.factor_column = carve(int_work, 3 * N + 2, used_columns);
  const slice<double> solve_work = carve(real_work, t, N);
  const slice<double> inv_pivot = carve(real_work, t + N, N);
  const slice<double> factor_value = carve(real_work, t + 2 * N, factor_capacity);
  if (numeric) {
#ifdef ZUMEK_LITERAL_SOLVER
    numeric_factor_reference(a, f, carve(int_work, e0, N), inv_pivot, factor_value, FLAG);
#else
    numeric_factor(a, f, carve(int_work, e0, N), inv_pivot, factor_value, FLAG);
#endif
    if (FLAG != 0) return;
  }
  if (solve) {
    factor_solve(permutation, f, inv_pivot, factor_value, solve_work, b, solution);
    FLAG = 0;
  }
}

factor_sizes SDRV_sizes(std::int32_t n, const rt::vec1<std::int32_t>& int_work) {
  const std::int64_t N = n;
  if (int_work.size() < 3 * N + 1) rt::internal_error("SDRV_sizes: int_work too short");
  factor_sizes z;
  z.column_entries = n > 0 ? int_work(N) : 0;
  z.factor_entries = std::int64_t{int_work(2 * N + 1)} - 1;
  const std::int64_t e0 = 3 * N + 2 + z.column_entries;
  const std::int64_t t = e0 / 2 + 1;
  z.work_needed = std::max({3 * N + 1, e0 + N - 1, t + 2 * N + std::max<std::int64_t>(z.factor_entries, 1) - 1});
  return z;
}

}  // namespace num

// Sparse symmetric solver: minimum-degree ordering with symmetric reordering (ODRV), then
// symbolic and numeric Ut D U factorisation and solution (SDRV).
//
// The matrix is the upper triangle of a row-compressed sparse_store: row_start(1..n+1),
// column(1..nnz), value(1..nnz), nnz = row_start(n+1) - 1, entries of a row in arrival order.
// All arrays are 1-based. FLAG and work sizes are 64-bit so that codes such as 11 n + 1 and
// sizes such as 3 n + 6 nnz never wrap.
#pragma once

#include <cstdint>

#include "runtime/array.hpp"

namespace num {

// The work size both programs give the drivers: three cells per equation and six per stored
// entry, computed in 64 bits.
std::int64_t solver_work_size(std::int64_t n, std::int64_t nnz);

// Orders and/or reorders the stored triangle.
// solver_stages: 1 ordering, 2 ordering + reordering, 3 reordering by the given
// inverse_permutation, 4 and 5 as 2 and 3 with each row's diagonal entry placed first.
// FLAG: 0; 11n+1 stages out of range; 10n+1 work space too small; 9n+i lists overflow while
// row i is entered; 2n+i duplicate column in row i (the ordering cannot work with it).
void ODRV(std::int32_t n, rt::vec1<std::int32_t>& row_start, rt::vec1<std::int32_t>& column,
          rt::vec1<double>& value, rt::vec1<std::int32_t>& permutation,
          rt::vec1<std::int32_t>& inverse_permutation, std::int64_t work_size,
          rt::vec1<std::int32_t>& int_work, std::int32_t solver_stages, std::int64_t& FLAG);

// Factors the reordered matrix and solves for b, result in solution (input numbering).
// solver_stages: 1 symbolic+numeric+solve, 2 numeric+solve, 3 solve, 4 symbolic,
// 5 symbolic+numeric, 6 numeric. The factor lives in int_work / real_work between calls.
// FLAG: 0; 11n+1 stages out of range; 10n+1 work space too small for the stage; 2n+r
// duplicate column in store row r; 6n+k column lists full at row k; 7n+1 factor does not fit;
// 8n+k zero pivot at row k of the new order.
// spare_storage: unused factor cells (negative: that many cells short for the numeric stage).
void SDRV(std::int32_t n, const rt::vec1<std::int32_t>& permutation,
          const rt::vec1<std::int32_t>& inverse_permutation,
          const rt::vec1<std::int32_t>& row_start, const rt::vec1<std::int32_t>& column,
          const rt::vec1<double>& value, const rt::vec1<double>& b, rt::vec1<double>& solution,
          std::int64_t work_size, rt::vec1<std::int32_t>& int_work, rt::vec1<double>& real_work,
          std::int64_t& spare_storage, std::int32_t solver_stages, std::int64_t& FLAG);

// What a finished symbolic stage (SDRV stage 4) left in int_work.
struct factor_sizes {
  std::int64_t factor_entries = 0;   // off-diagonal entries of U
  std::int64_t column_entries = 0;   // cells of the shared column lists in use
  std::int64_t work_needed = 0;      // smallest work_size for which stages 2, 3 and 6 fit
};

// Reads the sizes after a successful symbolic stage. To run the numeric stage in more space,
// grow int_work and real_work to work_needed keeping their contents (vec1::resize) and call
// SDRV with stage 2 and the new work_size.
factor_sizes SDRV_sizes(std::int32_t n, const rt::vec1<std::int32_t>& int_work);

}  // namespace num

// Stages of SDRV: symbolic factorisation with shared column lists, numeric Ut D U
// factorisation, and the forward and backward solve. Called only from SDRV.
#pragma once

#include <cstdint>

#include "numeric/work_slice.hpp"
#include "runtime/array.hpp"

namespace num {

// The factor's structure as it lies in int_work.
struct factor_structure {
  std::int32_t n = 0;
  slice<std::int32_t> factor_index_start;   // 1..n: where row k's columns begin
  slice<std::int32_t> factor_row_start;     // 1..n+1: row k's positions in factor_value
  slice<std::int32_t> row_list;             // 1..n: rows waiting for a row
  slice<std::int32_t> factor_column;        // 1..column_capacity (new numbering)
};

// The permuted matrix: row permutation(k) of the store is row k.
struct permuted_matrix {
  const rt::vec1<std::int32_t>& permutation;
  const rt::vec1<std::int32_t>& inverse_permutation;
  const rt::vec1<std::int32_t>& row_start;
  const rt::vec1<std::int32_t>& column;
  const rt::vec1<double>& value;
};

// Builds the structure of U. FLAG = 0, 2n + r (duplicate column in store row r) or 6n + k
// (column lists full while row k is written).
void symbolic_factor(const permuted_matrix& a, factor_structure& f,
                     slice<std::int32_t> last_row_of_column, slice<std::int32_t> column_chain,
                     std::int64_t& FLAG);

// Computes -U (off the diagonal) and 1/D. FLAG = 0, 7n + 1 (factor does not fit) or 8n + k
// (zero pivot at row k). Besides the work arrays it holds about 32 bytes per equation while it
// runs (a record per row and the blocks of the lists of waiting rows); the work arrays end as
// numeric_factor_reference leaves them.
void numeric_factor(const permuted_matrix& a, factor_structure& f,
                    slice<std::int32_t> next_entry, slice<double> inv_pivot,
                    slice<double> factor_value, std::int64_t& FLAG);

// The vector instructions of numeric_factor's inner loops: by default the widest the
// processor has (the program itself is built for any x86-64). Every choice gives the same
// results bit for bit; tests force each in turn. Returns false, changing nothing, when the
// processor lacks them.
enum class factor_vectors { widest, sse2, avx2, avx512 };
bool set_factor_vectors(factor_vectors v);

// The same stage entry by entry through the column lists; numeric_factor gives the same
// values bit for bit (tests compare the two).
void numeric_factor_reference(const permuted_matrix& a, factor_structure& f,
                              slice<std::int32_t> next_entry, slice<double> inv_pivot,
                              slice<double> factor_value, std::int64_t& FLAG);

// Solves Ut D U x = b(permuted); solution in the input numbering.
void factor_solve(const rt::vec1<std::int32_t>& permutation, const factor_structure& f,
                  slice<double> inv_pivot, slice<double> factor_value, slice<double> solve_work,
                  const rt::vec1<double>& b, rt::vec1<double>& solution);

}  // namespace num

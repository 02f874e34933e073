// Steps of ODRV: the minimum-degree ordering and the symmetric reordering of the stored
// upper triangle. Called only from ODRV (sparse_solver.cpp).
#pragma once

#include <cstdint>

#include "numeric/work_slice.hpp"
#include "runtime/array.hpp"

namespace num {

// The ordering's storage: singly linked cells (list_node / list_next, cells 1..n are the
// heads of the node and element lists, list_node(i) doubles as tag(i)), degree buckets, and
// the two permutation arrays used as bucket links while the ordering runs.
struct md_work {
  std::int32_t n = 0;
  std::int64_t L = 0;                 // list_capacity
  // The list cells: cell c is the pair (list_node(c), list_next(c)), read together by every
  // walk of a list, so the two share a cache line.
  paired_slice<std::int32_t> list_node;   // 1..L
  paired_slice<std::int32_t> list_next;   // 1..L
  slice<std::int32_t> bucket_head;    // 1..n
  slice<std::int32_t> bucket_prev;    // permutation(1..n) while the ordering runs
  slice<std::int32_t> bucket_next;    // inverse_permutation(1..n) while the ordering runs

  // Lays the L list cells over the 2L cells of `cells`.
  void set_lists(slice<std::int32_t> cells) {
    if (cells.n < 2 * L) rt::internal_error("minimum-degree list cells shorter than 2 L");
    list_node = paired_slice<std::int32_t>{cells.p, L};
    list_next = paired_slice<std::int32_t>{cells.p + 1, L};
  }
};

// Finds the minimum-degree order of the rows of the triangle (entries above the diagonal
// only). On success permutation(k) = row placed k-th, inverse_permutation(i) = place of row
// i, and FLAG = 0; otherwise FLAG = 9n + i (lists full at row i) or 2n + i (duplicate column
// in row i).
//
// The plain degree update recounts a node's neighbourhood by walking its list and the
// boundary of each of its elements; for rows that touch a large share of the records, or sires
// with progeny in many herds, these walks are long and repeat at almost every step. The default
// path counts degrees instead: a node's degree changes by |bnd(e)| - 1 - |M n reach| when it
// lies in the merged boundary M of a new element, and that overlap is gathered per step from
// compact copies of the lists of the nodes of M; the copies are the lists (their order is
// known), and element boundaries, fixed once made, are stored as runs. Nodes whose list
// reaches track_from cells (at most 64 at a time) are tracked: their lists are linked cells
// that are never read while they live; the items they lose are found from the other side,
// and their overlaps from the other nodes of M and from counts of the elements each pair of
// tracked nodes shares. The order found is the same as with the plain walks (literal = true),
// which is kept as the reference; a build with ZUMEK_LITERAL_ORDERING makes ODRV use the
// plain walks.
struct md_options {
  bool literal = false;               // plain walks for every node
  // A tracked node costs a few bit operations per element holding it and per other tracked node
  // of each new boundary it lies in; a counted one, a read of its list copy: long lists gain.
  std::int32_t track_from = 1000;     // list length at which a node is tracked (>= 1)
  // Largest M, in 64-bit words of bits over its places, whose elements get their rows of bits
  // as they are met; larger ones first gather overlap lists. Either way the counts agree.
  std::int32_t rows_as_met_words = 4;
};

void min_degree_order(md_work& w, const rt::vec1<std::int32_t>& row_start,
                      const rt::vec1<std::int32_t>& column, std::int64_t& FLAG,
                      const md_options& options = md_options{});

// Moves every stored entry to the row of whichever end comes first in the new order, with
// the other end as its column, in place. counts(1..n) and dest(1..nnz) are scratch cells;
// spare cells, when there are at least 3 nnz + 1 of them, hold a copy of the entries on the
// way (faster than moving them along the cycles of the permutation).
void sym_reorder(std::int32_t n, rt::vec1<std::int32_t>& row_start,
                 rt::vec1<std::int32_t>& column, rt::vec1<double>& value,
                 const rt::vec1<std::int32_t>& inverse_permutation, bool diagonal_first,
                 slice<std::int32_t> counts, slice<std::int32_t> dest,
                 slice<std::int32_t> spare);

}  // namespace num

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
  slice<std::int32_t> list_node;      // 1..L
  slice<std::int32_t> list_next;      // 1..L
  slice<std::int32_t> bucket_head;    // 1..n
  slice<std::int32_t> bucket_prev;    // permutation(1..n) while the ordering runs
  slice<std::int32_t> bucket_next;    // inverse_permutation(1..n) while the ordering runs
};

// Finds the minimum-degree order of the rows of the triangle (entries above the diagonal
// only). On success permutation(k) = row placed k-th, inverse_permutation(i) = place of row
// i, and FLAG = 0; otherwise FLAG = 9n + i (lists full at row i) or 2n + i (duplicate column
// in row i).
//
// The degree update recounts a node's neighbourhood by walking its list and the boundary of
// each of its elements; for rows such as few-level fixed effects or covariates that touch a
// large share of the records this walk is long and repeats at almost every step. Nodes whose
// list reaches track_from cells are therefore tracked: they keep, for every node, how many of
// their elements (and their own direct adjacency) contain it, so their degree is the number of
// nodes with a positive count, and their list is purged through an index of its cells instead
// of a walk. Walks of the other nodes skip elements whose boundary lies inside the new
// element's (they add no node). The order found is the same cell for cell as with the plain
// walks (literal = true), which is kept as the reference; a build with ZUMEK_LITERAL_ORDERING
// makes ODRV use the plain walks.
struct md_options {
  bool literal = false;               // plain walks for every node
  // A tracked node pays a few map look-ups per node of each new boundary it lies in, a walk one
  // step per cell of its list and of its elements' boundaries: only long lists gain.
  std::int32_t track_from = 1000;     // list length at which a node is tracked (>= 1)
};

void min_degree_order(md_work& w, const rt::vec1<std::int32_t>& row_start,
                      const rt::vec1<std::int32_t>& column, std::int64_t& FLAG,
                      const md_options& options = md_options{});

// Moves every stored entry to the row of whichever end comes first in the new order, with
// the other end as its column, in place. counts(1..n) and dest(1..nnz) are scratch cells.
void sym_reorder(std::int32_t n, rt::vec1<std::int32_t>& row_start,
                 rt::vec1<std::int32_t>& column, rt::vec1<double>& value,
                 const rt::vec1<std::int32_t>& inverse_permutation, bool diagonal_first,
                 slice<std::int32_t> counts, slice<std::int32_t> dest);

}  // namespace num

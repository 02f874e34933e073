// A square sparse matrix filled entry by entry in linked form, then finished in place into
// row-compressed form.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runtime/array.hpp"
#include "runtime/text_io.hpp"

namespace num {

// One cell of a long row's table: a column and the slot of its entry, slot 0 for an empty
// cell. The column is kept beside the slot so that a lookup reads the store only at the entry
// it finds.
struct sparse_table_cell {
  std::int32_t column;
  std::int32_t slot;
};

// SBSIJ's lookup aid for one row whose chain has grown long: an open-addressing table from
// column to slot and the row's last slot, so that a call neither walks the chain to find a
// column nor to find its end.
struct sparse_long_row {
  sparse_table_cell* table = nullptr;  // 2^bits cells from the index's cell pool
  std::int32_t bits = 0;               // log2 of the table length
  std::int32_t count = 0;              // entries of the row
  std::int32_t tail = 0;               // slot of the row's last entry
};

// The index that keeps SBSIJ at constant cost per call. Only rows longer than a short chain get
// a table; short rows are walked as they are. Emptied by sparse_init, released by
// sparse_finish; only the sparse-store routines touch it.
struct sparse_fill_index {
  rt::vec1<std::int32_t> long_id;        // order: 0, or the row's place in long_rows (1-based)
  std::vector<sparse_long_row> long_rows;
  // The tables' cells, handed out one after another from blocks of fresh zero storage (an
  // empty cell is all zero, so nothing is cleared). A table that grows leaves its old cells
  // among the spare tables of their length, where the next table of that length is taken
  // from (cleared) before new cells are, so that fewer fresh pages are used.
  std::vector<rt::vec1<sparse_table_cell>> cell_blocks;
  std::int64_t cells_used = 0;           // cells handed out from the last block
  std::vector<sparse_table_cell*> spare_tables[32];  // by log2 of the length
};

struct sparse_store {
  std::int32_t order = 0;               // rows (and columns)
  std::int32_t NZ = 0;                  // capacity in slots
  rt::vec1<std::int32_t> row_start;     // order + 1: chain heads (linked) or row pointers (finished)
  rt::vec1<std::int32_t> column;        // NZ
  rt::vec1<double> value;               // NZ
  rt::vec1<std::int32_t> link;          // NZ, linked form only
  sparse_fill_index fill_index;         // linked form only: SBSIJ's own lookup aid
};

// Sizes the arrays for order rows and NZ slots (allocation failure ends the run).
void sparse_allocate(sparse_store& s, std::int32_t order, std::int32_t NZ);

// Empties the store into linked form: row_start(i) = -i, free counter NZ, every slot cleared.
void sparse_init(sparse_store& s);

// sparse_allocate followed by sparse_init, for a store that is filled once: the slots of fresh
// storage are zero already and are not written here, so the pages of slots that neither the
// filling nor the finishing reaches are never brought into memory.
void sparse_create(sparse_store& s, std::int32_t order, std::int32_t NZ);

// Puts entry_value at (I, J) of a store in linked form. duplicate_action < 0 keeps the old
// value, 0 replaces it, > 0 adds to it. message_level >= 0 writes the fatal messages to
// message_unit. IER: 0 new entry, 700 position present, 701 out of range, 702 store full.
void SBSIJ(sparse_store& s, std::int32_t I, std::int32_t J, double entry_value,
           int duplicate_action, int message_level, rt::text_out& message_unit,
           std::int32_t& IER);

// SBSIJ that also returns the slot holding (I, J) after the call (the new or the existing
// entry's), 0 when IER is 701 or 702. The slot is that of the linked form; sparse_finish with
// a slot list turns it into the slot of the finished store.
std::int32_t SBSIJ_slot(sparse_store& s, std::int32_t I, std::int32_t J, double entry_value,
                        int duplicate_action, int message_level, rt::text_out& message_unit,
                        std::int32_t& IER);

// Adds x[j] at (I, J[j]) of a store in linked form for j in order, exactly as that many calls
// of SBSIJ with duplicate_action 5 (add) would, but walks row I's chain once for every eight
// columns instead of once per column. Returns the status of the last call, or 701 / 702 at
// the first call that fails (its message written when message_level >= 0; nothing after it
// is added).
std::int32_t SBSIJ_row_add(sparse_store& s, std::int32_t I, std::span<const std::int32_t> J,
                          std::span<const double> x, int message_level,
                          rt::text_out& message_unit);

// Adds every entry (I, J) with I <= J of the store from to the store to (both in linked form,
// from of order to.order at most), row after row, each row's entries in the order of from's
// chain: to ends as that many SBSIJ calls with duplicate_action 5 (add), each row's calls in
// that order, would leave it. A row of to that is still empty takes its entries straight into
// consecutive slots, without a lookup. Returns the status of the last entry, or 702 when to
// is full (its message written when message_level >= 0; nothing after it is added).
std::int32_t sparse_add_upper(const sparse_store& from, sparse_store& to, int message_level,
                              rt::text_out& message_unit);
// The same copy, always walking from's chains row by row: what sparse_add_upper does unless to
// is empty with room for every entry copied, from's chains run in falling slot order and the
// memory for the row of each of from's entries (4 bytes per entry) is there. Any store gives
// the same result both ways, slot for slot.
std::int32_t sparse_add_upper_walking(const sparse_store& from, sparse_store& to,
                                      int message_level, rt::text_out& message_unit);

// Hints for a caller that knows its next SBSIJ calls ahead (the rows of a record): the first
// asks for the rows' heads, the second, called after it for each row, for the first memory that
// SBSIJ(I, J[j]) will read (the table cell of a long row, the head entry of a short one).
// The third, called after the second has had time, asks for the values SBSIJ will add to:
// those of the entries a long row's table holds for J[j] (looked up in the cells the second
// asked for), the head entry's of a short row. Nothing changes in the store; they only let
// the fetches from memory overlap.
void sparse_prefetch_rows(const sparse_store& s, std::span<const std::int32_t> rows);
void sparse_prefetch_entries(const sparse_store& s, std::int32_t I, std::span<const std::int32_t> J);
void sparse_prefetch_values(const sparse_store& s, std::int32_t I, std::span<const std::int32_t> J);

// A row of a store in linked form, for sparse_prefetch_chains.
struct sparse_row_ref {
  const sparse_store* store;
  std::int32_t row;
};

// Hint for a caller about to add to several short rows (of one store or more) one after the
// other: walks their chains side by side, one entry of each per step, and asks for every
// entry's column and value. Walked alone, a chain waits on each link in turn; side by side,
// the loads of the chains overlap, and the adds then find the chains in cache. Long rows (with
// a table), empty rows and rows outside a store are skipped, and only the first 16 rows are
// walked. Nothing is changed.
void sparse_prefetch_chains(std::span<const sparse_row_ref> rows);

// Turns a store in linked form into row-compressed form: rows in row order, each in the order
// its columns first arrived; slots above the entries and the links of all slots end as 0.
// Linear in the number of entries; releases SBSIJ's index. The entries go to fresh arrays of
// the same length when the memory for them is there, else they are moved within the store.
void sparse_finish(sparse_store& s);

// The same, and each element of slots, a slot k of an entry in linked form (or -k), becomes
// the slot that entry occupies in the finished store (or minus it).
void sparse_finish(sparse_store& s, std::span<std::int32_t> slots);

void fill_doubles(std::int64_t n, rt::vec1<double>& v, double x);
void fill_ints(std::int64_t n, rt::vec1<std::int32_t>& v, std::int32_t x);

}  // namespace num

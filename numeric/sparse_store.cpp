// The sparse store: filling in linked form (SBSIJ) and finishing into row-compressed form.
#include "numeric/sparse_store.hpp"

#include <cstring>
#include <utility>

#include "runtime/prefetch.hpp"
#include "runtime/process.hpp"

namespace num {

namespace {

// A row gets a column table once its chain holds more entries than this; shorter chains are
// cheaper to walk than to index. Each step of a walk waits on the link before it, so at sizes
// where the chains are out of cache a table (one cell and one entry) pays already past 16.
constexpr std::int32_t long_row_threshold = 16;
constexpr std::int32_t first_table_bits = 6;   // 64 cells: the first table is at most half full
constexpr std::int64_t cell_block_size = std::int64_t{1} << 19;  // 4 MiB of cells

// The tables are open-addressing hash tables over cells 0 .. 2^bits - 1 (a position in the
// table, not an index of the store), probed upwards with wrap-around.

// Fibonacci hashing of a column into a table of 2^bits cells.
inline std::uint32_t first_cell(std::int32_t col, std::int32_t bits) {
  return (static_cast<std::uint32_t>(col) * 2654435769u) >> (32 - bits);
}

// A table of 2^bits cells, all empty: a spare one of that length, or new cells from the pool.
sparse_table_cell* take_cells(sparse_fill_index& ix, std::int32_t bits) {
  const std::int64_t n = std::int64_t{1} << bits;
  std::vector<sparse_table_cell*>& spare = ix.spare_tables[bits];
  if (!spare.empty()) {
    sparse_table_cell* cells = spare.back();
    spare.pop_back();
    std::memset(static_cast<void*>(cells), 0, static_cast<std::size_t>(n) * sizeof(sparse_table_cell));
    return cells;
  }
  if (ix.cell_blocks.empty() || ix.cells_used + n > ix.cell_blocks.back().size()) {
    ix.cell_blocks.emplace_back();
    ix.cell_blocks.back().assign_zeros(n > cell_block_size ? n : cell_block_size);
    ix.cells_used = 0;
  }
  sparse_table_cell* cells = ix.cell_blocks.back().data() + ix.cells_used;
  ix.cells_used += n;
  return cells;
}

// Puts (col, k), a column known to be absent from the table, into the table.
void table_insert(sparse_long_row& lr, std::int32_t col, std::int32_t k) {
  const std::uint32_t mask = (std::uint32_t{1} << lr.bits) - 1;
  std::uint32_t h = first_cell(col, lr.bits);
  while (lr.table[h].slot != 0) h = (h + 1) & mask;
  lr.table[h] = {col, k};
}

// Doubles the table and puts every cell back.
void table_grow(sparse_fill_index& ix, sparse_long_row& lr) {
  sparse_table_cell* old = lr.table;
  const std::int32_t old_bits = lr.bits;
  const std::uint32_t old_size = std::uint32_t{1} << old_bits;
  lr.bits += 1;
  lr.table = take_cells(ix, lr.bits);
  for (std::uint32_t h = 0; h < old_size; ++h)
    if (old[h].slot != 0) table_insert(lr, old[h].column, old[h].slot);
  ix.spare_tables[old_bits].push_back(old);
}

// Gives row I (whose chain starts at head and ends at tail) a column table.
void index_row(sparse_store& s, std::int32_t I, std::int32_t head, std::int32_t tail,
               std::int32_t count) {
  sparse_fill_index& ix = s.fill_index;
  ix.long_rows.emplace_back();
  sparse_long_row& lr = ix.long_rows.back();
  lr.bits = first_table_bits;
  while ((std::int64_t{1} << lr.bits) < 2 * static_cast<std::int64_t>(count)) lr.bits += 1;
  lr.table = take_cells(ix, lr.bits);
  lr.count = count;
  lr.tail = tail;
  for (std::int32_t k = head; k > 0; k = s.link(k)) table_insert(lr, s.column(k), k);
  ix.long_id(I) = static_cast<std::int32_t>(ix.long_rows.size());
}

// Forgets every table and gives the cells back.
void drop_tables(sparse_fill_index& ix) {
  ix.long_rows.clear();
  ix.cell_blocks.clear();
  ix.cells_used = 0;
  for (std::vector<sparse_table_cell*>& spare : ix.spare_tables) spare.clear();
}

void write_701(rt::text_out& u, std::int32_t I, std::int32_t J) {
  rt::put(u, rt::fixed_line().A(" "));
  rt::put(u, rt::fixed_line().A(" *** FATAL ERROR ********************************"));
  rt::put(u, rt::fixed_line().A(" IMPROPER VALUE FOR PAIR (I,J)=").A("(").I(I, 7).A(",").I(J, 7).A(")"));
  rt::put(u, rt::fixed_line().A(" ************************************************"));
  rt::put(u, rt::fixed_line().A(" "));
}

void write_702(rt::text_out& u) {
  rt::put(u, rt::fixed_line().A(" "));
  rt::put(u, rt::fixed_line().A(" *** FATAL ERROR ********************"));
  rt::put(u, rt::fixed_line().A(" NZ TOO SMALL - NO ROOM FOR NEW ENTRY"));
  rt::put(u, rt::fixed_line().A(" ************************************"));
  rt::put(u, rt::fixed_line().A(" "));
}

// Every routine here appends a new entry at the end of its row's chain, in the slot the free
// counter gives, and the counter only goes down: along every chain the slots go down, and a
// row's entries in chain order are its entries in falling slot order. True when the links of
// the entries F0 + 1 .. NZ of a store in linked form show it (each links to a lower entry, or
// ends its row), so that the rows can be had in one pass over the slots, without walking the
// chains.
bool chains_run_down(const sparse_store& s, std::int32_t F0) {
  const std::int32_t* const link = s.link.data() - 1;   // 1-based
  for (std::int32_t k = F0 + 1; k <= s.NZ; ++k) {
    const std::int32_t L = link[k];
    if (L < 0 ? -L > s.order : L <= F0 || L >= k) return false;
  }
  return true;
}

// For such a store: row[k] becomes the row of entry k, for F0 < k <= NZ, going up the slots
// (the last entry of a row links to -row, any other to a lower entry, whose row is known by
// then). row may be the store's own links (1-based views both).
void rows_of_entries(const std::int32_t* link, std::int32_t* row, std::int32_t F0, std::int32_t NZ) {
  constexpr std::int32_t ahead = 32;
  for (std::int32_t k = F0 + 1; k <= NZ; ++k) {
    if (k + ahead <= NZ) {
      const std::int32_t L = link[k + ahead];
      if (L > 0) rt::prefetch_read(row + L);
    }
    const std::int32_t L = link[k];
    row[k] = L < 0 ? -L : row[L];
  }
}

inline void merge_duplicate(double& slot_value, double entry_value, int duplicate_action) {
  if (duplicate_action == 0)
    slot_value = entry_value;
  else if (duplicate_action > 0)
    slot_value = entry_value + slot_value;
}

}  // namespace

void fill_doubles(std::int64_t n, rt::vec1<double>& v, double x) {
  for (std::int64_t i = 1; i <= n; ++i) v(i) = x;
}

void fill_ints(std::int64_t n, rt::vec1<std::int32_t>& v, std::int32_t x) {
  for (std::int64_t i = 1; i <= n; ++i) v(i) = x;
}

void sparse_allocate(sparse_store& s, std::int32_t order, std::int32_t NZ) {
  s.order = order > 0 ? order : 0;
  s.NZ = NZ > 0 ? NZ : 0;
  // All four arrays are zero-filled as they come: ask for the whole store first, so that a
  // store too large for the machine ends the run before any of it is written.
  rt::require_memory(4.0 * (static_cast<double>(s.order) + 1.0) +
                     16.0 * static_cast<double>(s.NZ));
  s.row_start.assign(std::int64_t{s.order} + 1, 0);
  s.column.assign_zeros(s.NZ);
  s.value.assign_zeros(s.NZ);
  s.link.assign_zeros(s.NZ);
  s.fill_index.long_id.release();
  drop_tables(s.fill_index);
}

void sparse_create(sparse_store& s, std::int32_t order, std::int32_t NZ) {
  sparse_allocate(s, order, NZ);   // every slot holds column 0, value 0.0 and link 0
  for (std::int32_t i = 1; i <= s.order; ++i) s.row_start(i) = -i;
  s.row_start(std::int64_t{s.order} + 1) = s.NZ;
  s.fill_index.long_id.assign(s.order, 0);
}

void sparse_init(sparse_store& s) {
  for (std::int32_t i = 1; i <= s.order; ++i) s.row_start(i) = -i;
  s.row_start(std::int64_t{s.order} + 1) = s.NZ;
  fill_ints(s.NZ, s.column, 0);
  fill_ints(s.NZ, s.link, 0);
  fill_doubles(s.NZ, s.value, 0.0);
  s.fill_index.long_id.assign(s.order, 0);   // keeps its storage when the store is refilled
  drop_tables(s.fill_index);
}

namespace {

// SBSIJ proper; returns the slot that holds (I, J) after the call, 0 when nothing was stored.
inline std::int32_t put_entry(sparse_store& s, std::int32_t I, std::int32_t J, double entry_value,
                              int duplicate_action, int message_level,
                              rt::text_out& message_unit, std::int32_t& IER) {
  IER = 0;
  const std::int32_t order = s.order;
  if (I < 1 || I > order || J < 1 || J > order) {
    IER = 701;
    if (message_level >= 0) write_701(message_unit, I, J);
    return 0;
  }
  sparse_fill_index& ix = s.fill_index;
  if (ix.long_id.size() != order) {          // a store filled without sparse_init: no rows indexed yet
    ix.long_id.assign(order, 0);
    drop_tables(ix);
  }
  std::int32_t& free_counter = s.row_start(std::int64_t{order} + 1);

  const std::int32_t head = s.row_start(I);
  if (head <= 0) {                            // first entry of the row
    const std::int32_t F = free_counter;
    if (F < 1) {
      IER = 702;
      if (message_level >= 0) write_702(message_unit);
      return 0;
    }
    s.row_start(I) = F;
    s.column(F) = J;
    s.value(F) = entry_value;
    s.link(F) = -I;
    free_counter = F - 1;
    return F;
  }

  const std::int32_t id = ix.long_id(I);
  if (id > 0) {                               // long row: look the column up in its table
    sparse_long_row& lr = ix.long_rows[static_cast<std::size_t>(id - 1)];
    const std::uint32_t mask = (std::uint32_t{1} << lr.bits) - 1;
    std::uint32_t h = first_cell(J, lr.bits);
    for (; lr.table[h].slot != 0; h = (h + 1) & mask) {
      if (lr.table[h].column == J) {
        const std::int32_t k = lr.table[h].slot;
        IER = 700;
        merge_duplicate(s.value(k), entry_value, duplicate_action);
        return k;
      }
    }
    const std::int32_t F = free_counter;
    if (F < 1) {
      IER = 702;
      if (message_level >= 0) write_702(message_unit);
      return 0;
    }
    s.link(lr.tail) = F;                      // append at the end of the chain
    s.link(F) = -I;
    s.column(F) = J;
    s.value(F) = entry_value;
    free_counter = F - 1;
    lr.table[h] = {J, F};                     // h is the empty cell the search stopped at
    lr.tail = F;
    lr.count += 1;
    if (4 * static_cast<std::int64_t>(lr.count) > 3 * (static_cast<std::int64_t>(mask) + 1))
      table_grow(ix, lr);
    return F;
  }

  // Short row: walk the chain.
  std::int32_t k = head;
  std::int32_t count = 1;
  for (;;) {
    if (s.column(k) == J) {
      IER = 700;
      merge_duplicate(s.value(k), entry_value, duplicate_action);
      return k;
    }
    if (s.link(k) <= 0) break;                // k is the row's last entry
    k = s.link(k);
    ++count;
  }
  const std::int32_t F = free_counter;
  if (F < 1) {
    IER = 702;
    if (message_level >= 0) write_702(message_unit);
    return 0;
  }
  s.link(k) = F;
  s.link(F) = -I;
  s.column(F) = J;
  s.value(F) = entry_value;
  free_counter = F - 1;
  if (count + 1 > long_row_threshold) index_row(s, I, head, F, count + 1);
  return F;
}

}  // namespace

void SBSIJ(sparse_store& s, std::int32_t I, std::int32_t J, double entry_value,
           int duplicate_action, int message_level, rt::text_out& message_unit,
           std::int32_t& IER) {
  put_entry(s, I, J, entry_value, duplicate_action, message_level, message_unit, IER);
}

std::int32_t SBSIJ_slot(sparse_store& s, std::int32_t I, std::int32_t J, double entry_value,
                        int duplicate_action, int message_level, rt::text_out& message_unit,
                        std::int32_t& IER) {
  return put_entry(s, I, J, entry_value, duplicate_action, message_level, message_unit, IER);
}

void sparse_prefetch_rows(const sparse_store& s, std::span<const std::int32_t> rows) {
  const sparse_fill_index& ix = s.fill_index;
  if (ix.long_id.size() != s.order) return;
  for (std::int32_t I : rows) {
    if (I < 1 || I > s.order) continue;
    __builtin_prefetch(s.row_start.data() + (I - 1));
    __builtin_prefetch(ix.long_id.data() + (I - 1));
  }
}

void sparse_prefetch_entries(const sparse_store& s, std::int32_t I, std::span<const std::int32_t> J) {
  const sparse_fill_index& ix = s.fill_index;
  if (I < 1 || I > s.order || ix.long_id.size() != s.order) return;
  const std::int32_t id = ix.long_id(I);
  if (id > 0) {
    const sparse_long_row& lr = ix.long_rows[static_cast<std::size_t>(id - 1)];
    for (std::int32_t c : J) __builtin_prefetch(lr.table + first_cell(c, lr.bits));
  } else {
    const std::int32_t head = s.row_start(I);
    if (head > 0) {
      __builtin_prefetch(s.column.data() + (head - 1));
      __builtin_prefetch(s.link.data() + (head - 1));
    }
  }
}

void sparse_prefetch_values(const sparse_store& s, std::int32_t I, std::span<const std::int32_t> J) {
  const sparse_fill_index& ix = s.fill_index;
  if (I < 1 || I > s.order || ix.long_id.size() != s.order) return;
  const std::int32_t id = ix.long_id(I);
  if (id > 0) {
    const sparse_long_row& lr = ix.long_rows[static_cast<std::size_t>(id - 1)];
    const std::uint32_t mask = (std::uint32_t{1} << lr.bits) - 1;
    for (std::int32_t c : J) {
      std::uint32_t h = first_cell(c, lr.bits);
      for (int probe = 0; probe < 4 && lr.table[h].slot != 0; ++probe, h = (h + 1) & mask)
        if (lr.table[h].column == c) {
          __builtin_prefetch(s.value.data() + (lr.table[h].slot - 1));
          break;
        }
    }
  } else {
    const std::int32_t head = s.row_start(I);
    if (head > 0) __builtin_prefetch(s.value.data() + (head - 1));
  }
}

void sparse_prefetch_chains(std::span<const sparse_row_ref> rows) {
  constexpr std::size_t most = 16;
  // Per walk: the 1-based arrays of its row's store and the entry it is at.
  const std::int32_t* link[most];
  const std::int32_t* column[most];
  const double* value[most];
  std::int32_t k[most];
  std::size_t n = 0;
  for (const sparse_row_ref& r : rows) {
    if (n == most) break;
    const sparse_store& s = *r.store;
    if (r.row < 1 || r.row > s.order || s.fill_index.long_id.size() != s.order ||
        s.fill_index.long_id(r.row) != 0)
      continue;
    const std::int32_t head = s.row_start(r.row);
    if (head <= 0) continue;
    link[n] = s.link.data() - 1;
    column[n] = s.column.data() - 1;
    value[n] = s.value.data() - 1;
    k[n] = head;
    ++n;
  }
  // A short row's chain has at most long_row_threshold entries; the bound only guards the loop.
  for (std::int32_t step = 0; n > 0 && step < long_row_threshold; ++step) {
    std::size_t going = 0;
    for (std::size_t i = 0; i < n; ++i) {
      __builtin_prefetch(column[i] + k[i]);
      __builtin_prefetch(value[i] + k[i]);
      const std::int32_t next = link[i][k[i]];
      if (next > 0) {               // the row's last entry links to -row
        link[going] = link[i];
        column[going] = column[i];
        value[going] = value[i];
        k[going++] = next;
      }
    }
    n = going;
  }
}

std::int32_t SBSIJ_row_add(sparse_store& s, std::int32_t I, std::span<const std::int32_t> J,
                          std::span<const double> x, int message_level,
                          rt::text_out& message_unit) {
  constexpr std::size_t most = 8;
  const std::size_t n_all = J.size() < x.size() ? J.size() : x.size();
  if (n_all > most) {                          // longer lists in pieces of eight, in order
    std::int32_t IER = 0;
    for (std::size_t from = 0; from < n_all; from += most) {
      const std::size_t len = n_all - from < most ? n_all - from : most;
      IER = SBSIJ_row_add(s, I, J.subspan(from, len), x.subspan(from, len), message_level,
                          message_unit);
      if (IER == 701 || IER == 702) return IER;
    }
    return IER;
  }
  const std::size_t n = n_all;
  std::int32_t IER = 0;
  std::size_t done = 0;
  // A row with a short chain: one walk finds the slots of the columns already present and
  // the row's end; the values then go in, in their order, as the single calls would put them.
  if (n <= most && I >= 1 && I <= s.order && s.row_start(I) > 0 &&
      s.fill_index.long_id.size() == s.order && s.fill_index.long_id(I) == 0) {
    std::int32_t slot[most] = {};
    bool in_range = true;
    for (std::size_t j = 0; j < n; ++j) in_range = in_range && J[j] >= 1 && J[j] <= s.order;
    if (in_range) {
      std::int32_t k = s.row_start(I);
      std::int32_t count = 1;
      for (;;) {
        const std::int32_t c = s.column(k);
        for (std::size_t j = 0; j < n; ++j)
          if (slot[j] == 0 && J[j] == c) slot[j] = k;
        if (s.link(k) <= 0) break;             // k is the row's last entry
        k = s.link(k);
        ++count;
      }
      std::int32_t& free_counter = s.row_start(std::int64_t{s.order} + 1);
      for (; done < n && count < long_row_threshold; ++done) {
        if (slot[done] != 0) {
          IER = 700;
          s.value(slot[done]) = x[done] + s.value(slot[done]);
          continue;
        }
        const std::int32_t F = free_counter;
        if (F < 1) {
          if (message_level >= 0) write_702(message_unit);
          return 702;
        }
        s.link(k) = F;                           // append at the end of the chain
        s.link(F) = -I;
        s.column(F) = J[done];
        s.value(F) = x[done];
        free_counter = F - 1;
        k = F;
        ++count;
        IER = 0;
        for (std::size_t j = done + 1; j < n; ++j)   // the same column later in the list
          if (J[j] == J[done]) slot[j] = F;
      }
    }
  }
  // Whatever is left (all of it for a long, empty or out-of-range row, the rest once the row
  // has grown long) goes in call by call.
  for (; done < n; ++done) {
    put_entry(s, I, J[done], x[done], 5, message_level, message_unit, IER);
    if (IER == 701 || IER == 702) return IER;
  }
  return IER;
}

namespace {

// True when store s, in linked form, holds no entry: every row empty (no head), the free
// counter at NZ.
bool store_is_empty(const sparse_store& s) {
  if (s.row_start.size() != std::int64_t{s.order} + 1 || s.column.size() != s.NZ ||
      s.value.size() != s.NZ || s.link.size() != s.NZ ||
      s.row_start(std::int64_t{s.order} + 1) != s.NZ)
    return false;
  for (std::int32_t I = 1; I <= s.order; ++I)
    if (s.row_start(I) > 0) return false;
  return true;
}

// The copy of the upper entries of from (F0 its free counter, its chains running down, entries
// = NZ - F0 > 0) into the empty store to, which takes them as the row-by-row copy would: row
// 1's from slot NZ down in chain order, then row 2's, and so on, each entry linking to the slot
// below it and the row's last to -row, and a column table for each row that is long. A pass
// over from's slots counts each row's entries; a second takes them in rising slot order, the
// reverse of chain order, each to the next slot of its row's range from the bottom up. Both
// read from's slots in turn; the writes go to a few places at a time in each row's range. False,
// with to unchanged, when to lacks the room for them all.
bool copy_upper_into_empty(const sparse_store& from, sparse_store& to, std::int32_t F0,
                           std::int64_t entries) {
  const std::int32_t order = from.order;
  rt::vec1<std::int32_t> row_of;                   // entry k at row_of(k - F0)
  row_of.resize_for_overwrite(entries);             // every element set by rows_of_entries
  std::int32_t* const row = row_of.data() - 1 - F0;
  const std::int32_t* const link = from.link.data() - 1;
  const std::int32_t* const column = from.column.data() - 1;
  const double* const value = from.value.data() - 1;
  rows_of_entries(link, row, F0, from.NZ);
  rt::vec1<std::int32_t> count_of(std::int64_t{order} + 1, 0);
  rt::vec1<std::int32_t> next_of(std::int64_t{order} + 1, 0);
  std::int32_t* const count = count_of.data() - 1;
  std::int32_t* const next = next_of.data() - 1;
  constexpr std::int32_t ahead = 32;
  std::int64_t upper = 0;
  for (std::int32_t k = F0 + 1; k <= from.NZ; ++k) {
    if (k + ahead <= from.NZ) rt::prefetch_write(count + row[k + ahead]);
    if (column[k] >= row[k]) {
      ++count[row[k]];
      ++upper;
    }
  }
  const std::int32_t free_slots = to.row_start(std::int64_t{to.order} + 1);
  if (upper > free_slots) return false;
  // Row I's range: from top(I) = free_slots - (entries of the rows before it) down.
  std::int32_t top = free_slots;
  for (std::int32_t I = 1; I <= order; ++I) {
    next[I] = top - count[I] + 1;
    top -= count[I];
  }
  std::int32_t* const to_column = to.column.data() - 1;
  double* const to_value = to.value.data() - 1;
  std::int32_t* const to_link = to.link.data() - 1;
  for (std::int32_t k = F0 + 1; k <= from.NZ; ++k) {
    if (k + ahead <= from.NZ) {
      const std::int32_t r = row[k + ahead];
      rt::prefetch_write(next + r);
    }
    const std::int32_t I = row[k];
    if (column[k] < I) continue;
    const std::int32_t m = next[I]++;
    to_column[m] = column[k];
    to_value[m] = value[k];
    to_link[m] = m - 1;
  }
  top = free_slots;
  for (std::int32_t I = 1; I <= order; ++I) {
    const std::int32_t n = count[I];
    if (n == 0) continue;
    to.row_start(I) = top;
    to_link[top - n + 1] = -I;
    if (n > long_row_threshold) index_row(to, I, top, top - n + 1, n);
    top -= n;
  }
  to.row_start(std::int64_t{to.order} + 1) = top;
  return true;
}

std::int32_t add_upper(const sparse_store& from, sparse_store& to, int message_level,
                       rt::text_out& message_unit, bool may_pass) {
  if (from.order > to.order) rt::internal_error("upper triangle copied into a smaller store");
  sparse_fill_index& ix = to.fill_index;
  if (ix.long_id.size() != to.order) {          // a store filled without sparse_init
    ix.long_id.assign(to.order, 0);
    drop_tables(ix);
  }
  // Copies the entries J >= I of row I of from, each_slot(f) running f over their slots (and
  // maybe others of the row) in from's chain order while f returns true. Returns 0 to go on,
  // or the status that ends the copy.
  std::int32_t IER = 0;
  const auto copy_row = [&](std::int32_t I, auto&& each_slot) -> std::int32_t {
    if (to.row_start(I) > 0) {                   // the row holds entries already: call by call
      each_slot([&](std::int32_t k) {
        if (from.column(k) < I) return true;
        put_entry(to, I, from.column(k), from.value(k), 5, message_level, message_unit, IER);
        return IER != 701 && IER != 702;
      });
      return IER == 701 || IER == 702 ? IER : 0;
    }
    // An empty row: the columns of from's row are distinct, so each one is new; the chain is
    // closed after every entry, so that a full store leaves a proper row behind.
    std::int32_t& free_counter = to.row_start(std::int64_t{to.order} + 1);
    std::int32_t tail = 0;
    std::int32_t count = 0;
    bool full = false;
    each_slot([&](std::int32_t k) {
      const std::int32_t J = from.column(k);
      if (J < I) return true;
      const std::int32_t F = free_counter;
      if (F < 1) {
        full = true;
        return false;
      }
      to.column(F) = J;
      to.value(F) = from.value(k);
      to.link(F) = -I;
      if (tail == 0)
        to.row_start(I) = F;
      else
        to.link(tail) = F;
      tail = F;
      ++count;
      free_counter = F - 1;
      IER = 0;
      return true;
    });
    if (full) {
      if (message_level >= 0) write_702(message_unit);
      return 702;
    }
    if (count > long_row_threshold) index_row(to, I, to.row_start(I), tail, count);
    return 0;
  };

  // Into an empty store, when the memory for the rows of from's entries is there: passes over
  // from's slots, which do not wait on each other as a walk along the chains does. Otherwise,
  // or when to lacks the room, the chains are walked row by row.
  const std::int32_t order = from.order;
  const std::int32_t F0 = from.row_start(std::int64_t{order} + 1);
  const std::int64_t entries = from.NZ > F0 && F0 >= 0 ? from.NZ - F0 : 0;
  const std::int64_t pass_bytes =
      (entries + 2 * (std::int64_t{order} + 1)) * std::int64_t{sizeof(std::int32_t)};
  if (may_pass && entries > 0 && from.link.size() == from.NZ && from.column.size() == from.NZ &&
      from.value.size() == from.NZ && rt::memory_limit() - rt::memory_held() >= pass_bytes &&
      store_is_empty(to) && chains_run_down(from, F0) && copy_upper_into_empty(from, to, F0, entries))
    return 0;
  for (std::int32_t I = 1; I <= order; ++I) {
    if (from.row_start(I) <= 0) continue;
    const std::int32_t status = copy_row(I, [&](auto&& f) {
      for (std::int32_t k = from.row_start(I); k > 0; k = from.link(k))
        if (!f(k)) return;
    });
    if (status != 0) return status;
  }
  return IER;
}

}  // namespace

std::int32_t sparse_add_upper(const sparse_store& from, sparse_store& to, int message_level,
                              rt::text_out& message_unit) {
  return add_upper(from, to, message_level, message_unit, true);
}

std::int32_t sparse_add_upper_walking(const sparse_store& from, sparse_store& to,
                                      int message_level, rt::text_out& message_unit) {
  return add_upper(from, to, message_level, message_unit, false);
}

// Compacts the entries, in slots F0 + 1 .. NZ, into slots 1 .. nnz row after row, each row in
// chain order, and writes each entry's final slot over its link. When the memory is there,
// the entries are copied to fresh arrays (their tails stay zero) in passes over the slots,
// whose loads and stores do not wait on each other (a chain walk waits on every link): the
// rows of the entries, the rows' lengths, then each entry, highest slot first, to its row's
// next place, chain order being falling slot order (chains_run_down). Otherwise every chain is
// walked once in row order to find the final slots, and the entries are moved in the store
// itself by following the cycles of that permutation, swapping slot by slot, so that every
// entry moves at most once; each move waits on the one before it, which is why the copy is
// preferred. Both give the same store.
void sparse_finish(sparse_store& s) { sparse_finish(s, std::span<std::int32_t>()); }

void sparse_finish(sparse_store& s, std::span<std::int32_t> slots) {
  sparse_fill_index& ix = s.fill_index;
  ix.long_id.release();
  drop_tables(ix);
  std::vector<sparse_long_row>().swap(ix.long_rows);
  std::vector<rt::vec1<sparse_table_cell>>().swap(ix.cell_blocks);

  const std::int32_t order = s.order;
  const std::int32_t NZ = s.NZ;
  const std::int32_t F0 = s.row_start(std::int64_t{order} + 1);

  const std::int64_t copy_bytes =
      static_cast<std::int64_t>(NZ > 0 ? NZ : 0) * (sizeof(std::int32_t) + sizeof(double));
  const bool copy = NZ > 0 && s.column.size() == NZ && s.value.size() == NZ &&
                    s.link.size() == NZ && rt::memory_limit() - rt::memory_held() >= copy_bytes &&
                    chains_run_down(s, F0);
  rt::vec1<std::int32_t> new_column;
  rt::vec1<double> new_value;
  if (copy) {
    new_column.assign_zeros(NZ);
    new_value.assign_zeros(NZ);
  }

  // The walks and the moves below go from slot to slot at random; each asks ahead for the
  // memory of a step a little further on (a row's head, an entry's destination), which it
  // knows without waiting, so that several fetches are under way at once.
  constexpr std::int32_t ahead = 16;
  const std::int32_t* const heads = s.row_start.data();    // row i at heads[i - 1]
  std::int32_t* const links = s.link.data();                // slot k at links[k - 1]
  std::int32_t* const columns = s.column.data();
  double* const values = s.value.data();

  std::int32_t next_slot = 1;
  if (copy) {
    // Rows in falling slot order (chains_run_down): the rows of the entries go into their
    // links, the rows' lengths into row_start, and the entries, from the highest slot down, to
    // their rows' next free places; each link then holds its entry's final slot.
    std::int32_t* const link = links - 1;                  // 1-based views
    std::int32_t* const start = s.row_start.data() - 1;
    const std::int32_t* const column = columns - 1;
    const double* const value = values - 1;
    std::int32_t* const to_column = new_column.data() - 1;
    double* const to_value = new_value.data() - 1;
    rows_of_entries(link, link, F0, NZ);
    for (std::int32_t i = 1; i <= order + 1; ++i) start[i] = 0;
    for (std::int32_t k = F0 + 1; k <= NZ; ++k) {
      if (k + ahead <= NZ) rt::prefetch_write(start + link[k + ahead]);
      ++start[link[k]];
    }
    for (std::int32_t i = 1; i <= order; ++i) {   // start[i]: the first slot of row i
      const std::int32_t length = start[i];
      start[i] = next_slot;
      next_slot += length;
    }
    constexpr std::int32_t far = 4 * ahead;
    for (std::int32_t k = NZ; k > F0; --k) {
      if (k - far > F0) rt::prefetch_write(start + link[k - far]);
      if (k - ahead > F0) {           // the place that entry will take, give or take its row's
        const std::int32_t p = start[link[k - ahead]];    // entries in between
        rt::prefetch_write(to_column + p);
        rt::prefetch_write(to_value + p);
      }
      const std::int32_t p = start[link[k]]++;
      to_column[p] = column[k];
      to_value[p] = value[k];
      link[k] = p;
    }
    for (std::int32_t i = order; i >= 2; --i) start[i] = start[i - 1];   // back to the firsts
    if (order >= 1) start[1] = 1;
  } else {
    for (std::int32_t i = 1; i <= order; ++i) {
      if (i + ahead <= order && heads[i + ahead - 1] > 0)
        __builtin_prefetch(links + (heads[i + ahead - 1] - 1), 1);
      std::int32_t c = s.row_start(i);
      s.row_start(i) = next_slot;
      while (c > 0) {
        const std::int32_t next = s.link(c);
        s.link(c) = next_slot++;                // link now holds the entry's final slot
        c = next;
      }
    }
  }
  s.row_start(std::int64_t{order} + 1) = next_slot;
  const std::int32_t nnz = next_slot - 1;

  for (std::int32_t& k : slots) {             // linked slot (or minus it) -> its final slot
    const std::int32_t a = k < 0 ? -k : k;
    if (a <= F0 || a > NZ) rt::internal_error("slot outside the entries of the store");
    k = k < 0 ? -s.link(a) : s.link(a);
  }

  if (copy) {
    std::swap(s.column, new_column);
    std::swap(s.value, new_value);
    new_column.release();
    new_value.release();
    // Links of the compressed rows mean nothing now: all zero, from fresh zero storage.
    s.link.release();
    s.link.assign_zeros(NZ);
    return;
  }

  // Links: > 0 an entry still to move (its final slot), 0 a free slot, -1 a placed entry.
  for (std::int32_t k = F0 + 1; k <= NZ; ++k) {
    if (k + ahead <= NZ) {
      const std::int32_t e = links[k + ahead - 1];
      if (e > 0) {
        __builtin_prefetch(links + (e - 1), 1);
        __builtin_prefetch(columns + (e - 1), 1);
        __builtin_prefetch(values + (e - 1), 1);
      }
    }
    std::int32_t d = s.link(k);
    while (d > 0) {
      if (d == k) {
        s.link(k) = -1;
        break;
      }
      std::swap(s.column(k), s.column(d));
      std::swap(s.value(k), s.value(d));
      const std::int32_t displaced = s.link(d);   // 0 (free) or an entry still to move
      s.link(d) = -1;
      s.link(k) = displaced;
      d = displaced;
    }
  }

  fill_ints(nnz, s.link, 0);                   // links of the compressed rows mean nothing now
  for (std::int32_t k = (nnz > F0 ? nnz : F0) + 1; k <= NZ; ++k) {
    s.column(k) = 0;
    s.value(k) = 0.0;
    s.link(k) = 0;
  }
}

}  // namespace num

// Minimum-degree ordering on a quotient graph: eliminated nodes become elements that keep a
// boundary list; mass elimination numbers interior nodes at once; a node whose only element
// is one older element is a prototype (its degree follows by inclusion and exclusion) or a
// duplicate of that element's prototype (no degree needed now).
//
// Every tie-break (bucket heads, list order, boundary order) decides the order and, through
// it, the order of the factor's floating-point operations, so the list manipulations below
// are kept step for step.
#include "numeric/min_degree.hpp"

#include <cstdint>
#include <algorithm>
#include <bit>
#include <limits>
#include <utility>
#include <vector>

#include "runtime/process.hpp"

namespace num {
namespace {

constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

// Puts node i at the head of bucket d.
inline void bucket_push(md_work& w, std::int32_t i, std::int32_t d) {
  w.bucket_next(i) = w.bucket_head(d);
  w.bucket_head(d) = i;
  w.bucket_prev(i) = -d;
  if (w.bucket_next(i) > 0) w.bucket_prev(w.bucket_next(i)) = i;
}

// Takes node u out of its degree bucket, if it is in one (bucket_prev(u) = 0: in none).
inline void bucket_remove(md_work& w, std::int32_t u) {
  if (w.bucket_prev(u) == 0) return;
  if (w.bucket_prev(u) > 0)
    w.bucket_next(w.bucket_prev(u)) = w.bucket_next(u);
  else
    w.bucket_head(-w.bucket_prev(u)) = w.bucket_next(u);
  if (w.bucket_next(u) > 0) w.bucket_prev(w.bucket_next(u)) = w.bucket_prev(u);
}

// Builds the adjacency lists from the strict upper triangle, counts initial degrees and
// fills the buckets. Returns false with FLAG set when the lists overflow or a row repeats a
// column.
bool md_init(md_work& w, const rt::vec1<std::int32_t>& row_start,
             const rt::vec1<std::int32_t>& column, std::int64_t& FLAG,
             rt::vec1<std::int32_t>* degree) {
  const std::int32_t n = w.n;
  auto& tag = w.list_node;
  for (std::int32_t i = 1; i <= n; ++i) {
    tag(i) = 1;
    w.list_next(i) = 0;
    w.bucket_head(i) = 0;
  }
  // bucket_head doubles as a "last row that entered column j" mark while the lists are built:
  // a repeated column would enter a node twice in a boundary and corrupt the buckets.
  std::int64_t f = std::int64_t{n} + 1;   // first free cell
  for (std::int32_t i = 1; i <= n; ++i) {
    for (std::int32_t p = row_start(i); p < row_start(i + 1); ++p) {
      const std::int32_t j = column(p);
      if (j <= i) continue;
      if (w.bucket_head(j) == i) {
        FLAG = 2 * std::int64_t{n} + i;
        return false;
      }
      w.bucket_head(j) = i;
      if (f >= w.L) {
        FLAG = 9 * std::int64_t{n} + i;
        return false;
      }
      if (f + 1 > int32_max)
        rt::stop("MATRIX TOO LARGE FOR THE ORDERING: MORE THAN 2147483647 LIST CELLS IN ODRV",
                 rt::exit_error);
      const auto c = static_cast<std::int32_t>(f);
      tag(i) += 1;
      w.list_node(c) = j;
      w.list_next(c) = w.list_next(i);
      w.list_next(i) = c;
      tag(j) += 1;
      w.list_node(c + 1) = i;
      w.list_next(c + 1) = w.list_next(j);
      w.list_next(j) = c + 1;
      f += 2;
    }
  }
  for (std::int32_t i = 1; i <= n; ++i) w.bucket_head(i) = 0;
  if (degree != nullptr) {                  // initial degrees, kept by the counted update
    degree->assign(n, 0);
    for (std::int32_t i = 1; i <= n; ++i) (*degree)(i) = tag(i);
  }
  for (std::int32_t i = 1; i <= n; ++i) {   // highest-numbered node ends first in its bucket
    bucket_push(w, i, tag(i));
    tag(i) = 0;
  }
  return true;
}

// Relinks the uneliminated neighbours of e, direct or through its elements, into e's
// boundary list in the order met; absorbed elements get e's tag.
void md_merge(md_work& w, std::int32_t e, std::int32_t& tail) {
  auto& tag = w.list_node;
  const std::int32_t T = tag(e);
  tail = e;
  std::int32_t ls = w.list_next(e);
  while (ls != 0) {
    const std::int32_t s = ls;
    ls = w.list_next(s);                  // read before s is relinked
    const std::int32_t vs = w.list_node(s);
    if (w.bucket_next(vs) >= 0) {         // a node
      tag(vs) = T;
      w.list_next(tail) = s;
      tail = s;
    } else {                              // an element: take its untagged boundary nodes
      std::int32_t lb = w.list_next(vs);
      const std::int32_t blpmax = w.bucket_prev(vs);
      for (std::int32_t blp = 1; blp <= blpmax; ++blp) {
        const std::int32_t b = lb;
        lb = w.list_next(b);
        const std::int32_t vb = w.list_node(b);
        if (tag(vb) >= T) continue;
        tag(vb) = T;
        w.list_next(tail) = b;
        tail = b;
      }
      tag(vs) = T;                        // absorbed into e
    }
  }
  w.list_next(tail) = 0;
}

// Takes each boundary node out of its bucket, drops absorbed items from its list, numbers
// interior nodes at once, marks prototypes (moved to the end) and duplicates, and enters e
// in each remaining node's list.
void md_purge(md_work& w, std::int32_t& k, std::int32_t e, std::int32_t& tail) {
  auto& tag = w.list_node;
  const std::int32_t T = tag(e);
  std::int32_t li = e;
  std::int32_t free_cell = 0;
  const std::int32_t ilpmax = w.bucket_prev(e);
  for (std::int32_t ilp = 1; ilp <= ilpmax; ++ilp) {
    const std::int32_t i = li;            // previous boundary cell
    li = w.list_next(i);
    const std::int32_t vi = w.list_node(li);
    bucket_remove(w, vi);
    std::int32_t ls = vi;
    for (;;) {
      const std::int32_t s = ls;
      ls = w.list_next(s);
      if (ls == 0) break;
      if (tag(w.list_node(ls)) >= T) {    // e itself, an absorbed element, a boundary node
        free_cell = ls;
        w.list_next(s) = w.list_next(ls);
        ls = s;
      }
    }
    const std::int32_t lvi = w.list_next(vi);
    if (lvi == 0) {                       // interior: numbered right after e
      w.list_next(i) = w.list_next(li);
      li = i;
      ++k;
      w.bucket_next(vi) = -k;
      w.bucket_prev(e) -= 1;
      continue;
    }
    const std::int32_t evi = w.list_node(lvi);
    if (w.list_next(lvi) == 0 && w.bucket_next(evi) < 0) {
      if (tag(evi) >= 0) {                // prototype of element evi: to the end
        w.bucket_prev(vi) = evi;
        tag(evi) = -1;
        w.list_next(tail) = li;
        tail = li;
        w.list_next(i) = w.list_next(li);
        li = i;
      } else {                            // duplicate of that prototype
        w.bucket_prev(vi) = 0;
        tag(evi) -= 1;
      }
    } else {
      w.bucket_prev(vi) = -e;             // degree to be computed
    }
    w.list_node(free_cell) = e;
    w.list_next(free_cell) = w.list_next(vi);
    w.list_next(vi) = free_cell;
  }
  w.list_next(tail) = 0;
}

// Computes the degrees of the boundary nodes of e and puts them back in their buckets.
void md_update(md_work& w, std::int32_t e, std::int32_t& min_degree) {
  auto& tag = w.list_node;
  std::int32_t T0 = tag(e) - w.bucket_prev(e);
  std::int32_t i = e;
  const std::int32_t ilpmax = w.bucket_prev(e);
  for (std::int32_t ilp = 1; ilp <= ilpmax; ++ilp) {
    i = w.list_next(i);
    const std::int32_t vi = w.list_node(i);
    std::int32_t dvi = 0;
    if (w.bucket_prev(vi) == 0) continue;   // duplicate or outmatched: no degree now
    if (w.bucket_prev(vi) < 0) {
      T0 += 1;
      dvi = w.bucket_prev(e);
      bool outmatched = false;
      std::int32_t s = w.list_next(w.list_next(vi));   // the first cell holds e
      while (s != 0) {
        const std::int32_t vs = w.list_node(s);
        if (w.bucket_next(vs) >= 0) {       // a node
          tag(vs) = T0;
          dvi += 1;
        } else if (tag(vs) < 0) {           // element with a prototype: vi is outmatched
          w.bucket_prev(vi) = 0;
          tag(vs) -= 1;
          for (s = w.list_next(s); s != 0; s = w.list_next(s)) {
            const std::int32_t es = w.list_node(s);
            if (tag(es) < 0) tag(es) -= 1;
          }
          outmatched = true;
          break;
        } else {                            // an element: count its untagged boundary
          std::int32_t b = vs;
          const std::int32_t blpmax = w.bucket_prev(vs);
          for (std::int32_t blp = 1; blp <= blpmax; ++blp) {
            b = w.list_next(b);
            const std::int32_t vb = w.list_node(b);
            if (tag(vb) >= T0) continue;
            tag(vb) = T0;
            dvi += 1;
          }
        }
        s = w.list_next(s);
      }
      if (outmatched) continue;
    } else {                                // prototype: union of the two boundaries
      const std::int32_t evi = w.bucket_prev(vi);
      dvi = w.bucket_prev(e) + w.bucket_prev(evi) + tag(evi);
      tag(evi) = 0;
    }
    bucket_push(w, vi, dvi);
    if (dvi < min_degree) min_degree = dvi;
  }
}


// ---- Tracked nodes -------------------------------------------------------------------------
//
// For a tracked node u, entry(x) holds
//   cnt:  the number of elements in u's list whose boundary holds node x, plus 1 when x is a
//         direct neighbour of u in its list;
//   cell: the cell of item x in u's list (0: x is not in it), and prev the item before it
//         (0: x comes first), so an item is unlinked from the singly linked list in O(1).
// support counts the nodes with cnt > 0: once e's boundary is counted it is u's degree
// (u itself lies in the boundary of each of its elements). Live element boundaries only hold
// live nodes and never change after the purge of their own step, so the counts follow from
// three events: an element of u is absorbed (its boundary is subtracted before the merge
// relinks its cells), u's purge drops direct neighbours, and a new element with u in its
// boundary is created (its boundary is added after the purge).

struct track_entry {
  std::int32_t key = 0;   // 0: empty slot
  std::int32_t cnt = 0;
  std::int32_t cell = 0;
  std::int32_t prev = 0;
};

// Open-addressing map from node or element number to its entry; keys are never removed
// (an entry with cnt = 0 and cell = 0 is simply unused).
struct track_map {
  std::vector<track_entry> slots;
  std::uint32_t shift = 32;
  std::int64_t used = 0;

  std::uint32_t home(std::int32_t key) const {
    return static_cast<std::uint32_t>(static_cast<std::uint32_t>(key) * 2654435769u) >> shift;
  }
  track_entry* find(std::int32_t key) {
    const std::uint32_t mask = static_cast<std::uint32_t>(slots.size()) - 1;
    for (std::uint32_t h = home(key);; h = (h + 1) & mask) {
      if (slots[h].key == key) return &slots[h];
      if (slots[h].key == 0) return nullptr;
    }
  }
  void grow() {
    std::vector<track_entry> old;
    old.swap(slots);
    const std::size_t size = old.empty() ? 64 : old.size() * 2;
    slots.assign(size, track_entry{});
    shift = 32;
    for (std::size_t s = size; s > 1; s >>= 1) --shift;
    used = 0;
    for (const auto& o : old)
      if (o.key != 0) at(o.key) = o;
  }
  track_entry& at(std::int32_t key) {   // finds or inserts
    if (!slots.empty()) {
      track_entry* en = find(key);
      if (en != nullptr) return *en;
    }
    if (2 * (used + 1) > static_cast<std::int64_t>(slots.size())) grow();
    const std::uint32_t mask = static_cast<std::uint32_t>(slots.size()) - 1;
    for (std::uint32_t h = home(key);; h = (h + 1) & mask) {
      if (slots[h].key == key) return slots[h];
      if (slots[h].key == 0) {
        slots[h].key = key;
        ++used;
        return slots[h];
      }
    }
  }
};

struct tracked_node {
  std::int32_t node = 0;
  std::int32_t support = 0;   // nodes with cnt > 0
  track_map map;
};

// What one step knows of an element met in the lists of the nodes of M.
struct element_step {
  std::int32_t step = 0;       // step the element was last met in
  std::int32_t local = 0;      // its number among the elements met in that step
  std::int32_t absorbed = 0;   // step it was absorbed in (0: live)
};

struct md_tracker {
  std::int32_t track_from = 1000;
  rt::vec1<std::int32_t> slot_of;             // node -> 1 + index in nodes, 0: not tracked
  std::vector<tracked_node> nodes;
  std::vector<std::int32_t> free_slots;
  std::int32_t n_tracked = 0;
  std::vector<std::int32_t> absorbed;         // elements absorbed by this step's element
  std::vector<std::int32_t> boundary;         // its boundary as merged (before the purge)
  std::vector<std::int32_t> prototyped;       // elements given a prototype in this purge
  std::vector<std::int32_t> adopt;            // nodes to track after this purge
  std::vector<std::int32_t> found;
  std::vector<std::int32_t> element_nodes;    // boundary of an element being absorbed
  // (tracked node, absorbed element holding it) of this step, and the places in M they add to
  // the overlap lists, as (local element, place).
  std::vector<std::pair<std::int32_t, std::int32_t>> tracked_absorbed;
  std::vector<std::pair<std::int32_t, std::int32_t>> tracked_overlap;
  // Items the purge drops from the lists of the tracked nodes of M, as (node, item): item > 0
  // a direct neighbour, item < 0 the element -item.
  std::vector<std::pair<std::int32_t, std::int32_t>> tracked_drops;
  // Counted degrees of the untracked nodes (see count_shared).
  rt::vec1<std::int32_t> degree;              // node -> degree, kept current for untracked nodes
  rt::vec1<std::int32_t> shared;              // node of M -> S(u) of this step
  rt::vec1<std::int32_t> pos;                 // node of M -> its place in M (0-based)
  rt::vec1<element_step> elem;                // element -> what this step knows of it
  std::vector<std::int32_t> lcount;           // local element -> length of its overlap list
  std::vector<std::int32_t> lfirst;           // local element -> start of its overlap list
  std::vector<std::int32_t> lrow;             // local element -> its row of bits, -1: none
  std::vector<std::int32_t> touched;          // elements met in this step, by local number
  std::vector<std::int32_t> overlap;          // places in M of bnd(w) n M, w after w
  std::vector<std::int32_t> tracked_here;     // tracked nodes of M
  std::vector<std::int32_t> items;            // elements, then -1, then direct neighbours in M
  std::vector<std::int32_t> items_at;         // place in M -> start of its items (untracked)
  std::vector<std::uint64_t> rows;            // bit rows over M of the large overlap lists
  std::vector<std::uint64_t> acc;             // bits over M of the reach being counted
  std::int32_t step = 0;
  // A copy of every untracked node's list as a set, in consecutive words: its elements, then
  // its direct neighbours. The purge only ever drops items (and adds the new element, in place
  // of at least one dropped item), so each copy stays within its first extent. Reading these
  // instead of following the list cells saves a cache miss per item.
  std::vector<std::int32_t> pool;
  std::vector<std::int32_t> pool_cell;        // the list cell of each copied item
  rt::vec1<std::int32_t> prev_cell;           // cell of an untracked list -> the cell before it
  std::vector<std::int32_t> drop_cells;       // cells the purge unlinks, node of M after node
  std::vector<std::int32_t> drop_at;          // place in M -> first of its cells in drop_cells
  std::vector<std::pair<std::int32_t, std::int32_t>> kept_direct;
  rt::vec1<std::int64_t> pool_at;             // node -> first word of its copy
  rt::vec1<std::int32_t> n_elements;          // node -> elements in its copy
  rt::vec1<std::int32_t> n_direct;            // node -> direct neighbours in its copy

  tracked_node* of(std::int32_t x) {
    const std::int32_t s = slot_of(x);
    return s == 0 ? nullptr : &nodes[static_cast<std::size_t>(s - 1)];
  }
};

inline void count_node(tracked_node& t, std::int32_t x, std::int32_t delta) {
  track_entry& en = t.map.at(x);
  if (delta > 0) {
    if (en.cnt++ == 0) ++t.support;
  } else {
    if (--en.cnt == 0) --t.support;
  }
}

// Adds (delta = 1) or subtracts (delta = -1) the boundary of element p to u's counts.
void count_boundary(md_work& w, tracked_node& t, std::int32_t p, std::int32_t delta) {
  std::int32_t b = p;
  const std::int32_t blpmax = w.bucket_prev(p);
  for (std::int32_t blp = 1; blp <= blpmax; ++blp) {
    b = w.list_next(b);
    count_node(t, w.list_node(b), delta);
  }
}

void untrack(md_tracker& tr, std::int32_t u) {
  const std::int32_t s = tr.slot_of(u);
  if (s == 0) return;
  tracked_node& t = tr.nodes[static_cast<std::size_t>(s - 1)];
  t = tracked_node{};
  tr.slot_of(u) = 0;
  tr.free_slots.push_back(s);
  --tr.n_tracked;
}

// Starts tracking u: one walk of its list and of its elements' boundaries.
void adopt(md_work& w, md_tracker& tr, std::int32_t u) {
  std::int32_t s = 0;
  if (!tr.free_slots.empty()) {
    s = tr.free_slots.back();
    tr.free_slots.pop_back();
  } else {
    tr.nodes.emplace_back();
    s = static_cast<std::int32_t>(tr.nodes.size());
  }
  tr.slot_of(u) = s;
  ++tr.n_tracked;
  tracked_node& t = tr.nodes[static_cast<std::size_t>(s - 1)];
  t.node = u;
  std::int32_t prev = 0;
  for (std::int32_t c = w.list_next(u); c != 0; c = w.list_next(c)) {
    const std::int32_t item = w.list_node(c);
    if (w.bucket_next(item) < 0)
      count_boundary(w, t, item, 1);
    else
      count_node(t, item, 1);
    track_entry& en = t.map.at(item);
    en.cell = c;
    en.prev = prev;
    prev = item;
  }
}

// Unlinks item x from tracked u's list if it is there; returns its cell (0 if absent).
std::int32_t drop_item(md_work& w, tracked_node& t, std::int32_t x, bool is_node) {
  track_entry* en = t.map.find(x);
  if (en == nullptr || en->cell == 0) return 0;
  const std::int32_t c = en->cell;
  const std::int32_t p = en->prev;
  en->cell = 0;
  en->prev = 0;
  const std::int32_t pc = p == 0 ? t.node : t.map.find(p)->cell;
  const std::int32_t nc = w.list_next(c);
  w.list_next(pc) = nc;
  if (nc != 0) t.map.find(w.list_node(nc))->prev = p;
  if (is_node) count_node(t, x, -1);
  return c;
}

// md_merge, with the boundaries of absorbed elements subtracted from the tracked nodes that
// hold them, and the absorbed elements and the merged boundary recorded for the purge.
void md_merge_tracked(md_work& w, md_tracker& tr, std::int32_t e, std::int32_t& tail) {
  auto& tag = w.list_node;
  const std::int32_t T = tag(e);
  tr.absorbed.clear();
  tr.boundary.clear();
  tr.tracked_absorbed.clear();
  tr.tracked_drops.clear();
  tail = e;
  std::int32_t ls = w.list_next(e);
  while (ls != 0) {
    const std::int32_t s = ls;
    ls = w.list_next(s);
    const std::int32_t vs = w.list_node(s);
    if (w.bucket_next(vs) >= 0) {
      tag(vs) = T;
      w.list_next(tail) = s;
      tail = s;
      tr.boundary.push_back(vs);
    } else {
      // With tracked nodes about, the element's boundary is kept as it is walked (its cells are
      // relinked below) and subtracted afterwards from the tracked nodes in it.
      const bool keep = tr.n_tracked > 0;
      tr.found.clear();
      tr.element_nodes.clear();
      std::int32_t lb = w.list_next(vs);
      const std::int32_t blpmax = w.bucket_prev(vs);
      for (std::int32_t blp = 1; blp <= blpmax; ++blp) {
        const std::int32_t b = lb;
        lb = w.list_next(b);
        const std::int32_t vb = w.list_node(b);
        if (keep) {
          tr.element_nodes.push_back(vb);
          if (tr.slot_of(vb) != 0) tr.found.push_back(vb);
        }
        if (tag(vb) >= T) continue;
        tag(vb) = T;
        w.list_next(tail) = b;
        tail = b;
        tr.boundary.push_back(vb);
      }
      for (const std::int32_t x : tr.found) {
        tracked_node& t = *tr.of(x);
        for (const std::int32_t y : tr.element_nodes) count_node(t, y, -1);
        tr.tracked_absorbed.emplace_back(x, vs);
        tr.tracked_drops.emplace_back(x, -vs);
      }
      tag(vs) = T;
      tr.absorbed.push_back(vs);
    }
  }
  w.list_next(tail) = 0;
}

// md_purge; a tracked node's list loses exactly the items a walk would drop (tag >= T: e,
// the absorbed elements, nodes of the merged boundary), found through its index.
void md_purge_tracked(md_work& w, md_tracker& tr, std::int32_t& k, std::int32_t e,
                      std::int32_t& tail) {
  auto& tag = w.list_node;
  tr.prototyped.clear();
  tr.adopt.clear();
  // The items a walk of a tracked node's list would drop: the absorbed elements holding it and
  // its direct neighbours in M (found by the merge and in the copies of the untracked nodes of
  // M; pairs of tracked nodes are asked of the index), grouped by node in the walk's order.
  for (const std::int32_t u : tr.tracked_here)
    for (const std::int32_t x : tr.tracked_here)
      if (x != u) tr.tracked_drops.emplace_back(u, x);
  std::sort(tr.tracked_drops.begin(), tr.tracked_drops.end(),
            [&tr](const auto& a, const auto& b) { return tr.pos(a.first) < tr.pos(b.first); });
  std::size_t next_drop = 0;
  std::int32_t li = e;
  const std::int32_t ilpmax = w.bucket_prev(e);
  for (std::int32_t ilp = 1; ilp <= ilpmax; ++ilp) {
    const std::int32_t i = li;
    li = w.list_next(i);
    const std::int32_t vi = w.list_node(li);
    bucket_remove(w, vi);
    tracked_node* t = tr.of(vi);
    std::int32_t free_cell = 0;
    std::int32_t len = 0;
    if (t != nullptr) {
      for (; next_drop < tr.tracked_drops.size() && tr.tracked_drops[next_drop].first == vi;
           ++next_drop) {
        const std::int32_t item = tr.tracked_drops[next_drop].second;
        const std::int32_t c = drop_item(w, *t, item > 0 ? item : -item, item > 0);
        if (c != 0) free_cell = c;
      }
      const std::int32_t c = drop_item(w, *t, e, true);
      if (c != 0) free_cell = c;
    } else {
      // The cells to unlink were found in the node's copy; each is unlinked through the cell
      // before it. Which dropped cell takes e does not matter: only the order of the links
      // is ever read.
      const std::size_t j = static_cast<std::size_t>(tr.pos(vi));
      for (std::int32_t q = tr.drop_at[j]; q < tr.drop_at[j + 1]; ++q) {
        const std::int32_t c = tr.drop_cells[static_cast<std::size_t>(q)];
        const std::int32_t p = tr.prev_cell(c);
        const std::int32_t nc = w.list_next(c);
        w.list_next(p) = nc;
        if (nc != 0) tr.prev_cell(nc) = p;
        free_cell = c;
      }
      len = tr.n_elements(vi) - 1 + tr.n_direct(vi);
    }    const std::int32_t lvi = w.list_next(vi);
    if (lvi == 0) {
      w.list_next(i) = w.list_next(li);
      li = i;
      ++k;
      w.bucket_next(vi) = -k;
      w.bucket_prev(e) -= 1;
      untrack(tr, vi);
      continue;
    }
    if (free_cell == 0) rt::internal_error("minimum-degree purge found no cell to reuse");
    const std::int32_t evi = w.list_node(lvi);
    if (w.list_next(lvi) == 0 && w.bucket_next(evi) < 0) {
      if (tag(evi) >= 0) {
        w.bucket_prev(vi) = evi;
        tag(evi) = -1;
        tr.prototyped.push_back(evi);
        w.list_next(tail) = li;
        tail = li;
        w.list_next(i) = w.list_next(li);
        li = i;
      } else {
        w.bucket_prev(vi) = 0;
        tag(evi) -= 1;
      }
    } else {
      w.bucket_prev(vi) = -e;
    }
    w.list_node(free_cell) = e;
    w.list_next(free_cell) = w.list_next(vi);
    w.list_next(vi) = free_cell;
    if (t != nullptr) {
      track_entry& en = t->map.at(e);
      en.cell = free_cell;
      en.prev = 0;
      const std::int32_t nc = w.list_next(free_cell);
      if (nc != 0) t->map.find(w.list_node(nc))->prev = e;
    } else {
      const std::int32_t nc = w.list_next(free_cell);
      tr.prev_cell(free_cell) = vi;
      if (nc != 0) tr.prev_cell(nc) = free_cell;
      tr.pool_cell[static_cast<std::size_t>(tr.pool_at(vi) + tr.n_elements(vi) - 1)] = free_cell;
      if (len + 1 >= tr.track_from) tr.adopt.push_back(vi);
    }
  }
  w.list_next(tail) = 0;
  // e's final boundary enters the counts of the nodes already tracked, then new ones start.
  std::int32_t b = e;
  for (std::int32_t blp = 1; blp <= w.bucket_prev(e); ++blp) {
    b = w.list_next(b);
    tracked_node* t = tr.of(w.list_node(b));
    if (t != nullptr) count_boundary(w, *t, e, 1);
  }
  for (const std::int32_t u : tr.adopt) adopt(w, tr, u);
}

// Counted degrees. The degree update of the plain algorithm recounts each boundary node's reach
// by walking the boundaries of all its elements; a sire with progeny in many herds has dozens
// of elements with long boundaries and is recounted at nearly every step near it, so on large
// pedigrees the walks dominate. The reach R(u) of a node (the nodes adjacent to it directly or
// through an element, u included; the degree is its size) changes only when u lies in the
// merged boundary M of a new element e = v: it becomes (R(u) u M) without v and without the
// nodes numbered by mass elimination (which lie in M and in no other reach). So with
// S(u) = |M n R(u)| taken before u's list is purged,
//   new degree = old degree + |M| - S(u) - 1 - (interior nodes) = old degree + |bnd(e)| - 1 - S(u)
// with bnd(e) the boundary after the purge. S(u) counts u, its direct neighbours in M (tagged by
// the merge) and, for each element w of its list, bnd(w) n M: the nodes of M whose lists hold w,
// gathered in one walk of their lists per step. The union is taken as bits over the places of
// M: many elements of a sire share the same few nodes of M, so a count that visits each
// element's overlap pays little for the repeats. Tracked nodes keep their degree as their
// support instead; their long lists are not walked, so whether a tracked node of M is in R(u)
// is asked of its index, element by element of u's list.
void count_shared(md_work& w, md_tracker& tr, std::int32_t e) {
  auto& tag = w.list_node;
  const std::int32_t T = tag(e);
  const auto m = static_cast<std::int32_t>(tr.boundary.size());
  ++tr.step;
  tr.touched.clear();
  tr.lcount.clear();
  tr.tracked_here.clear();
  for (const std::int32_t a : tr.absorbed) tr.elem(a).absorbed = tr.step;
  tr.items.clear();
  tr.items_at.assign(static_cast<std::size_t>(m) + 1, 0);
  tr.drop_cells.clear();
  tr.drop_at.assign(static_cast<std::size_t>(m) + 1, 0);
  // For each untracked node of M, from its copy: its elements and its direct neighbours in M
  // (tagged by the merge; v, met as a node item, is not one), and how many nodes of M hold each
  // element. The copy is then purged as the list will be: items tagged T or more go (absorbed
  // elements, nodes of M, v) and e comes in.
  // The copies of the nodes of M lie far apart: their starts and first words are fetched a
  // few nodes ahead.
  constexpr std::int32_t ahead = 8;
  for (std::int32_t j = 0; j < std::min(m, 2 * ahead); ++j)
    __builtin_prefetch(&tr.pool_at(tr.boundary[static_cast<std::size_t>(j)]));
  for (std::int32_t j = 0; j < m; ++j) {
    if (j + 2 * ahead < m)
      __builtin_prefetch(&tr.pool_at(tr.boundary[static_cast<std::size_t>(j + 2 * ahead)]));
    if (j + ahead < m) {
      const std::int32_t xa = tr.boundary[static_cast<std::size_t>(j + ahead)];
      __builtin_prefetch(tr.pool.data() + tr.pool_at(xa));
      __builtin_prefetch(tr.pool_cell.data() + tr.pool_at(xa), 1);
      __builtin_prefetch(&tr.n_elements(xa));
      __builtin_prefetch(&tr.n_direct(xa));
    }
    const std::int32_t x = tr.boundary[static_cast<std::size_t>(j)];
    tr.pos(x) = j;
    tr.items_at[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(tr.items.size());
    tr.drop_at[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(tr.drop_cells.size());
    if (tr.slot_of(x) != 0) {
      tr.tracked_here.push_back(x);
      continue;
    }
    std::int32_t* const c = tr.pool.data() + tr.pool_at(x);
    std::int32_t* const cc = tr.pool_cell.data() + tr.pool_at(x);
    const std::int32_t ne = tr.n_elements(x);
    const std::int32_t nd = tr.n_direct(x);
    std::int32_t kept = 0;
    for (std::int32_t q = 0; q < ne; ++q) {
      if (q + 8 < ne) __builtin_prefetch(&tr.elem(c[q + 8]), 1);
      const std::int32_t y = c[q];
      element_step& es = tr.elem(y);
      if (es.step != tr.step) {
        es.step = tr.step;
        es.local = static_cast<std::int32_t>(tr.touched.size());
        tr.touched.push_back(y);
        tr.lcount.push_back(0);
      }
      tr.lcount[static_cast<std::size_t>(es.local)] += 1;
      tr.items.push_back(es.local);
      if (es.absorbed != tr.step) {
        cc[kept] = cc[q];
        c[kept++] = y;
      } else {
        tr.drop_cells.push_back(cc[q]);
      }
    }
    tr.items.push_back(-1);
    tr.kept_direct.clear();
    for (std::int32_t q = ne; q < ne + nd; ++q) {
      const std::int32_t y = c[q];
      if (tag(y) < T) {
        tr.kept_direct.emplace_back(y, cc[q]);
      } else {
        tr.drop_cells.push_back(cc[q]);
        if (y != e) {
          tr.items.push_back(y);
          // Direct adjacency is symmetric: a tracked y of M holds x, which its purge drops.
          if (tr.slot_of(y) != 0) tr.tracked_drops.emplace_back(y, x);
        }
      }
    }
    cc[kept] = 0;                            // e's cell: known after the purge
    c[kept++] = e;
    tr.n_elements(x) = kept;
    for (const auto& [y, cell] : tr.kept_direct) {
      cc[kept] = cell;
      c[kept++] = y;
    }
    tr.n_direct(x) = static_cast<std::int32_t>(tr.kept_direct.size());
    if (kept > ne + nd) rt::internal_error("minimum-degree list copy outgrew its extent");
  }
  tr.items_at[static_cast<std::size_t>(m)] = static_cast<std::int32_t>(tr.items.size());
  tr.drop_at[static_cast<std::size_t>(m)] = static_cast<std::int32_t>(tr.drop_cells.size());
  // The tracked nodes of M are in no copy; they join the overlap lists of the absorbed elements
  // that hold them (live elements are asked of their index below).
  tr.tracked_overlap.clear();
  for (const auto& [x, a] : tr.tracked_absorbed) {
    const element_step& es = tr.elem(a);
    if (es.step != tr.step) continue;        // in no copy of this step
    tr.tracked_overlap.emplace_back(es.local, tr.pos(x));
    tr.lcount[static_cast<std::size_t>(es.local)] += 1;
  }
  // Overlap lists bnd(w) n M as places in M; the long ones also as rows of bits.
  const std::size_t words = (static_cast<std::size_t>(m) + 63) / 64;
  std::int32_t at = 0;
  std::int32_t n_rows = 0;
  const std::size_t n_touched = tr.touched.size();
  tr.lfirst.resize(n_touched);
  tr.lrow.resize(n_touched);
  for (std::size_t l = 0; l < n_touched; ++l) {
    tr.lfirst[l] = at;
    at += tr.lcount[l];
    tr.lrow[l] = static_cast<std::size_t>(tr.lcount[l]) >= 2 * words ? n_rows++ : -1;
    tr.lcount[l] = 0;
  }
  tr.overlap.resize(static_cast<std::size_t>(at));
  tr.rows.assign(static_cast<std::size_t>(n_rows) * words, 0);
  for (std::int32_t j = 0; j < m; ++j) {
    const auto b = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j)]);
    const auto end = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j) + 1]);
    if (b == end) continue;                  // tracked
    for (std::size_t q = b; tr.items[q] != -1; ++q) {
      const auto l = static_cast<std::size_t>(tr.items[q]);
      tr.overlap[static_cast<std::size_t>(tr.lfirst[l] + tr.lcount[l])] = j;
      tr.lcount[l] += 1;
      if (tr.lrow[l] >= 0)
        tr.rows[static_cast<std::size_t>(tr.lrow[l]) * words + static_cast<std::size_t>(j) / 64] |=
            std::uint64_t{1} << (j % 64);
    }
  }
  for (const auto& [l32, j] : tr.tracked_overlap) {
    const auto l = static_cast<std::size_t>(l32);
    tr.overlap[static_cast<std::size_t>(tr.lfirst[l] + tr.lcount[l])] = j;
    tr.lcount[l] += 1;
    if (tr.lrow[l] >= 0)
      tr.rows[static_cast<std::size_t>(tr.lrow[l]) * words + static_cast<std::size_t>(j) / 64] |=
          std::uint64_t{1} << (j % 64);
  }
  // S(u): the bits of u, of its direct neighbours in M and of the overlap lists of its
  // elements, counted once each.
  tr.acc.resize(words);
  for (std::int32_t j = 0; j < m; ++j) {
    const auto b = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j)]);
    const auto end = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j) + 1]);
    if (b == end) continue;                  // tracked: its degree is its support
    std::uint64_t* const acc = tr.acc.data();
    std::fill(acc, acc + words, std::uint64_t{0});
    acc[static_cast<std::size_t>(j) / 64] |= std::uint64_t{1} << (j % 64);
    std::size_t q = b;
    for (; tr.items[q] != -1; ++q) {
      const auto l = static_cast<std::size_t>(tr.items[q]);
      if (tr.lcount[l] == 1) continue;       // u alone
      if (tr.lrow[l] >= 0) {
        const std::uint64_t* row = tr.rows.data() + static_cast<std::size_t>(tr.lrow[l]) * words;
        for (std::size_t k = 0; k < words; ++k) acc[k] |= row[k];
      } else {
        const std::int32_t* p = tr.overlap.data() + tr.lfirst[l];
        const std::int32_t* const pe = p + tr.lcount[l];
        for (; p != pe; ++p) acc[static_cast<std::size_t>(*p) / 64] |= std::uint64_t{1} << (*p % 64);
      }
    }
    for (++q; q < end; ++q) {
      const std::int32_t x = tr.pos(tr.items[q]);
      acc[static_cast<std::size_t>(x) / 64] |= std::uint64_t{1} << (x % 64);
    }
    // A tracked node x of M shares a live element with u when u has a positive count in x's
    // index (the merge has already taken the absorbed elements out of the counts; those came
    // in through the overlap lists).
    const std::int32_t u = tr.boundary[static_cast<std::size_t>(j)];
    for (const std::int32_t x : tr.tracked_here) {
      const std::int32_t px = tr.pos(x);
      if ((acc[static_cast<std::size_t>(px) / 64] >> (px % 64)) & 1U) continue;
      const track_entry* en = tr.of(x)->map.find(u);
      if (en != nullptr && en->cnt > 0)
        acc[static_cast<std::size_t>(px) / 64] |= std::uint64_t{1} << (px % 64);
    }
    std::int32_t shared = 0;
    for (std::size_t k = 0; k < words; ++k) shared += std::popcount(acc[k]);
    tr.shared(tr.boundary[static_cast<std::size_t>(j)]) = shared;
  }
}

// md_update with counted degrees: a node is outmatched when an element of its list carries a
// prototype mark (a negative tag), as the walk would find (for a tracked node only this step's
// prototyped elements can), and otherwise takes its counted degree or, when tracked, its
// support. The node tags a walk would write are read by no later comparison: the merge and the
// purge compare against the step tag, which only grows.
void md_update_tracked(md_work& w, md_tracker& tr, std::int32_t e, std::int32_t& min_degree) {
  auto& tag = w.list_node;
  const std::int32_t bf = w.bucket_prev(e);   // the boundary after the purge
  std::int32_t i = e;
  for (std::int32_t j = 1; j <= bf; ++j) {
    i = w.list_next(i);
    const std::int32_t u = w.list_node(i);
    if (tr.slot_of(u) == 0) tr.degree(u) += bf - 1 - tr.shared(u);
  }
  i = e;
  for (std::int32_t j = 1; j <= bf; ++j) {
    i = w.list_next(i);
    const std::int32_t vi = w.list_node(i);
    std::int32_t dvi = 0;
    if (w.bucket_prev(vi) == 0) continue;     // duplicate or outmatched: no degree now
    tracked_node* t = tr.of(vi);
    if (w.bucket_prev(vi) < 0) {
      bool outmatched = false;
      if (t != nullptr) {
        for (const std::int32_t p : tr.prototyped) {
          const track_entry* en = t->map.find(p);
          if (en != nullptr && en->cell != 0 && tag(p) < 0) {
            tag(p) -= 1;
            outmatched = true;
          }
        }
      } else if (!tr.prototyped.empty()) {
        // The elements of vi's list after the purge: the element part of its copy. Only the
        // elements given a prototype in this purge carry a negative tag.
        const std::int32_t* const c = tr.pool.data() + tr.pool_at(vi);
        for (std::int32_t q = 0; q < tr.n_elements(vi); ++q) {
          const std::int32_t vs = c[q];
          if (tag(vs) < 0) {
            tag(vs) -= 1;
            outmatched = true;
          }
        }
      }
      if (outmatched) {
        w.bucket_prev(vi) = 0;
        continue;
      }
      dvi = t != nullptr ? t->support : tr.degree(vi);
    } else {                                  // prototype: union of the two boundaries
      const std::int32_t evi = w.bucket_prev(vi);
      dvi = w.bucket_prev(e) + w.bucket_prev(evi) + tag(evi);
      tag(evi) = 0;
      if (dvi != (t != nullptr ? t->support : tr.degree(vi)))
        rt::internal_error("minimum-degree prototype degree differs from the counted degree");
    }
    bucket_push(w, vi, dvi);
    if (dvi < min_degree) min_degree = dvi;
  }
}

}  // namespace

void min_degree_order(md_work& w, const rt::vec1<std::int32_t>& row_start,
                      const rt::vec1<std::int32_t>& column, std::int64_t& FLAG,
                      const md_options& options) {
  const std::int32_t n = w.n;
  auto& tag = w.list_node;
  md_tracker tr;
  if (!md_init(w, row_start, column, FLAG, options.literal ? nullptr : &tr.degree)) return;
  if (!options.literal) {
    tr.track_from = options.track_from < 1 ? 1 : options.track_from;
    tr.slot_of.assign(n, 0);
    tr.shared.assign(n, 0);
    tr.pos.assign(n, 0);

    // The copies start as the adjacency lists (nodes only).
    tr.pool_at.assign(n, 0);
    tr.n_elements.assign(n, 0);
    tr.n_direct.assign(n, 0);
    std::int64_t cells = 0;
    for (std::int32_t i = 1; i <= n; ++i) cells += tr.degree(i) - 1;
    tr.pool.clear();
    tr.pool.reserve(static_cast<std::size_t>(cells));
    tr.pool_cell.clear();
    tr.pool_cell.reserve(static_cast<std::size_t>(cells));
    tr.prev_cell.assign(n + cells, 0);     // the cells in use: heads and adjacency items
    for (std::int32_t i = 1; i <= n; ++i) {
      tr.pool_at(i) = static_cast<std::int64_t>(tr.pool.size());
      for (std::int32_t p = i, c = w.list_next(i); c != 0; p = c, c = w.list_next(c)) {
        tr.pool.push_back(w.list_node(c));
        tr.pool_cell.push_back(c);
        tr.prev_cell(c) = p;
      }
      tr.n_direct(i) = static_cast<std::int32_t>(tr.pool.size() - static_cast<std::size_t>(tr.pool_at(i)));
    }
    tr.elem.assign(n, element_step{});
  }
  std::int64_t T = 0;
  std::int32_t k = 0;
  std::int32_t min_degree = 1;
  while (k < n) {
    while (w.bucket_head(min_degree) <= 0) {
      ++min_degree;
      if (min_degree > n) rt::internal_error("minimum-degree buckets empty before the end");
    }
    const std::int32_t v = w.bucket_head(min_degree);
    w.bucket_head(min_degree) = w.bucket_next(v);
    if (w.bucket_head(min_degree) > 0) w.bucket_prev(w.bucket_head(min_degree)) = -min_degree;
    ++k;
    w.bucket_next(v) = -k;
    const std::int32_t e = v;               // v becomes element e
    w.bucket_prev(e) = min_degree - 1;
    T += min_degree - 1;
    if (T > int32_max)
      rt::stop("MATRIX TOO LARGE FOR THE ORDERING: STEP TAG EXCEEDS 2147483647 IN ODRV",
               rt::exit_error);
    tag(e) = static_cast<std::int32_t>(T);
    std::int32_t tail = 0;
    if (options.literal) {
      md_merge(w, e, tail);
      md_purge(w, k, e, tail);
      md_update(w, e, min_degree);
    } else {
      untrack(tr, e);
      md_merge_tracked(w, tr, e, tail);
      count_shared(w, tr, e);
      md_purge_tracked(w, tr, k, e, tail);
      md_update_tracked(w, tr, e, min_degree);
    }
  }
  for (std::int32_t i = 1; i <= n; ++i) {
    w.bucket_next(i) = -w.bucket_next(i);   // inverse_permutation(i)
    w.bucket_prev(w.bucket_next(i)) = i;    // permutation
  }
  FLAG = 0;
}

}  // namespace num

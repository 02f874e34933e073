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
// column. With `degree` (the counted update) only the degrees are kept: that update keeps
// the lists as copies of its own and links cells only for the nodes it tracks.
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
      tag(j) += 1;
      f += 2;
      if (degree != nullptr) continue;
      w.list_node(c) = j;
      w.list_next(c) = w.list_next(i);
      w.list_next(i) = c;
      w.list_node(c + 1) = i;
      w.list_next(c + 1) = w.list_next(j);
      w.list_next(j) = c + 1;
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

// A boundary node whose purged list is empty is interior: it leaves the boundary of e (the
// caller unlinks it) and is numbered right after e. Returns whether it was.
inline bool number_if_interior(md_work& w, std::int32_t& k, std::int32_t e, std::int32_t vi,
                               bool list_empty) {
  if (!list_empty) return false;
  ++k;
  w.bucket_next(vi) = -k;
  w.bucket_prev(e) -= 1;
  return true;
}

// The sole item of the purged list of vi when that item is an element, or 0.
inline std::int32_t sole_element(const md_work& w, std::int32_t vi) {
  const std::int32_t lvi = w.list_next(vi);
  const std::int32_t evi = w.list_node(lvi);
  return w.list_next(lvi) == 0 && w.bucket_next(evi) < 0 ? evi : 0;
}

// After the purge of boundary node vi: a node whose list is one older element evi
// (sole_element) is that element's prototype (the caller moves it to the end of the boundary)
// or a duplicate of its prototype; any other gets its degree computed. Returns the element vi
// became the prototype of, or 0.
std::int32_t classify(md_work& w, std::int32_t e, std::int32_t vi, std::int32_t evi) {
  auto& tag = w.list_node;
  std::int32_t proto = 0;
  if (evi != 0) {
    if (tag(evi) >= 0) {                  // prototype of element evi: to the end
      w.bucket_prev(vi) = evi;
      tag(evi) = -1;
      proto = evi;
    } else {                              // duplicate of that prototype
      w.bucket_prev(vi) = 0;
      tag(evi) -= 1;
    }
  } else {
    w.bucket_prev(vi) = -e;               // degree to be computed
  }
  return proto;
}

// Enters e at the front of vi's list, in free_cell.
inline void enter_element(md_work& w, std::int32_t e, std::int32_t vi, std::int32_t free_cell) {
  w.list_node(free_cell) = e;
  w.list_next(free_cell) = w.list_next(vi);
  w.list_next(vi) = free_cell;
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
    if (number_if_interior(w, k, e, vi, w.list_next(vi) == 0)) {
      w.list_next(i) = w.list_next(li);
      li = i;
      continue;
    }
    if (classify(w, e, vi, sole_element(w, vi)) != 0) {   // to the end
      w.list_next(tail) = li;
      tail = li;
      w.list_next(i) = w.list_next(li);
      li = i;
    }
    enter_element(w, e, vi, free_cell);
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


// ---- Counted degrees ---------------------------------------------------------------------------
//
// The plain update recounts each boundary node's reach by walking the boundaries of all its
// elements; a sire with progeny in many herds has dozens of elements with long boundaries and
// is recounted at nearly every step near it, so on large pedigrees the walks dominate. Here the
// degrees are counted instead. The reach R(u) of a node (the nodes adjacent to it directly or
// through an element, u included; the degree is its size) changes only when u lies in the
// merged boundary M of a new element e = v: it becomes (R(u) u M) without v and without the
// nodes numbered by mass elimination (which lie in M and in no other reach). So with
// S(u) = |M n R(u)| taken before u's list is purged,
//   new degree = old degree + |M| - S(u) - 1 - (interior nodes) = old degree + |bnd(e)| - 1 - S(u)
// with bnd(e) the boundary after the purge.
//
// For most nodes S(u) is gathered per step from compact copies of the lists of the nodes of M
// (see count_shared). A node whose list reaches track_from cells (a dense fixed-effect row, a
// sire with many elements) is tracked instead: reading its list at every step it meets would
// cost more than all the rest, so its list is never read while it lives.
// - The items it loses are found from the other side: each entry of an element's stored
//   boundary records the cell of that node's list that holds the element, and adjacency cells
//   come in pairs, one in each end's list.
// - Each element keeps the bits of the tracked nodes its boundary holds (at most 64 nodes are
//   tracked at once, by slot), so a node with a copy finds its tracked neighbours in M through
//   its elements; by symmetry those counts are the tracked nodes' counts of such neighbours.
// - Two tracked nodes are adjacent when they are direct neighbours or share an element: for
//   each pair of tracked nodes the number of live elements holding both is kept.

// What one step knows of an element met in the lists of the nodes of M. The slots of the
// tracked nodes its boundary holds sit in the same record: the first meeting of an element in
// a step reads both. (This record and node_track start as zeros, from zeroed storage.)
struct element_step {
  std::uint32_t seen;          // 2 x the step the element was last met in, + 1 if absorbed in it
  std::int32_t local;          // its number among the elements met in that step, -1: not yet
  std::uint64_t hubs;          // slots of the tracked nodes its boundary holds
};

// What is kept of a node, in one record: a node of M is visited by every pass of a step.
struct node_track {
  std::int32_t pool_at;      // first word of its list copy
  std::int32_t n_elements;   // elements in its copy
  std::int32_t n_direct;     // direct neighbours in its copy
  std::int32_t pos;          // as a node of M: its place in M (0-based)
  std::int32_t slot;         // its tracking slot (1..max_slots), 0: not tracked
  std::int32_t degree;       // its degree, kept current; for an absorbed element: -1
  std::int32_t shared;       // as a node of M: S(u) of this step
  std::int32_t spare;        // for an element: its slot in md_tracker::elem
};

// One node of an element's boundary and the cell of that node's list that holds the element
// (a tracked node loses it there when the element is absorbed).
struct boundary_entry {
  std::int32_t node;
  std::int32_t mirror;
};

// What one step knows of an element met in it, by its local number.
struct local_element {
  std::uint64_t hubs = 0;      // slots of the tracked nodes its boundary holds
  std::int32_t count = 0;      // nodes of M met holding it; then the length of its overlap list
  std::int32_t first = 0;      // start of its overlap list, -1: met by one node only
  std::int32_t row = 0;        // its row of bits over M, -1: none
  std::int32_t proto = 0;      // itself if it was given a prototype in this step, else 0
};

constexpr std::int32_t max_slots = 64;

struct md_tracker {
  std::int32_t track_from = 1000;
  std::int32_t rows_as_met_words = 4;
  std::int32_t step = 0;
  // Where the adjacency cells start: cells first_pair + 2k and first_pair + 2k + 1 hold the two
  // ends of one entry, each in the other's list.
  std::int64_t first_pair = 0;
  rt::vec1<node_track> node;                  // node -> what is kept of it
  // The live elements' records sit in slots, reused once an element is absorbed, so that
  // they stay close together; list copies name elements by slot.
  rt::vec1<element_step> elem;                // slot -> what this step knows of its element
  rt::vec1<std::int32_t> slot_element;        // slot -> its element
  std::vector<std::int32_t> free_elem_slots;
  std::int32_t elem_slots_used = 0;
  std::vector<local_element> local;           // elements met in this step, by local number
  std::vector<std::int32_t> overlap;          // places in M of bnd(w) n M, w after w
  std::vector<std::int32_t> items;            // elements, then -1, then direct neighbours in M
  std::vector<std::int32_t> items_at;         // place in M -> start of its items (untracked)
  std::vector<std::uint64_t> rows;            // bit rows over M of the large overlap lists
  std::vector<std::uint64_t> acc;             // bits over M of the reach being counted
  // Every untracked node's list as a copy in consecutive words: its elements (by slot) in the
  // order they entered, then its direct neighbours in the order they entered. The list itself
  // is the copy read backwards in each part (every item enters at the front), so the linked
  // cells of an untracked node are left as the initial lists had them and only a tracked
  // node's list is kept linked. The purge only ever drops items (and adds the new element, in
  // place of at least one dropped item), so each copy stays within its first extent.
  rt::vec1<std::int32_t> pool;                // (read through data(), from word 0)
  // The cell of each copied direct neighbour; the element part holds spare cells of the
  // node's first list, one per element, which its elements take if it is tracked.
  rt::vec1<std::int32_t> pool_cell;
  rt::vec1<std::int32_t> prev_cell;           // cell of a tracked node's list -> the cell before it
  std::vector<std::pair<std::int32_t, std::int32_t>> kept_direct;
  // Tracked nodes: each has a slot (1..max_slots; 0: not tracked).
  rt::vec1<std::int32_t> slot_of;
  std::int32_t node_of[max_slots + 1] = {};
  std::vector<std::int32_t> free_slots;
  std::vector<std::int32_t> shared_elements;  // slot x slot -> live elements holding both
  // tracked node -> (tracked direct neighbour, the cell of its own list holding it)
  std::vector<std::vector<std::pair<std::int32_t, std::int32_t>>> hub_direct;
  rt::vec1<std::int32_t> free_of;             // tracked node -> a cell dropped in free_step
  rt::vec1<std::int32_t> free_step;
  // Per step.
  std::vector<std::int32_t> absorbed;         // elements absorbed by this step's element
  // Its boundary: m nodes as merged, then (after the purge) the nodes that stay, prototypes
  // last, and the cells of e's list that hold them.
  std::vector<std::int32_t> boundary;
  std::vector<std::int32_t> boundary_mirror;  // after the purge: the cell holding e in its list
  std::int32_t m = 0;
  std::vector<std::pair<std::int32_t, std::int32_t>> proto_nodes;   // prototypes: (node, mirror)
  // The boundaries of the elements, fixed from their making until they are absorbed, as
  // consecutive entries (the element's first at node(e).pool_at: a node's copy is not needed
  // once it is an element). Absorbed boundaries are squeezed out when the store is full and at
  // least half of it is dead. Element lists are not linked: these are read instead.
  std::vector<boundary_entry> element_boundary;
  std::size_t element_boundary_used = 0;
  std::size_t element_boundary_live = 0;
  std::vector<std::int32_t> boundary_owner;  // the elements with stored boundaries, in order
  std::vector<std::int32_t> tracked_here;     // tracked nodes of M
  std::vector<std::int32_t> prototyped;       // elements given a prototype in this purge
  std::vector<std::int32_t> adopt;            // nodes to track after this step
  // (tracked node of M, prototyped element holding it), by node
  std::vector<std::pair<std::int32_t, std::int32_t>> outmatch;

  bool is_tracked(std::int32_t x) const { return node(x).slot != 0; }
  std::uint64_t bit_of(std::int32_t x) const { return std::uint64_t{1} << (node(x).slot - 1); }
  std::int32_t& pair_count(std::int32_t a, std::int32_t b) {   // two slots, 0-based
    return shared_elements[static_cast<std::size_t>(a) * max_slots + static_cast<std::size_t>(b)];
  }
};

// The record of element e.
inline element_step& element_of(md_tracker& tr, std::int32_t e) { return tr.elem(tr.node(e).spare); }

// Gives the new element e a slot: the last one freed, or a new one.
void take_element_slot(md_tracker& tr, std::int32_t e) {
  std::int32_t s;
  if (!tr.free_elem_slots.empty()) {
    s = tr.free_elem_slots.back();
    tr.free_elem_slots.pop_back();
  } else {
    s = ++tr.elem_slots_used;
  }
  tr.elem(s) = element_step{0, 0, 0};
  tr.slot_element(s) = e;
  tr.node(e).spare = s;
}

// Marks (or unmarks) the elements prototyped in this step's purge by their local numbers. An
// element that no untracked node of M met has none (only tracked nodes hold it).
void mark_prototyped(md_tracker& tr, bool on) {
  const std::uint32_t seen_now = 2U * static_cast<std::uint32_t>(tr.step);
  for (const std::int32_t p : tr.prototyped) {
    const element_step& es = element_of(tr, p);
    if ((es.seen | 1) == (seen_now | 1) && es.local >= 0)
      tr.local[static_cast<std::size_t>(es.local)].proto = on ? p : 0;
  }
}

// Cell holding the other end of the adjacency entry whose one end is cell c.
inline std::int32_t partner(const md_tracker& tr, std::int32_t c) {
  return static_cast<std::int32_t>(tr.first_pair + ((c - tr.first_pair) ^ 1));
}

// Unlinks cell c from the list of tracked node x.
inline void drop_cell(md_work& w, md_tracker& tr, std::int32_t x, std::int32_t c) {
  const std::int32_t p = tr.prev_cell(c);
  const std::int32_t nc = w.list_next(c);
  w.list_next(p) = nc;
  if (nc != 0) tr.prev_cell(nc) = p;
  tr.free_of(x) = c;
  tr.free_step(x) = tr.step;
}

// Adds delta to the shared-element counts of every pair of tracked nodes in element p's boundary.
void count_pairs(md_tracker& tr, std::int32_t p, std::int32_t delta) {
  const std::uint64_t hubs = element_of(tr, p).hubs;
  for (std::uint64_t a = hubs; a != 0; a &= a - 1) {
    const int sa = std::countr_zero(a);
    for (std::uint64_t b = a & (a - 1); b != 0; b &= b - 1) {
      const int sb = std::countr_zero(b);
      tr.pair_count(sa, sb) += delta;
      tr.pair_count(sb, sa) += delta;
    }
  }
}

// Stores the boundary of the new element e: the first k nodes of the step's boundary record.
void store_boundary(md_tracker& tr, std::int32_t e, std::int32_t k) {
  auto& store = tr.element_boundary;
  const auto need = static_cast<std::size_t>(k);
  if (tr.element_boundary_used + need > store.size()) {
    if (2 * (tr.element_boundary_live + need) <= store.size()) {
      // Squeeze out the boundaries of absorbed elements, in order.
      std::size_t at = 0;
      std::size_t kept = 0;
      for (const std::int32_t f : tr.boundary_owner) {
        if (tr.node(f).degree < 0) continue;   // absorbed (its slot may serve another now)
        node_track& r = tr.node(f);
        const std::size_t size = static_cast<std::size_t>(r.n_elements);
        if (static_cast<std::size_t>(r.pool_at) != at)   // moves towards the front only
          std::copy_n(store.begin() + r.pool_at, size, store.begin() + static_cast<std::ptrdiff_t>(at));
        r.pool_at = static_cast<std::int32_t>(at);
        at += size;
        tr.boundary_owner[kept++] = f;
      }
      tr.boundary_owner.resize(kept);
      tr.element_boundary_used = at;
    }
    if (tr.element_boundary_used + need > store.size())
      store.resize(std::max(2 * store.size(), tr.element_boundary_used + need));
    if (store.size() > static_cast<std::size_t>(int32_max))
      rt::stop("MATRIX TOO LARGE FOR THE ORDERING: ELEMENT BOUNDARIES EXCEED 2147483647 ENTRIES IN ODRV",
               rt::exit_error);
  }
  node_track& r = tr.node(e);
  r.pool_at = static_cast<std::int32_t>(tr.element_boundary_used);
  r.n_elements = k;                       // the boundary's length (bucket_prev(e) too)
  boundary_entry* const out = store.data() + tr.element_boundary_used;
  for (std::int32_t q = 0; q < k; ++q)
    out[q] = boundary_entry{tr.boundary[static_cast<std::size_t>(q)],
                            tr.boundary_mirror[static_cast<std::size_t>(q)]};
  tr.element_boundary_used += need;
  tr.element_boundary_live += need;
  tr.boundary_owner.push_back(e);
}

// md_merge, recording the absorbed elements and the merged boundary, and unlinking from the
// lists of tracked nodes the absorbed elements and v (when v is tracked, its tracked neighbours
// drop it through their pairs in the purge).
void md_merge_fast(md_work& w, md_tracker& tr, std::int32_t e) {
  auto& tag = w.list_node;
  const std::int32_t T = tag(e);
  const bool v_tracked = tr.is_tracked(e);
  tr.absorbed.clear();
  std::int32_t* const boundary = tr.boundary.data();   // room for every node
  std::int32_t m = 0;
  // A node item of v's list, held in v's list at cell s.
  const auto take_node = [&](std::int32_t vs, std::int32_t s) {
    tag(vs) = T;
    boundary[m++] = vs;
    if (!v_tracked && tr.is_tracked(vs)) drop_cell(w, tr, vs, partner(tr, s));
  };
  // An element of v's list: its untagged boundary nodes join, and it is absorbed.
  const auto take_element = [&](std::int32_t vs) {
    const std::int32_t blpmax = w.bucket_prev(vs);
    const boundary_entry* const eb = tr.element_boundary.data() + tr.node(vs).pool_at;
    const bool holds_tracked = element_of(tr, vs).hubs != 0;
    for (std::int32_t q = 0; q < blpmax; ++q) {
      if (q + 8 < blpmax) __builtin_prefetch(&tag(eb[q + 8].node));
      const std::int32_t vb = eb[q].node;
      if (holds_tracked && vb != e && tr.is_tracked(vb)) drop_cell(w, tr, vb, eb[q].mirror);
      if (tag(vb) >= T) continue;
      tag(vb) = T;
      boundary[m++] = vb;
    }
    tag(vs) = T;                          // absorbed into e
    tr.absorbed.push_back(vs);
    tr.element_boundary_live -= static_cast<std::size_t>(blpmax);
    tr.node(vs).degree = -1;
  };
  if (v_tracked) {                        // its linked list
    for (std::int32_t s = w.list_next(e); s != 0; s = w.list_next(s)) {
      const std::int32_t vs = w.list_node(s);
      if (w.bucket_next(vs) >= 0)
        take_node(vs, s);
      else
        take_element(vs);
    }
  } else {
    // Its copy, in the order of its list: the list takes each new element at its front, and
    // its direct neighbours stand behind the elements in the reverse of their order of entry,
    // while the copy keeps both parts in their order of entry.
    const std::int32_t* const c = tr.pool.data() + tr.node(e).pool_at;
    const std::int32_t* const cc = tr.pool_cell.data() + tr.node(e).pool_at;
    const std::int32_t ne = tr.node(e).n_elements;
    for (std::int32_t q = ne - 1; q >= 0; --q) take_element(tr.slot_element(c[q]));
    for (std::int32_t q = ne + tr.node(e).n_direct - 1; q >= ne; --q) take_node(c[q], cc[q]);
  }
  tr.m = m;
}

// S(u) for every node of M, and the list copies of the untracked ones purged as the lists
// will be. The union is taken as bits over the places of M: many elements of a sire share the
// same few nodes of M, so a count that visits each element's overlap pays little for the
// repeats.
// (POPCNT where the processor has it: the counts run over bits at every step.)
__attribute__((target_clones("popcnt", "default")))
void count_shared(md_work& w, md_tracker& tr, std::int32_t e) {
  auto& tag = w.list_node;
  const std::int32_t T = tag(e);
  const std::int32_t m = tr.m;
  tr.tracked_here.clear();
  std::uint64_t in_m = 0;                    // slots of the tracked nodes of M
  const std::uint32_t seen_now = 2U * static_cast<std::uint32_t>(tr.step);
  for (const std::int32_t a : tr.absorbed) {
    element_step& es = element_of(tr, a);
    es.seen = seen_now + 1;
    es.local = -1;
  }
  // The union is taken as bits over the places of M. For a small M each element met gets its
  // row of bits at once; for a large one, only the elements met often get rows, from overlap
  // lists made after the first pass.
  const std::size_t words = (static_cast<std::size_t>(m) + 63) / 64;
  const bool rows_as_met = words <= static_cast<std::size_t>(tr.rows_as_met_words);
  std::size_t n_items = 0;                   // items written
  std::size_t n_touched = 0;                 // elements met
  tr.items_at.assign(static_cast<std::size_t>(m) + 1, 0);
  // For each untracked node of M, from its copy: its elements and its direct neighbours in M
  // (tagged by the merge; v, met as a node item, is not one), and how many nodes of M hold each
  // element. The copy is then purged as md_purge purges a list: items tagged T or more go
  // (absorbed elements, nodes of M, v) and e comes in. A tracked direct neighbour in M loses
  // the node from its list through the paired cell.
  // The copies of the nodes of M lie far apart: their starts and first words are fetched a
  // few nodes ahead.
  constexpr std::int32_t ahead = 8;
  for (std::int32_t j = 0; j < std::min(m, 2 * ahead); ++j)
    __builtin_prefetch(&tr.node(tr.boundary[static_cast<std::size_t>(j)]).pool_at);
  for (std::int32_t j = 0; j < m; ++j) {
    if (j + 2 * ahead < m)
      __builtin_prefetch(&tr.node(tr.boundary[static_cast<std::size_t>(j + 2 * ahead)]).pool_at);
    if (j + ahead < m) {
      const std::int32_t xa = tr.boundary[static_cast<std::size_t>(j + ahead)];
      __builtin_prefetch(tr.pool.data() + tr.node(xa).pool_at);
      __builtin_prefetch(tr.pool_cell.data() + tr.node(xa).pool_at + tr.node(xa).n_elements, 1);
      __builtin_prefetch(&tr.node(xa).n_elements);
      __builtin_prefetch(&tr.node(xa).n_direct);
    }
    if (j + 2 < m) {                         // the first element records of a near node
      const std::int32_t xb = tr.boundary[static_cast<std::size_t>(j + 2)];
      const std::int32_t* const cb = tr.pool.data() + tr.node(xb).pool_at;
      for (std::int32_t q = 0; q < std::min(8, tr.node(xb).n_elements); ++q)
        __builtin_prefetch(&tr.elem(cb[q]), 1);
    }
    const std::int32_t x = tr.boundary[static_cast<std::size_t>(j)];
    tr.node(x).pos = j;
    tr.items_at[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(n_items);
    if (tr.is_tracked(x)) {
      tr.tracked_here.push_back(x);
      in_m |= tr.bit_of(x);
      continue;
    }
    std::int32_t* const c = tr.pool.data() + tr.node(x).pool_at;
    std::int32_t* const cc = tr.pool_cell.data() + tr.node(x).pool_at;
    const std::int32_t ne = tr.node(x).n_elements;
    const std::int32_t nd = tr.node(x).n_direct;
    // Room for this node's items (its elements, -1, its direct neighbours) and for as many
    // new elements, written through plain pointers.
    const std::size_t room = n_items + static_cast<std::size_t>(ne + nd) + 1;
    if (tr.items.size() < room) tr.items.resize(std::max(room, 2 * tr.items.size()));
    if (tr.local.size() < n_touched + static_cast<std::size_t>(ne))
      tr.local.resize(std::max(n_touched + ne, 2 * tr.local.size()));
    if (rows_as_met && tr.rows.size() < (n_touched + static_cast<std::size_t>(ne)) * words)
      tr.rows.resize(std::max((n_touched + ne) * words, 2 * tr.rows.size()));
    const std::size_t jw = static_cast<std::size_t>(j) / 64;
    const std::uint64_t jbit = std::uint64_t{1} << (j % 64);
    if (tr.kept_direct.size() < static_cast<std::size_t>(nd)) tr.kept_direct.resize(2 * static_cast<std::size_t>(nd));
    std::int32_t* const items = tr.items.data();
    local_element* const local = tr.local.data();
    std::int32_t kept = 0;
    for (std::int32_t q = 0; q < ne; ++q) {
      if (q + 8 < ne) __builtin_prefetch(&tr.elem(c[q + 8]), 1);
      const std::int32_t y = c[q];
      element_step& es = tr.elem(y);
      if ((es.seen | 1) != (seen_now | 1) || es.local < 0) {
        if ((es.seen | 1) != (seen_now | 1)) es.seen = seen_now;
        es.local = static_cast<std::int32_t>(n_touched);
        if (rows_as_met) {
          std::uint64_t* const r = tr.rows.data() + n_touched * words;
          for (std::size_t k = 0; k < words; ++k) r[k] = 0;
          r[jw] = jbit;
        }
        local[n_touched].count = 1;
        local[n_touched++].hubs = es.hubs;
      } else {
        local[es.local].count += 1;
        if (rows_as_met) tr.rows[static_cast<std::size_t>(es.local) * words + jw] |= jbit;
      }
      items[n_items++] = es.local;
      if (es.seen == seen_now) c[kept++] = y;   // (its cell stays a spare one)
    }
    items[n_items++] = -1;
    // The direct neighbours that stay move one place on when no element went: kept aside first.
    std::pair<std::int32_t, std::int32_t>* const kd = tr.kept_direct.data();
    std::int32_t n_kept_direct = 0;
    std::int32_t dropped_cell = 0;
    for (std::int32_t q = ne; q < ne + nd; ++q) {
      if (q + 8 < ne + nd) __builtin_prefetch(&tag(c[q + 8]));
      const std::int32_t y = c[q];
      if (tag(y) < T) {
        kd[n_kept_direct++] = {y, cc[q]};
      } else {
        dropped_cell = cc[q];
        if (y != e) {
          items[n_items++] = y;
          if (tr.is_tracked(y)) drop_cell(w, tr, y, partner(tr, cc[q]));
        }
      }
    }
    // The element part's cells are spare cells of x's first list (not holding a direct
    // neighbour), one per element, for when x is tracked; with no element gone, a dropped
    // direct neighbour gives its cell to e.
    if (kept == ne) {
      if (dropped_cell == 0) rt::internal_error("minimum-degree copy lost no item in a step");
      cc[kept] = dropped_cell;
    }
    c[kept++] = tr.node(e).spare;           // (elements by their slots)
    tr.node(x).n_elements = kept;
    for (std::int32_t q = 0; q < n_kept_direct; ++q) {
      cc[kept] = kd[q].second;
      c[kept++] = kd[q].first;
    }
    tr.node(x).n_direct = n_kept_direct;
    if (kept > ne + nd) rt::internal_error("minimum-degree list copy outgrew its extent");
  }
  tr.items_at[static_cast<std::size_t>(m)] = static_cast<std::int32_t>(n_items);
  // Overlap lists bnd(w) n M as places in M; the long ones also as rows of bits. (With rows
  // written as met, every element has its row already.)
  if (rows_as_met) {
    for (std::size_t l = 0; l < n_touched; ++l) {
      local_element& le = tr.local[l];
      le.first = le.count == 1 ? -1 : 0;
      le.row = static_cast<std::int32_t>(l);
    }
  } else {
    std::int32_t at = 0;
    std::int32_t n_rows = 0;
    for (std::size_t l = 0; l < n_touched; ++l) {
      local_element& le = tr.local[l];
      if (le.count == 1) {                     // met by one node only: no list (first -1)
        le.first = -1;
        continue;
      }
      le.first = at;
      at += le.count;
      le.row = static_cast<std::size_t>(le.count) >= 2 * words ? n_rows++ : -1;
      le.count = 0;
    }
    tr.overlap.resize(static_cast<std::size_t>(at));
    tr.rows.assign(static_cast<std::size_t>(n_rows) * words, 0);
    const auto enter = [&tr, words](std::size_t l, std::int32_t j) {
      local_element& le = tr.local[l];
      tr.overlap[static_cast<std::size_t>(le.first + le.count)] = j;
      le.count += 1;
      if (le.row >= 0)
        tr.rows[static_cast<std::size_t>(le.row) * words + static_cast<std::size_t>(j) / 64] |=
            std::uint64_t{1} << (j % 64);
    };
    for (std::int32_t j = 0; j < m; ++j) {
      const auto b = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j)]);
      const auto end = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j) + 1]);
      if (b == end) continue;                  // tracked
      for (std::size_t q = b; tr.items[q] != -1; ++q) {
        const auto l = static_cast<std::size_t>(tr.items[q]);
        if (tr.local[l].first >= 0) enter(l, j);
      }
    }
  }
  // S(u) of an untracked u: the bits of u, of its direct neighbours in M and of the overlap
  // lists of its elements, counted once each, and the slots of the tracked nodes of M found
  // through them. Each tracked node of M found there counts u.
  for (const std::int32_t x : tr.tracked_here) tr.node(x).shared = 1;
  tr.acc.resize(words);
  for (std::int32_t j = 0; j < m; ++j) {
    const auto b = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j)]);
    const auto end = static_cast<std::size_t>(tr.items_at[static_cast<std::size_t>(j) + 1]);
    if (b == end) continue;                  // tracked: counted below
    std::uint64_t* const acc = tr.acc.data();
    std::fill(acc, acc + words, std::uint64_t{0});
    acc[static_cast<std::size_t>(j) / 64] |= std::uint64_t{1} << (j % 64);
    std::uint64_t hubs = 0;
    std::size_t q = b;
    for (; tr.items[q] != -1; ++q) {
      const auto l = static_cast<std::size_t>(tr.items[q]);
      const local_element& le = tr.local[l];
      hubs |= le.hubs;
      if (le.first < 0) continue;            // u alone
      if (le.row >= 0) {
        const std::uint64_t* row = tr.rows.data() + static_cast<std::size_t>(le.row) * words;
        for (std::size_t k = 0; k < words; ++k) acc[k] |= row[k];
      } else {
        const std::int32_t* p = tr.overlap.data() + le.first;
        const std::int32_t* const pe = p + le.count;
        for (; p != pe; ++p) acc[static_cast<std::size_t>(*p) / 64] |= std::uint64_t{1} << (*p % 64);
      }
    }
    for (++q; q < end; ++q) {
      const std::int32_t y = tr.items[q];
      if (tr.is_tracked(y)) {
        hubs |= tr.bit_of(y);
      } else {
        const std::int32_t x = tr.node(y).pos;
        acc[static_cast<std::size_t>(x) / 64] |= std::uint64_t{1} << (x % 64);
      }
    }
    hubs &= in_m;
    std::int32_t shared = std::popcount(hubs);
    for (std::size_t k = 0; k < words; ++k) shared += std::popcount(acc[k]);
    tr.node(tr.boundary[static_cast<std::size_t>(j)]).shared = shared;
    for (; hubs != 0; hubs &= hubs - 1) tr.node(tr.node_of[std::countr_zero(hubs) + 1]).shared += 1;
  }
  // Pairs of tracked nodes of M: adjacent through a shared element (live, or absorbed now and
  // not yet taken out of the counts) or directly.
  for (std::size_t a = 0; a < tr.tracked_here.size(); ++a) {
    const std::int32_t x = tr.tracked_here[a];
    for (std::size_t b = a + 1; b < tr.tracked_here.size(); ++b) {
      const std::int32_t y = tr.tracked_here[b];
      bool adjacent = tr.pair_count(tr.node(x).slot - 1, tr.node(y).slot - 1) > 0;
      if (!adjacent)
        for (const auto& pr : tr.hub_direct[static_cast<std::size_t>(x)])
          if (pr.first == y) adjacent = true;
      if (adjacent) {
        tr.node(x).shared += 1;
        tr.node(y).shared += 1;
      }
    }
  }
}

// md_purge; an untracked node's list (its copy) is purged already, a tracked node's linked list
// has already lost its absorbed elements, v and its untracked neighbours in M, and now loses
// its tracked neighbours in M (each cell unlinked through the cell before it) and takes e in a
// cell it lost.
void md_purge_fast(md_work& w, md_tracker& tr, std::int32_t& k, std::int32_t e) {
  auto& tag = w.list_node;
  const std::int32_t T = tag(e);
  tr.prototyped.clear();
  tr.adopt.clear();
  tr.proto_nodes.clear();
  std::int32_t* const boundary = tr.boundary.data();
  std::int32_t* const boundary_mirror = tr.boundary_mirror.data();
  std::int32_t kept = 0;                  // nodes that stay, written over the merged boundary
  // The nodes' bucket links, list heads and records, and the cells to be unlinked, lie far
  // apart: they are fetched a few nodes and cells ahead.
  constexpr std::int32_t ahead = 4;
  for (std::int32_t idx = 0; idx < tr.m; ++idx) {
    if (idx + ahead < tr.m) {
      const std::int32_t va = boundary[idx + ahead];
      __builtin_prefetch(&w.bucket_prev(va), 1);
      __builtin_prefetch(&w.bucket_next(va), 1);
      __builtin_prefetch(&tr.node(va), 1);
    }
    const std::int32_t vi = boundary[idx];
    bucket_remove(w, vi);
    const bool tracked = tr.is_tracked(vi);
    std::int32_t free_cell = 0;
    std::int32_t len = 0;
    if (tracked) {
      auto& pairs = tr.hub_direct[static_cast<std::size_t>(vi)];
      for (std::size_t q = 0; q < pairs.size();) {
        if (tag(pairs[q].first) >= T) {   // a tracked neighbour in M, or v
          drop_cell(w, tr, vi, pairs[q].second);
          pairs[q] = pairs.back();
          pairs.pop_back();
        } else {
          ++q;
        }
      }
      if (tr.free_step(vi) == tr.step) free_cell = tr.free_of(vi);
    } else {
      len = tr.node(vi).n_elements - 1 + tr.node(vi).n_direct;
    }
    // An untracked node's copy is its list (purged, with e entered at the end of the element
    // part already): it tells whether the list is empty or one element.
    const bool list_empty = tracked ? w.list_next(vi) == 0
                                    : tr.node(vi).n_elements == 1 && tr.node(vi).n_direct == 0;
    if (number_if_interior(w, k, e, vi, list_empty)) continue;
    const std::int32_t evi =
        tracked ? sole_element(w, vi)
                : (tr.node(vi).n_elements == 2 && tr.node(vi).n_direct == 0
                       ? tr.slot_element(tr.pool.data()[tr.node(vi).pool_at]) : 0);
    const std::int32_t proto = classify(w, e, vi, evi);
    if (tracked) {                        // e enters its linked list
      if (free_cell == 0) rt::internal_error("minimum-degree purge found no cell to reuse");
      enter_element(w, e, vi, free_cell);
      const std::int32_t nc = w.list_next(free_cell);
      tr.prev_cell(free_cell) = vi;
      if (nc != 0) tr.prev_cell(nc) = free_cell;
    } else if (len + 1 >= tr.track_from) {
      tr.adopt.push_back(vi);
    }
    if (proto != 0) {                     // to the end
      tr.prototyped.push_back(proto);
      tr.proto_nodes.emplace_back(vi, free_cell);
    } else {
      boundary[kept] = vi;
      boundary_mirror[kept++] = free_cell;
    }
  }
  for (const auto& [vi, cell] : tr.proto_nodes) {
    boundary[kept] = vi;
    boundary_mirror[kept++] = cell;
  }
  if (kept != w.bucket_prev(e)) rt::internal_error("minimum-degree purge lost count of the boundary");
  store_boundary(tr, e, kept);
  // The tracked nodes of e's boundary and their pairs, and the tracked nodes that a prototyped
  // element holding them will outmatch.
  std::uint64_t hubs = 0;
  for (std::int32_t q = 0; q < kept; ++q)
    if (tr.is_tracked(boundary[q])) hubs |= tr.bit_of(boundary[q]);
  element_of(tr, e).hubs = hubs;
  count_pairs(tr, e, 1);
  tr.outmatch.clear();
  for (const std::int32_t p : tr.prototyped)
    for (std::uint64_t bits = element_of(tr, p).hubs; bits != 0; bits &= bits - 1) {
      const std::int32_t h = tr.node_of[std::countr_zero(bits) + 1];
      if (tag(h) == T) tr.outmatch.emplace_back(h, p);
    }
  std::sort(tr.outmatch.begin(), tr.outmatch.end());
  mark_prototyped(tr, true);
}

// md_update with counted degrees. A node is outmatched when an element of its list carries a
// prototype mark (a negative tag), as the walk would find: for an untracked node from its copy,
// for a tracked one from the prototyped elements' tracked nodes. The node tags a walk would
// write are read by no later comparison: the merge and the purge compare against the step tag,
// which only grows.
void md_update_fast(md_work& w, md_tracker& tr, std::int32_t e, std::int32_t& min_degree) {
  auto& tag = w.list_node;
  const std::int32_t bf = w.bucket_prev(e);   // the boundary after the purge, in order
  const std::int32_t* const boundary = tr.boundary.data();
  for (std::int32_t j = 0; j < bf; ++j) {
    const std::int32_t u = boundary[j];
    tr.node(u).degree += bf - 1 - tr.node(u).shared;
  }
  // The buckets the nodes go to are fetched a few nodes ahead.
  constexpr std::int32_t ahead = 4;
  for (std::int32_t j = 0; j < bf; ++j) {
    if (j + ahead < bf) __builtin_prefetch(&w.bucket_head(tr.node(boundary[j + ahead]).degree), 1);
    const std::int32_t vi = boundary[j];
    if (w.bucket_prev(vi) == 0) continue;     // duplicate or outmatched: no degree now
    std::int32_t dvi = tr.node(vi).degree;
    if (w.bucket_prev(vi) < 0) {
      bool outmatched = false;
      if (tr.is_tracked(vi)) {
        auto it = std::lower_bound(tr.outmatch.begin(), tr.outmatch.end(),
                                   std::pair<std::int32_t, std::int32_t>{vi, 0});
        for (; it != tr.outmatch.end() && it->first == vi; ++it) {
          tag(it->second) -= 1;
          outmatched = true;
        }
      } else if (!tr.prototyped.empty()) {
        // Only the elements given a prototype in this purge carry a negative tag, and they
        // were met in this step: vi's items (its elements before the purge, absorbed ones
        // included, which are never prototyped) name them by local number.
        const std::int32_t* q = tr.items.data() + tr.items_at[static_cast<std::size_t>(tr.node(vi).pos)];
        for (; *q != -1; ++q) {
          const std::int32_t vs = tr.local[static_cast<std::size_t>(*q)].proto;
          if (vs != 0) {
            tag(vs) -= 1;
            outmatched = true;
          }
        }
      }
      if (outmatched) {
        w.bucket_prev(vi) = 0;
        continue;
      }
    } else {                                  // prototype: union of the two boundaries
      const std::int32_t evi = w.bucket_prev(vi);
      dvi = w.bucket_prev(e) + w.bucket_prev(evi) + tag(evi);
      tag(evi) = 0;
      if (dvi != tr.node(vi).degree)
        rt::internal_error("minimum-degree prototype degree differs from the counted degree");
    }
    bucket_push(w, vi, dvi);
    if (dvi < min_degree) min_degree = dvi;
  }
  mark_prototyped(tr, false);
}

// Starts tracking u (after the step that found its list long), if a slot is free: its elements
// learn that their boundaries hold it, and tracked direct neighbours exchange their cells.
// Links u's list from its copy, for tracking: its direct neighbours in the cells they were
// given at the start, its elements in the spare cells its copy keeps for them. Each element
// learns the cell that holds it.
void relink_list(md_work& w, md_tracker& tr, std::int32_t u) {
  const std::int32_t* const c = tr.pool.data() + tr.node(u).pool_at;
  const std::int32_t* const cc = tr.pool_cell.data() + tr.node(u).pool_at;
  const std::int32_t ne = tr.node(u).n_elements;
  const std::int32_t nd = tr.node(u).n_direct;
  std::int32_t prev = u;
  const auto link = [&](std::int32_t cell) {
    w.list_next(prev) = cell;
    tr.prev_cell(cell) = prev;
    prev = cell;
  };
  for (std::int32_t q = ne - 1; q >= 0; --q) {   // newest element first, as in the list
    const std::int32_t f = tr.slot_element(c[q]);
    const std::int32_t cell = cc[q];
    w.list_node(cell) = f;
    link(cell);
    boundary_entry* const eb = tr.element_boundary.data() + tr.node(f).pool_at;
    for (std::int32_t b = 0; b < tr.node(f).n_elements; ++b)
      if (eb[b].node == u) eb[b].mirror = cell;
  }
  for (std::int32_t q = ne + nd - 1; q >= ne; --q) {
    w.list_node(cc[q]) = c[q];
    link(cc[q]);
  }
  w.list_next(prev) = 0;
}

void adopt(md_work& w, md_tracker& tr, std::int32_t u) {
  if (tr.free_slots.empty()) return;
  relink_list(w, tr, u);
  const std::int32_t s = tr.free_slots.back();
  tr.free_slots.pop_back();
  tr.node(u).slot = s;
  tr.node_of[s] = u;
  for (std::int32_t t = 0; t < max_slots; ++t) {   // the slot's counts start from nothing
    tr.pair_count(s - 1, t) = 0;
    tr.pair_count(t, s - 1) = 0;
  }
  const std::int32_t* const c = tr.pool.data() + tr.node(u).pool_at;
  const std::int32_t* const cc = tr.pool_cell.data() + tr.node(u).pool_at;
  const std::int32_t ne = tr.node(u).n_elements;
  for (std::int32_t q = 0; q < ne; ++q) {
    std::uint64_t& hubs = tr.elem(c[q]).hubs;
    for (std::uint64_t bits = hubs; bits != 0; bits &= bits - 1) {
      tr.pair_count(s - 1, std::countr_zero(bits)) += 1;
      tr.pair_count(std::countr_zero(bits), s - 1) += 1;
    }
    hubs |= tr.bit_of(u);
  }
  for (std::int32_t q = ne; q < ne + tr.node(u).n_direct; ++q) {
    const std::int32_t y = c[q];
    if (!tr.is_tracked(y) || y == u) continue;
    tr.hub_direct[static_cast<std::size_t>(u)].emplace_back(y, cc[q]);
    tr.hub_direct[static_cast<std::size_t>(y)].emplace_back(u, partner(tr, cc[q]));
  }
}

}  // namespace

void min_degree_order(md_work& w, const rt::vec1<std::int32_t>& row_start,
                      const rt::vec1<std::int32_t>& column, std::int64_t& FLAG,
                      const md_options& options) {
  const std::int32_t n = w.n;
  auto& tag = w.list_node;
  md_tracker tr;
  rt::vec1<std::int32_t> degree;
  if (!md_init(w, row_start, column, FLAG, options.literal ? nullptr : &degree)) return;
  if (!options.literal) {
    tr.node.assign_zeros(n);
    for (std::int32_t i = 1; i <= n; ++i) tr.node(i).degree = degree(i);
    degree = {};
    tr.track_from = options.track_from < 1 ? 1 : options.track_from;
    tr.rows_as_met_words = std::max(options.rows_as_met_words, 0);
    tr.first_pair = std::int64_t{n} + 1;
    tr.elem.assign_zeros(n);
    tr.slot_element.assign_zeros(n);
    // The copies start as the adjacency lists (nodes only), built the way md_init built the
    // lists: the k-th entry (i, j) above the diagonal took cell n + 1 + 2k in i's list and the
    // next cell in j's list, each entered at the front; a copy keeps the order of entry.
    std::int64_t cells = 0;
    for (std::int32_t i = 1; i <= n; ++i) {
      tr.node(i).pool_at = static_cast<std::int32_t>(cells);
      cells += tr.node(i).degree - 1;
    }
    tr.pool.resize_for_overwrite(cells);   // every word is written below
    tr.pool_cell.resize_for_overwrite(cells);
    tr.prev_cell.assign_zeros(n + cells);  // the cells in use (written when a node is tracked)
    const auto enter = [&tr](std::int32_t x, std::int32_t y, std::int32_t cell) {
      node_track& r = tr.node(x);
      const auto at = static_cast<std::size_t>(r.pool_at + r.n_direct);
      tr.pool.data()[at] = y;
      tr.pool_cell.data()[at] = cell;
      r.n_direct += 1;
    };
    std::int32_t cell = n + 1;
    for (std::int32_t i = 1; i <= n; ++i) {
      for (std::int32_t p = row_start(i); p < row_start(i + 1); ++p) {
        const std::int32_t j = column(p);
        if (j <= i) continue;
        enter(i, j, cell);
        enter(j, i, cell + 1);
        cell += 2;
      }
    }
    tr.shared_elements.assign(static_cast<std::size_t>(max_slots) * max_slots, 0);
    for (std::int32_t s = max_slots; s >= 1; --s) tr.free_slots.push_back(s);
    tr.hub_direct.resize(static_cast<std::size_t>(n) + 1);
    tr.boundary.assign(static_cast<std::size_t>(n), 0);
    tr.boundary_mirror.assign(static_cast<std::size_t>(n), 0);
    tr.free_of.assign(n, 0);
    tr.free_step.assign(n, 0);
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
      ++tr.step;
      take_element_slot(tr, e);
      md_merge_fast(w, tr, e);
      count_shared(w, tr, e);
      md_purge_fast(w, tr, k, e);
      md_update_fast(w, tr, e, min_degree);
      // The absorbed elements leave the pair counts; a tracked v gives its slot back.
      for (const std::int32_t a : tr.absorbed) count_pairs(tr, a, -1);
      // No list copy names the absorbed elements any more: their slots are free.
      for (const std::int32_t a : tr.absorbed) tr.free_elem_slots.push_back(tr.node(a).spare);
      if (tr.is_tracked(e)) {
        tr.free_slots.push_back(tr.node(e).slot);
        tr.node(e).slot = 0;
        tr.hub_direct[static_cast<std::size_t>(e)] = {};
      }
      for (const std::int32_t u : tr.adopt) adopt(w, tr, u);
    }
  }
  for (std::int32_t i = 1; i <= n; ++i) {
    w.bucket_next(i) = -w.bucket_next(i);   // inverse_permutation(i)
    w.bucket_prev(w.bucket_next(i)) = i;    // permutation
  }
  FLAG = 0;
}

}  // namespace num

// Minimum-degree ordering on a quotient graph: eliminated nodes become elements that keep a
// boundary list; mass elimination numbers interior nodes at once; a node whose only element
// is one older element is a prototype (its degree follows by inclusion and exclusion) or a
// duplicate of that element's prototype (no degree needed now).
//
// Every tie-break (bucket heads, list order, boundary order) decides the order and, through
// it, the order of the factor's floating-point operations, so the list manipulations below
// are kept step for step.
#include "numeric/min_degree.hpp"

#include <limits>
#include <string>

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

// Builds the adjacency lists from the strict upper triangle, counts initial degrees and
// fills the buckets. Returns false with FLAG set when the lists overflow or a row repeats a
// column.
bool md_init(md_work& w, const rt::vec1<std::int32_t>& row_start,
             const rt::vec1<std::int32_t>& column, std::int64_t& FLAG) {
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
    if (w.bucket_prev(vi) != 0) {
      if (w.bucket_prev(vi) > 0)
        w.bucket_next(w.bucket_prev(vi)) = w.bucket_next(vi);
      else
        w.bucket_head(-w.bucket_prev(vi)) = w.bucket_next(vi);
      if (w.bucket_next(vi) > 0) w.bucket_prev(w.bucket_next(vi)) = w.bucket_prev(vi);
    }
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

}  // namespace

void min_degree_order(md_work& w, const rt::vec1<std::int32_t>& row_start,
                      const rt::vec1<std::int32_t>& column, std::int64_t& FLAG) {
  const std::int32_t n = w.n;
  auto& tag = w.list_node;
  if (!md_init(w, row_start, column, FLAG)) return;
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
    md_merge(w, e, tail);
    md_purge(w, k, e, tail);
    md_update(w, e, min_degree);
  }
  for (std::int32_t i = 1; i <= n; ++i) {
    w.bucket_next(i) = -w.bucket_next(i);   // inverse_permutation(i)
    w.bucket_prev(w.bucket_next(i)) = i;    // permutation
  }
  FLAG = 0;
}

}  // namespace num

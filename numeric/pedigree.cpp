// The pedigree pass: parent checks, inbreeding, inverse relationship terms.
#include "numeric/pedigree.hpp"

#include <span>
#include <string_view>
#include <utility>

#include "numeric/equation_coding.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

namespace num {

namespace {

constexpr int ped_unit = 2;
constexpr int error_file_unit = 3;

// Stops the run on a "ped.txt" line that would index outside the pedigree.
[[noreturn]] void stop_bad_line(std::int32_t X, std::string_view what) {
  rt::text_out& con = rt::console();
  rt::write(con, {""});
  rt::write(con, {"FATAL ERROR IN PEDIGREE FILE, LINE", X});
  rt::write(con, {what});
  rt::write(con, {""});
  rt::stop("", rt::exit_error);
}

// Stops the run when a level of the block's effects would fall outside its own equations.
void check_block(const pedigree_pass_input& in, const rt::vec1<std::int32_t>& NLEV,
                 const rt::vec1<std::int32_t>& CORR, const rt::vec3<double>& g_inverse) {
  const std::int32_t e = in.effect;
  const std::int64_t n_effects = CORR.size();
  if (e < 1 || e > n_effects || CORR(e) < 0 || CORR(e) > 2 ||
      e + CORR(e) - 1 > n_effects || NLEV.size() < n_effects ||
      g_inverse.extent(1) < n_effects) {
    rt::write(rt::console(), {"FATAL ERROR: PEDIGREE EFFECT", e, "HAS NO VALID CORR BLOCK."});
    rt::stop("", rt::exit_error);
  }
  for (std::int32_t a = 0; a < CORR(e); ++a) {
    if (NLEV(e + a) < in.n_pedigree) {
      rt::text_out& con = rt::console();
      rt::write(con, {""});
      rt::write(con, {"FATAL ERROR: EFFECT", e + a, "HAS FEWER LEVELS (NLEV) THAN"});
      rt::write(con, {"PEDIGREE MEMBERS:", NLEV(e + a), "<", in.n_pedigree});
      rt::write(con, {""});
      rt::stop("", rt::exit_error);
    }
  }
}

// The pending set holds bit m for member m: word m / 64 (element m / 64 + 1) of level 0 at
// bit m % 64, and a bit for each word of level 0 in level 1 (element m / 4096 + 1, bit
// (m / 64) % 64), set while the word is not zero. Room is made for member n + 1, the walk's
// stand-in for an unknown parent, whose bit is never set.
void pending_allocate(pedigree_work& w, std::int32_t n) {
  const std::int64_t words = (static_cast<std::int64_t>(n) + 2 + 63) / 64;
  for (auto& set : w.pending) {
    set[0].assign(words, 0);
    set[1].assign((words + 63) / 64, 0);
  }
}

// A walk's hold on its pending set. The walk takes its ancestors largest first, and every
// ancestor it adds is a parent of the one just taken, so smaller: the largest pending member
// never moves up. The level-1 word that holds it is therefore found by going down from the
// word of the last one taken (`search`), past the words emptied meanwhile, and no summary
// above level 1 is kept: each one would add a load and a store to every step of the walk,
// one waiting on the other. The walk also keeps the smallest member it has added: when it
// takes that one, nothing is left, and no search goes below it. A walk's searches pass over
// each level-1 word at most once, from its root's word down to its smallest ancestor's.
// Insertion and removal run without branches on the set's contents: which way such a branch
// goes changes from one ancestor to the next, and its mispredictions would cost more than the
// few word operations done always.
struct pending_view {
  rt::vec1<std::uint64_t>& bits;    // level 0
  rt::vec1<std::uint64_t>& words;   // level 1
  std::int64_t search;              // element of level 1 that held the last member taken
  std::int32_t smallest;            // the smallest member added, or the walk's own member
};

// Adds member m when known is 1 (nothing when 0: m is then the stand-in n + 1, above every
// member of the walk, so it never becomes the smallest). Adding a member already there
// changes nothing.
inline void pending_insert(pending_view& p, std::int32_t m, std::uint64_t known) {
  const std::uint64_t at = static_cast<std::uint64_t>(m);
  p.bits(static_cast<std::int64_t>(at / 64) + 1) |= known << (at % 64);
  p.words(static_cast<std::int64_t>(at / 4096) + 1) |= known << (at / 64 % 64);
  p.smallest = m < p.smallest ? m : p.smallest;
}

// Removes and returns the largest pending member; the set holds one at least (the smallest
// added, not yet taken). The words read are cleared from those values, not read again, so that
// the clearing waits for no load.
inline std::int32_t pending_pop_largest(pending_view& p) {
  std::int64_t k = p.search;
  while (p.words(k) == 0) --k;
  p.search = k;
  const std::uint64_t summary = p.words(k);
  const std::uint64_t word_bit = static_cast<std::uint64_t>(63 - __builtin_clzll(summary));
  const std::int64_t element = (k - 1) * 64 + static_cast<std::int64_t>(word_bit) + 1;
  const std::uint64_t word = p.bits(element);
  const std::uint64_t bit = static_cast<std::uint64_t>(63 - __builtin_clzll(word));
  const std::uint64_t left = word & ~(std::uint64_t{1} << bit);
  p.bits(element) = left;
  p.words(k) = summary & ~(static_cast<std::uint64_t>(left == 0) << word_bit);
  return static_cast<std::int32_t>((element - 1) * 64 + static_cast<std::int64_t>(bit));
}

void allocate_work(pedigree_work& w, std::int32_t n) {
  w.member.assign(static_cast<std::int64_t>(n) + 1, pedigree_member{});  // n + 1: unknown parent
  w.inbreeding_coefficients.assign(static_cast<std::int64_t>(n) + 1, 0.0);
  w.inbreeding_coefficients(1) = -1.0;  // F(0): an unknown parent
  w.walk_for.assign(n, 0);
  w.walks_side_by_side = 0;
  pending_allocate(w, n);
}

void free_work(pedigree_work& w) {
  w.member.release();
  w.inbreeding_coefficients.release();
  w.walk_for.release();
  for (auto& set : w.pending)
    for (rt::vec1<std::uint64_t>& level : set) level.release();
}

void write_error_file_head(rt::text_out& f) {
  rt::put(f, rt::fixed_line().A("+++++++++++", 11));
  rt::put(f, rt::fixed_line().A("ERRORS FILE", 11));
  rt::put(f, rt::fixed_line().A("+++++++++++", 11));
  rt::write(f, {""});
  rt::put(f, rt::fixed_line().A("PEDIGREE INCONSISTENCIES", 24));
  rt::put(f, rt::fixed_line().A("------------------------", 24));
  rt::write(f, {""});
  rt::put(f, rt::fixed_line().A("     ID", 7).X(2).A("OBSERVATIONS", 12));
  rt::put(f, rt::fixed_line().A("-------", 7).X(2).A("------------", 12));
}

// Adds q to the weight (in walk Walk) of ancestor m and queues m; known is 1 for a parent, 0
// for an unknown one, whose m is then the stand-in record n + 1 that takes the weight and is
// never queued (nor read). The walk meets an ancestor again only before its own turn (its
// descendants all have larger numbers), so queueing it again changes nothing. The first
// meeting finds the weight at 0.0 and makes it the sum 0.0 + q. The parents of the ancestor
// are read when its turn comes, after the walk has gone through the larger members still
// pending: their records are asked for now, so that they have arrived from memory by then.
template <std::int32_t Walk>
inline void pass_weight(pedigree_work& w, pending_view& p, std::int32_t m, std::uint64_t known,
                        double q) {
  pedigree_member& a = w.member(m);
  a.ancestor_weight[Walk] = a.ancestor_weight[Walk] + q;
  pending_insert(p, m, known);
  const pedigree_member* records = w.member.data();  // member p at records[p - 1]
  const std::int32_t s = a.larger_parent, d = a.smaller_parent;
  __builtin_prefetch(records + ((s > 0 ? s : 1) - 1), 1);
  __builtin_prefetch(records + ((d > 0 ? d : 1) - 1), 1);
}

// Inbreeding coefficient of member X (both parents known): the ancestors are visited in
// descending member order, so each one is reached only after every descendant in the walk has
// passed half its weight on; F(X) = sum of weight^2 x D over the visited members, minus 1.
// The pending ancestors sit in a bit set with a summary level rather than a sorted linked list,
// so an insertion or the removal of the largest costs a few word operations instead of a scan
// of the list. An ancestor's weight lives in its own member record, next to the parents and D
// the visit reads; the visit sets it back to 0.0 (no later meeting in the walk can come), so
// the walk leaves every weight it used at 0.0 and nothing is cleared between walks.
//
// Two walks of different members can run side by side, a visit of one after a visit of the
// other, each with its own weights and pending set: neither reads what the other writes (the
// parents and D they both read are fixed once a member's line is read), and each does its own
// sums in its own order, so each gives what it gives alone, even when one member is an
// ancestor of the other. Every visit waits on the one before it in the same walk (the pending
// set, the weights); interleaved, the visits of the two walks overlap in the processor.
template <std::int32_t Walk>
struct walk_state {
  pending_view p;
  std::int32_t Z = 0;   // the member to visit next
  double sum = -1.0;

  walk_state(pedigree_work& w, std::int32_t X)
      : p{w.pending[Walk][0], w.pending[Walk][1], static_cast<std::int64_t>(X) / 4096 + 1, X},
        Z(X) {
    w.member(X).ancestor_weight[Walk] = 1.0;
  }

  // Visits Z; false when the walk is over (sum is then F), else Z is the next ancestor.
  [[gnu::always_inline]] inline bool visit(pedigree_work& w, std::int32_t unknown) {
    pedigree_member& z = w.member(Z);
    const double weight_Z = z.ancestor_weight[Walk];
    z.ancestor_weight[Walk] = 0.0;
    const double q = 0.5 * weight_Z;
    const std::int32_t s = z.larger_parent;  // 0 when unknown; then d is 0 too
    const std::int32_t d = z.smaller_parent;
    pass_weight<Walk>(w, p, s > 0 ? s : unknown, s > 0 ? 1 : 0, q);
    pass_weight<Walk>(w, p, d > 0 ? d : unknown, d > 0 ? 1 : 0, q);
    sum = sum + (weight_Z * weight_Z) * z.mendelian_variance_factor;
    if (Z == p.smallest) return false;  // Z the smallest added: every larger one is taken
    Z = pending_pop_largest(p);
    return true;
  }
};

double ancestor_walk(pedigree_work& w, std::int32_t X) {
  const std::int32_t unknown = static_cast<std::int32_t>(w.member.size());  // stand-in record
  walk_state<0> a(w, X);
  while (a.visit(w, unknown)) {
  }
  return a.sum;
}

// The walks of X and Y (X != Y) side by side.
void ancestor_walks(pedigree_work& w, std::int32_t X, std::int32_t Y, double& F_X, double& F_Y) {
  const std::int32_t unknown = static_cast<std::int32_t>(w.member.size());  // stand-in record
  walk_state<0> a(w, X);
  walk_state<1> b(w, Y);
  bool a_on = true, b_on = true;
  while (a_on && b_on) {
    a_on = a.visit(w, unknown);
    b_on = b.visit(w, unknown);
  }
  while (a_on) a_on = a.visit(w, unknown);
  while (b_on) b_on = b.visit(w, unknown);
  F_X = a.sum;
  F_Y = b.sum;
}

// The member whose walk F(m) still waits for, 0 when F(m) is set or its walk has run.
std::int32_t walk_root(const pedigree_work& w, std::int32_t m) {
  const std::int32_t r = m > 0 ? w.walk_for(m) : 0;
  return r != 0 && w.walk_for(r) != 0 ? r : 0;
}

void run_walk(pedigree_work& w, std::int32_t r) {
  w.inbreeding_coefficients(r + 1) = ancestor_walk(w, r);
  w.walk_for(r) = 0;
}

void run_walks(pedigree_work& w, std::int32_t r, std::int32_t t) {
  ancestor_walks(w, r, t, w.inbreeding_coefficients(r + 1), w.inbreeding_coefficients(t + 1));
  w.walk_for(r) = 0;
  w.walk_for(t) = 0;
  ++w.walks_side_by_side;
}

// Sets F(X) and F(Y) (X, Y 0: none), running the walks they still wait for. A walk held back
// (held, 0 none) runs beside a lone walk needed here; two walks needed here run side by side
// and leave it held. A member whose F waits for the walk of another (a full sib before it)
// takes that member's F.
void settle_F(pedigree_work& w, std::int32_t X, std::int32_t Y, std::int32_t& held) {
  std::int32_t r = walk_root(w, X);
  std::int32_t t = walk_root(w, Y);
  if (r == t) t = 0;             // one walk serves both (or none is needed)
  if (r == 0) std::swap(r, t);   // r the walk when only one is needed
  if (r != 0) {
    if (t == 0 && held != 0 && held != r) t = held;
    if (held == r || held == t) held = 0;
    if (t != 0) {
      run_walks(w, r, t);
    } else {
      run_walk(w, r);
    }
  }
  for (const std::int32_t m : {X, Y}) {
    if (m > 0 && w.walk_for(m) != 0) {
      w.inbreeding_coefficients(m + 1) = w.F(w.walk_for(m));
      w.walk_for(m) = 0;
    }
  }
}

// A member the scan of "ped.txt" names as a parent will need its F: its walk is held until
// another walk can run beside it, instead of waiting for its first offspring's line, which
// mostly needs one walk only.
void hold_walk(pedigree_work& w, std::int32_t X, std::int32_t& held) {
  const std::int32_t r = walk_root(w, X);
  if (r == 0 || r == held) return;
  if (held == 0) {
    held = r;
  } else {
    run_walks(w, held, r);
    held = 0;
  }
}

// Marks every member that a line of "ped.txt" (text, as read for the pass) names as sire or
// dam, from a plain scan of the text ahead of the pass. The marks only choose when a walk runs,
// early and beside another or when an offspring's line needs it; F is the same either way. So
// anything the scan does not take for n lines of three plain integers (a statement over two
// lines, a value that is not a plain integer) ends it with no marks, and the pass reads and
// checks the file as always.
bool scan_parents(std::string_view text, std::int32_t n, rt::vec1<std::uint8_t>& named) {
  named.assign(n, 0);
  const char* c = text.data();
  const char* const end = c + text.size();
  auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; };
  auto digit = [](char ch) { return ch >= '0' && ch <= '9'; };
  auto give_up = [&] {
    named.assign(n, 0);
    return false;
  };
  for (std::int32_t line = 0; line < n; ++line) {
    std::int64_t value[3];
    int count = 0;
    for (;;) {
      while (c != end && blank(*c)) ++c;
      if (c == end || *c == '\n') break;
      const bool negative = *c == '-';
      if (*c == '-' || *c == '+') ++c;
      if (c == end || !digit(*c) || count == 3) return give_up();
      std::int64_t v = 0;
      for (; c != end && digit(*c); ++c)
        if (v < (std::int64_t{1} << 40)) v = v * 10 + (*c - '0');
      if (c != end && !blank(*c) && *c != '\n') return give_up();
      value[count++] = negative ? -v : v;
    }
    if (count != 3) return give_up();
    if (c != end) ++c;  // the line's end
    for (int k = 1; k <= 2; ++k)
      if (value[k] >= 1 && value[k] <= n) named(value[k]) = 1;
  }
  return true;
}

}  // namespace

void pedigree_pass(const pedigree_pass_input& in, const rt::vec1<std::int32_t>& NLEV,
                   const rt::vec1<std::int32_t>& CORR, const rt::vec3<double>& g_inverse,
                   sparse_store& equation_store, sparse_store& relationship_inverse,
                   pedigree_work* work) {
  check_block(in, NLEV, CORR, g_inverse);
  const std::int32_t e = in.effect;
  const std::int32_t n = in.n_pedigree > 0 ? in.n_pedigree : 0;
  const std::int32_t n_corr = CORR(e);

  // first_equation of the block's effects: 1 + the levels of the effects before them.
  std::int32_t first_equation[2] = {1, 1};
  {
    std::int32_t f = 1;
    for (std::int32_t k = 1; k < e; ++k) f += NLEV(k);
    first_equation[0] = f;
    first_equation[1] = n_corr > 1 ? f + NLEV(e) : f;
  }

  pedigree_work local;
  pedigree_work& w = work ? *work : local;
  allocate_work(w, n);

  rt::text_in ped;
  rt::text_out errf;
  rt::open_in(ped, ped_unit, "ped.txt");
  rt::open_out(errf, error_file_unit, "ERROR FILE.txt");
  write_error_file_head(errf);

  const double pair_weight[3] = {1.0, -0.5, -0.5};
  std::int32_t IER = 0;   // status of the last SBSIJ call
  bool inconsistency_found = false;
  // A member's F is read only by its offspring's D; its own terms need only its D. So a member
  // that is no parent is never walked (often more than half of the walks' work). A member the
  // scan names as a parent is walked beside the next such member, or when an offspring's line
  // needs its F, whichever comes first; any other member only when an offspring's line needs
  // it. F of a member is the same whenever it is walked: the walk reads only the parents and D
  // of its ancestors, all fixed by then.
  rt::vec1<std::uint8_t> named_parent;
  const bool scanned = scan_parents(ped.text, n, named_parent);
  std::int32_t held = 0;  // a walk held back to run beside another (0 none)
  std::int64_t next_report = in.progress_interval;
  for (std::int32_t X = 1; X <= n; ++X) {
    std::int32_t member = 0, sire = 0, dam = 0;
    rt::read(ped, {member, sire, dam});
    if (X == next_report) {
      rt::put(rt::console(), rt::fixed_line().I(X, 9).X(2).A("TH INDIVIDUAL READ", 18));
      next_report += in.progress_interval;
    }

    // Nothing of this line may index an array before these tests.
    if (member != X) stop_bad_line(X, "INDIVIDUAL ID DIFFERS FROM ITS LINE NUMBER.");
    if (sire < 0) stop_bad_line(X, "NEGATIVE SIRE ID.");
    if (sire > n) stop_bad_line(X, "SIRE ID ABOVE THE NUMBER OF PEDIGREE MEMBERS.");
    if (dam < 0) stop_bad_line(X, "NEGATIVE DAM ID.");
    if (dam > n) stop_bad_line(X, "DAM ID ABOVE THE NUMBER OF PEDIGREE MEMBERS.");

    if (sire >= member) {
      rt::put(errf, rt::fixed_line().I(member, 7).X(2).A(
                        sire == member ? "INDIVIDUAL AND ITS SIRE ID ARE EQUAL"
                                       : "INDIVIDUAL ID IS LOWER THAN ITS SIRE", 36));
      sire = 0;
      inconsistency_found = true;
    }
    if (dam >= member) {
      rt::put(errf, rt::fixed_line().I(member, 7).X(2).A(
                        dam == member ? "INDIVIDUAL AND ITS DAM ID ARE EQUAL"
                                      : "INDIVIDUAL ID IS LOWER THAN ITS DAM", 35));
      dam = 0;
      inconsistency_found = true;
    }
    pedigree_member& x = w.member(X);
    x.larger_parent = sire > dam ? sire : dam;
    x.smaller_parent = sire > dam ? dam : sire;

    settle_F(w, sire, dam, held);
    const double D = 0.5 - (w.F(sire) + w.F(dam)) * 0.25;
    x.mendelian_variance_factor = D;

    if (sire != 0 && dam != 0) {
      if (X > 1 && x.larger_parent == w.member(X - 1).larger_parent &&
          x.smaller_parent == w.member(X - 1).smaller_parent) {
        // A full sib of the previous line has its F: the same walk, or its result.
        if (w.walk_for(X - 1) == 0) {
          w.inbreeding_coefficients(X + 1) = w.F(X - 1);
        } else {
          w.walk_for(X) = w.walk_for(X - 1);
        }
      } else {
        w.walk_for(X) = X;
      }
      if (scanned && named_parent(X)) hold_walk(w, X, held);
    } else {
      w.inbreeding_coefficients(X + 1) = 0.0;
    }

    const std::int32_t line_ids[3] = {member, sire, dam};
    // The line's rows of both stores are walked side by side first: on a large pedigree their
    // chains lie far apart in memory, and the adds below would otherwise wait on every link.
    // A long row (a sire's) is looked up in its table instead: the table cells of the line's
    // columns are asked for before the walks, so that they arrive meanwhile.
    {
      // The line's equations are both the rows and the columns of its terms; so are its
      // members in the relationship store.
      std::int32_t eq_rows[6], rel_rows[3];
      std::size_t n_eq = 0, n_rel = 0;
      for (std::int32_t a = 0; a < n_corr; ++a)
        for (const std::int32_t id : line_ids)
          if (id != 0) eq_rows[n_eq++] = id + first_equation[a] - 1;
      if (in.fill_relationship_inverse)
        for (const std::int32_t id : line_ids)
          if (id != 0) rel_rows[n_rel++] = id;
      const std::span<const std::int32_t> eq(eq_rows, n_eq), rel(rel_rows, n_rel);
      sparse_row_ref rows[9];
      std::size_t n_rows = 0;
      for (const std::int32_t row : eq) {
        sparse_prefetch_entries(equation_store, row, eq);
        rows[n_rows++] = {&equation_store, row};
      }
      for (const std::int32_t row : rel) {
        sparse_prefetch_entries(relationship_inverse, row, rel);
        rows[n_rows++] = {&relationship_inverse, row};
      }
      sparse_prefetch_chains(std::span<const sparse_row_ref>(rows, n_rows));
    }
    // Row l of block a takes its terms of every block h (h before m, as the blocks come one
    // after the other) through a single walk of the row; the rows, and the two stores, are
    // independent of each other, and a full store stops the run with the same message
    // whichever row meets it.
    for (std::int32_t a = 0; a < n_corr; ++a) {
      for (int l = 0; l < 3; ++l) {
        if (line_ids[l] == 0) continue;
        const std::int32_t row = line_ids[l] + first_equation[a] - 1;
        std::int32_t rel_col[3], eq_col[6];
        double rel_x[3], eq_x[6];
        std::size_t n_rel = 0, n_eq = 0;
        for (std::int32_t h = 0; h < n_corr; ++h) {
          const double g = g_inverse(e, a + 1, h + 1);
          for (int m = 0; m < 3; ++m) {
            if (line_ids[m] == 0) continue;
            const std::int32_t col = line_ids[m] + first_equation[h] - 1;
            if (a == 0 && h == 0 && in.fill_relationship_inverse) {
              rel_col[n_rel] = line_ids[m];
              rel_x[n_rel++] = (pair_weight[l] / D) * pair_weight[m];
            }
            if (row <= col) {
              eq_col[n_eq] = col;
              eq_x[n_eq++] = ((g / D) * pair_weight[l]) * pair_weight[m];
            }
          }
        }
        add_row_entries(relationship_inverse, line_ids[l],
                        std::span<const std::int32_t>(rel_col, n_rel),
                        std::span<const double>(rel_x, n_rel), IER);
        add_row_entries(equation_store, row, std::span<const std::int32_t>(eq_col, n_eq),
                        std::span<const double>(eq_x, n_eq), IER);
      }
    }
  }

  // A caller that keeps the work arrays finds F of every member: the walks never needed run now,
  // two at a time.
  if (work) {
    const std::int64_t pass_pairs = w.walks_side_by_side;
    for (std::int32_t X = 1; X <= n; ++X) hold_walk(w, X, held);
    for (std::int32_t X = 1; X <= n; ++X) settle_F(w, X, 0, held);
    w.walks_side_by_side = pass_pairs;
  }

  if (inconsistency_found) {
    rt::text_out& con = rt::console();
    rt::write(con, {""});
    rt::write(con, {"BEWARE! PEDIGREE INCONSISTENCIES FOUND."});
    rt::write(con, {"SOME IDs HAS BEEN SET TO 0."});
    rt::write(con, {"CHECK ERROR FILE."});
  } else {
    rt::write(errf, {""});
    rt::put(errf, rt::fixed_line().A("NO INCONSISTENCIES HAVE BEEN FOUND.", 35));
  }
  rt::close(ped);
  rt::close(errf);
  if (!work) free_work(local);
}

}  // namespace num

// The pedigree pass: parent checks, inbreeding, inverse relationship terms.
#include "numeric/pedigree.hpp"

#include <string_view>

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

void allocate_work(pedigree_work& w, std::int32_t n) {
  w.member.assign(n, pedigree_member{});
  w.inbreeding_coefficients.assign(static_cast<std::int64_t>(n) + 1, 0.0);
  w.inbreeding_coefficients(1) = -1.0;  // F(0): an unknown parent
  w.pending.assign(n, 0);
}

void free_work(pedigree_work& w) {
  w.member.release();
  w.inbreeding_coefficients.release();
  w.pending.release();
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

// Max-heap of member numbers in pending(1 .. count).
void heap_push(rt::vec1<std::int32_t>& heap, std::int32_t& count, std::int32_t v) {
  std::int32_t i = ++count;
  while (i > 1 && heap(i / 2) < v) {
    heap(i) = heap(i / 2);
    i /= 2;
  }
  heap(i) = v;
}

std::int32_t heap_pop(rt::vec1<std::int32_t>& heap, std::int32_t& count) {
  const std::int32_t top = heap(1);
  const std::int32_t v = heap(count--);
  std::int32_t i = 1;
  for (;;) {
    std::int32_t c = 2 * i;
    if (c > count) break;
    if (c < count && heap(c + 1) > heap(c)) ++c;
    if (heap(c) <= v) break;
    heap(i) = heap(c);
    i = c;
  }
  if (count > 0) heap(i) = v;
  return top;
}

// Inbreeding coefficient of member X (both parents known): the ancestors are visited in
// descending member order, so each one is reached only after every descendant in the walk has
// passed half its weight on; F(X) = sum of weight^2 x D over the visited members, minus 1. The
// pending ancestors sit in a max-heap instead of a sorted list: the visiting order, hence every
// sum, is the same, but an insertion costs log(pending) instead of a scan of the list.
// Leaves ancestor_weight, pending and queued clear again.
// Asks for the records of a newly queued ancestor's parents, which its visit will touch: the
// walk jumps across the whole pedigree, and overlapping these loads roughly halves its time.
inline void prefetch_parents(pedigree_work& w, const pedigree_member& m) {
  if (m.larger_parent > 0) __builtin_prefetch(&w.member(m.larger_parent), 1);
  if (m.smaller_parent > 0) __builtin_prefetch(&w.member(m.smaller_parent), 1);
}

double ancestor_walk(pedigree_work& w, std::int32_t X) {
  std::int32_t count = 0;
  w.member(X).ancestor_weight = 1.0;
  double sum = -1.0;
  std::int32_t Z = X;
  for (;;) {
    pedigree_member& z = w.member(Z);
    const double q = 0.5 * z.ancestor_weight;
    const std::int32_t s = z.larger_parent;
    const std::int32_t d = z.smaller_parent;
    if (s > 0) {
      pedigree_member& ms = w.member(s);
      ms.ancestor_weight += q;
      if (!ms.queued) {
        ms.queued = 1;
        heap_push(w.pending, count, s);
        prefetch_parents(w, ms);
      }
      if (d > 0) {
        pedigree_member& md = w.member(d);
        md.ancestor_weight += q;
        if (!md.queued) {
          md.queued = 1;
          heap_push(w.pending, count, d);
          prefetch_parents(w, md);
        }
      }
    }
    sum = sum + (z.ancestor_weight * z.ancestor_weight) * z.mendelian_variance_factor;
    z.ancestor_weight = 0.0;
    if (count == 0) break;
    Z = heap_pop(w.pending, count);
    w.member(Z).queued = 0;
  }
  return sum;
}

void add_entry(sparse_store& s, std::int32_t I, std::int32_t J, double v) {
  std::int32_t IER = 0;
  SBSIJ(s, I, J, v, 5, 0, rt::console(), IER);
  if (IER == 701 || IER == 702) rt::stop("", rt::exit_error);
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
  bool inconsistency_found = false;
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

    const double D = 0.5 - (w.F(sire) + w.F(dam)) * 0.25;
    x.mendelian_variance_factor = D;

    double F = 0.0;
    if (sire != 0 && dam != 0) {
      if (X > 1 && x.larger_parent == w.member(X - 1).larger_parent &&
          x.smaller_parent == w.member(X - 1).smaller_parent) {
        F = w.F(X - 1);  // full sib of the previous line
      } else {
        F = ancestor_walk(w, X);
      }
    }
    w.inbreeding_coefficients(X + 1) = F;

    const std::int32_t line_ids[3] = {member, sire, dam};
    for (std::int32_t a = 0; a < n_corr; ++a) {
      for (std::int32_t h = 0; h < n_corr; ++h) {
        const double g = g_inverse(e, a + 1, h + 1);
        for (int l = 0; l < 3; ++l) {
          if (line_ids[l] == 0) continue;
          for (int m = 0; m < 3; ++m) {
            if (line_ids[m] == 0) continue;
            const std::int32_t row = line_ids[l] + first_equation[a] - 1;
            const std::int32_t col = line_ids[m] + first_equation[h] - 1;
            if (a == 0 && h == 0 && in.fill_relationship_inverse)
              add_entry(relationship_inverse, line_ids[l], line_ids[m],
                        (pair_weight[l] / D) * pair_weight[m]);
            if (row <= col)
              add_entry(equation_store, row, col, ((g / D) * pair_weight[l]) * pair_weight[m]);
          }
        }
      }
    }
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

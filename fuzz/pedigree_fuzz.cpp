// The pedigree pass over any "ped.txt". The input is a small head, a line "@@", then
// "ped.txt": the head holds n_pedigree, CORR of the pedigree effect and NZ of the equation
// store (the relationship store gets NZ / 5 slots). The model has two effects of n_pedigree
// levels each; effect 1 carries the pedigree.
#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz/harness.hpp"
#include "numeric/pedigree.hpp"
#include "numeric/sparse_store.hpp"
#include "runtime/text_io.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::setup();
  std::string head, ped;
  fuzz::split(data, size, &head, &ped);
  fuzz::write_file("head.txt", head);
  fuzz::write_file("ped.txt", ped);
  std::int32_t n_pedigree = 0, corr = 0, NZ = 0;
  try {
    rt::text_in h;
    rt::open_in(h, 38, "head.txt");
    const int st = rt::read_with_status(h, {n_pedigree, corr, NZ});
    rt::close(h);
    if (st != rt::read_ok || n_pedigree < 0 || n_pedigree > 3000 || corr < 0 || corr > 2 ||
        NZ < 0 || NZ > 200000)
      return 0;

    rt::vec1<std::int32_t> NLEV(2, n_pedigree), CORR(2, 0);
    CORR(1) = corr;
    rt::vec3<double> g_inverse(2, 2, 2, 0.0);
    g_inverse(1, 1, 1) = 2.0;
    g_inverse(1, 1, 2) = g_inverse(1, 2, 1) = -0.5;
    g_inverse(1, 2, 2) = 3.0;
    num::sparse_store eq, rel;
    num::sparse_allocate(eq, 2 * n_pedigree, NZ);
    num::sparse_init(eq);
    num::sparse_allocate(rel, n_pedigree, NZ / 5);
    num::sparse_init(rel);
    num::pedigree_pass_input in;
    in.effect = 1;
    in.n_pedigree = n_pedigree;
    in.progress_interval = 1000;
    num::pedigree_work w;
    num::pedigree_pass(in, NLEV, CORR, g_inverse, eq, rel, &w);
    // Inbreeding lies in [0, 1) and the Mendelian factor in (0, 1].
    for (std::int32_t X = 1; X <= n_pedigree; ++X) {
      const double F = w.F(X), D = w.D(X);
      if (!(F >= -1e-12 && F < 1.0) || !(D > 0.0 && D <= 1.0)) __builtin_trap();
    }
  } catch (const fuzz::run_ended&) {
  }
  return 0;
}

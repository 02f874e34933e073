// The pedigree pass on a generated population of 1,000,000 members over ten generations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "numeric/pedigree.hpp"
#include "numeric/sparse_store.hpp"
#include "tests/support/e2e.hpp"

using namespace testing_support;

namespace {

// A livestock-like population: ten generations of 100,000; the parents of a generation come
// from the one before it, sires from its first 2000 members (about 50 offspring each), dams from
// all of it; each dam has two offspring with the same sire on consecutive lines; one sire in 20
// unknown; the last 5,000 of each generation are founders (unknown parents).
std::string generated_pedigree(int n_generations, int generation_size) {
  std::mt19937 gen(777);
  std::string s;
  s.reserve(static_cast<std::size_t>(n_generations) * generation_size * 22);
  int member = 0;
  for (int g = 0; g < n_generations; ++g) {
    const int previous_first = member - generation_size + 1;  // first member of generation g-1
    for (int k = 0; k < generation_size; k += 2) {
      int sire = 0, dam = 0;
      if (g > 0 && k < generation_size - 5000) {
        sire = previous_first + std::uniform_int_distribution<int>(0, 1999)(gen);
        dam = previous_first + std::uniform_int_distribution<int>(2000, generation_size - 1)(gen);
        if (std::uniform_int_distribution<int>(0, 19)(gen) == 0) sire = 0;
      }
      for (int twin = 0; twin < 2; ++twin) {
        ++member;
        s += std::to_string(member) + ' ' + std::to_string(sire) + ' ' + std::to_string(dam) + '\n';
      }
    }
  }
  return s;
}

}  // namespace

TEST(PedigreeSlow, MillionMembersInAFewSeconds) {
  const int n = 1000000;
  auto dir = scratch_dir("ped_million");
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  write_file("ped.txt", generated_pedigree(10, n / 10));

  rt::vec1<std::int32_t> NLEV(1, n), CORR(1, 1);
  rt::vec3<double> g_inverse(1, 2, 2, 0.0);
  g_inverse(1, 1, 1) = 2.0;
  num::sparse_store eq, rel;
  num::sparse_allocate(eq, n, 4 * n + 16);
  num::sparse_init(eq);
  num::sparse_allocate(rel, n, 7 * n + 16);
  num::sparse_init(rel);
  num::pedigree_pass_input in;
  in.effect = 1;
  in.n_pedigree = n;
  in.progress_interval = 10000;
  num::pedigree_work work;

  testing::internal::CaptureStdout();
  auto t0 = std::chrono::steady_clock::now();
  num::pedigree_pass(in, NLEV, CORR, g_inverse, eq, rel, &work);
  auto t1 = std::chrono::steady_clock::now();
  std::fflush(stdout);
  std::string console = testing::internal::GetCapturedStdout();
  const double seconds = std::chrono::duration<double>(t1 - t0).count();
  std::printf("pedigree pass, %d members: %.2f s\n", n, seconds);

  EXPECT_TRUE(console.ends_with("  1000000  TH INDIVIDUAL READ\r\n"));
  double max_F = 0.0, mean_F = 0.0;
  for (int i = 1; i <= n; ++i) {
    max_F = std::max(max_F, work.F(i));
    mean_F += work.F(i);
  }
  std::printf("mean F %.5f, max F %.5f\n", mean_F / n, max_F);
  EXPECT_GT(max_F, 0.1);
#ifdef ZUMEK_BOUNDS_CHECK
  GTEST_SKIP() << "no timing limit in a checked build";
#else
  EXPECT_LT(seconds, 20.0);   // about 5 s on an idle machine; generous for a shared one
#endif
}

// Both programs run through on a generated data set of a few thousand records: every step,
// every round, the solutions file with one line per level, and the same files again on a second
// run with the same seed.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/simulated_data.hpp"
#include "tests/support/e2e.hpp"

using namespace testing_support;

namespace {

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

struct outputs {
  run_result run;
  std::string chain, solutions;
};

outputs run_generated(const std::string& program, const std::string& name) {
  const auto dir = scratch_dir(name);
  simulated::generate(dir, program, 2000, 2600, 31, 12);
  outputs o;
  o.run = run_in(dir, program == "tav" ? ZUMEK_TAV_BIN : ZUMEK_RO_BIN);
  o.chain = read_file(dir / (program == "tav" ? "CVC_CHAIN.txt" : "CVC-CHAIN.txt"));
  o.solutions = read_file(dir / (program == "tav" ? "ZUMEK TEST - SOLS.txt" : "SOLUTIONS.txt"));
  return o;
}

// Levels: category 2, herd-year 50, sex 2, covariate 2, pen 200, [records 2000], animal and
// dam 2600 each.
void check_run(const outputs& o, int levels, const std::string& last_step) {
  EXPECT_EQ(o.run.status, 0) << o.run.err << o.run.out.substr(o.run.out.size() > 2000 ? o.run.out.size() - 2000 : 0);
  EXPECT_NE(o.run.err.find("PROGRAM TERMINATED."), std::string::npos) << o.run.err;
  EXPECT_EQ(count(o.run.out, "TH ITERATION\r\n"), 12u);
  EXPECT_NE(o.run.out.find(last_step), std::string::npos);
  EXPECT_EQ(count(o.chain, "\r\n"), 12u);
  EXPECT_EQ(o.chain.find('*'), std::string::npos) << o.chain;  // every value fits F11.5
  // One line of numbers per level, every level of every effect.
  EXPECT_EQ(simulated::chain_from_text(o.solutions).size(), std::size_t(levels));
}

}  // namespace

TEST(SimulatedRuns, TavRunsThroughAndRepeatsItself) {
  const outputs a = run_generated("tav", "simulated_tav_a");
  check_run(a, 2 + 50 + 2 + 2 + 200 + 2000 + 2600 + 2600, "STEP 7. WRITTING OUTPUT FILE.");
  const outputs b = run_generated("tav", "simulated_tav_b");
  EXPECT_EQ(a.run.out, b.run.out);
  EXPECT_EQ(a.chain, b.chain);
  EXPECT_EQ(a.solutions, b.solutions);
}

TEST(SimulatedRuns, RoRunsThroughAndRepeatsItself) {
  const outputs a = run_generated("ro", "simulated_ro_a");
  check_run(a, 2 + 50 + 2 + 2 + 200 + 2600 + 2600, "STEP 6");
  const outputs b = run_generated("ro", "simulated_ro_b");
  EXPECT_EQ(a.run.out, b.run.out);
  EXPECT_EQ(a.chain, b.chain);
  EXPECT_EQ(a.solutions, b.solutions);
}

// The programs against their comparison builds, on a generated data set of a few thousand
// records in herds: the comparison builds invert every family on its own (the programs share one
// inversion among families of equal link structure), order the equations by the plain list
// walks, factor with the plain loop and reorder in place, and zumek_tav's reads the sample in
// equation order (the program reads its pedigree block in pairs). Console, chain and solutions
// files must be byte-identical, for both programs.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/simulated_data.hpp"
#include "tests/support/e2e.hpp"

using namespace testing_support;

namespace {

struct outputs {
  run_result run;
  std::string chain, solutions;
};

outputs run_generated(const std::string& program, const std::string& name, bool literal) {
  const auto dir = scratch_dir(name);
  // Starting values away from the truth so that p_PAR and the variances move in the rounds.
  simulated::generate(dir, program, 3000, 3800, 47, 15, 1.4);
  const std::string binary = program == "tav" ? (literal ? ZUMEK_TAV_LITERAL_ROUNDS_BIN : ZUMEK_TAV_BIN)
                                              : (literal ? ZUMEK_RO_LITERAL_ROUNDS_BIN : ZUMEK_RO_BIN);
  outputs o;
  o.run = run_in(dir, binary);
  o.chain = read_file(dir / (program == "tav" ? "CVC_CHAIN.txt" : "CVC-CHAIN.txt"));
  o.solutions = read_file(dir / (program == "tav" ? "ZUMEK TEST - SOLS.txt" : "SOLUTIONS.txt"));
  return o;
}

void expect_same(const std::string& program) {
  const outputs shared = run_generated(program, "shared_inverses_" + program, false);
  const outputs literal = run_generated(program, "literal_inverses_" + program, true);
  ASSERT_EQ(shared.run.status, 0) << shared.run.err;
  ASSERT_EQ(literal.run.status, 0) << literal.run.err;
  EXPECT_EQ(shared.run.out, literal.run.out);
  EXPECT_EQ(shared.run.err, literal.run.err);
  ASSERT_FALSE(shared.chain.empty());
  EXPECT_EQ(shared.chain, literal.chain);
  ASSERT_FALSE(shared.solutions.empty());
  EXPECT_EQ(shared.solutions, literal.solutions);
  // The chain must show p_PAR moving, or the grid draw was not exercised.
  const auto rows = simulated::chain_from_text(shared.chain);
  ASSERT_EQ(rows.size(), 15u);
  EXPECT_NE(rows[1][1], rows[14][1]);
}

}  // namespace

TEST(SharedFamilyInverses, TavGivesTheFilesOfTheLiteralRounds) { expect_same("tav"); }

TEST(SharedFamilyInverses, RoGivesTheFilesOfTheLiteralRounds) { expect_same("ro"); }

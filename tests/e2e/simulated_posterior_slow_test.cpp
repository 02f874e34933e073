// Posterior means of the (co)variances on data simulated under each program's model with known
// values: 4,000 records, 5,000 pedigree members, 2,000 rounds of zumek_tav and 1,200 of the
// slower zumek_ro round, in the mixed layout (no herds, so maternal and pen effects are not
// confounded with herd-years in so small a set), started at 1.3 times the truth (zumek_tav
// keeps the true residual variance as its fixed S2E0), the first fifth of the rounds dropped.
// Tolerance: the mean after burn-in lies within three posterior standard deviations (the
// spread of the chain after burn-in) of the true value, and the chain has left its start.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/e2e/simulated_data.hpp"
#include "tests/support/e2e.hpp"

using namespace testing_support;

namespace {

void check_posterior(const std::string& program, int rounds, const std::vector<double>& truth,
                     const std::vector<const char*>& names) {
  const auto dir = scratch_dir("posterior_" + program);
  simulated::generate(dir, program, 4000, 5000, 101, rounds, 1.3, "mixed");
  const run_result r = run_in(dir, program == "tav" ? ZUMEK_TAV_BIN : ZUMEK_RO_BIN);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = simulated::chain(dir / (program == "tav" ? "CVC_CHAIN.txt" : "CVC-CHAIN.txt"));
  ASSERT_EQ(rows.size(), std::size_t(rounds));
  const std::size_t burn_in = std::size_t(rounds) / 5;
  for (std::size_t c = 0; c < truth.size(); ++c) {
    const double m = simulated::mean(rows, burn_in, c);
    double ss = 0.0;
    for (std::size_t i = burn_in; i < rows.size(); ++i) ss += (rows[i][c] - m) * (rows[i][c] - m);
    const double sd = std::sqrt(ss / double(rows.size() - burn_in));
    EXPECT_GT(sd, 0.0) << names[c] << " never moved";
    EXPECT_LE(std::fabs(m - truth[c]), 3.0 * sd)
        << names[c] << ": posterior mean " << m << ", sd " << sd << ", true " << truth[c];
  }
}

}  // namespace

TEST(SimulatedPosterior, TavRecoversTheTrueVariances) {
  check_posterior("tav", 2000, {6.0, 0.2, 4.0, 12.0, -2.0, 5.0},
                  {"R", "p_PAR", "pen variance", "direct variance", "direct-maternal covariance",
                   "maternal variance"});
}

TEST(SimulatedPosterior, RoRecoversTheTrueVariances) {
  check_posterior("ro", 1200, {20.0, 0.2, 4.0, 12.0, -2.0, 5.0},
                  {"residual variance", "p_PAR", "pen variance", "direct variance",
                   "direct-maternal covariance", "maternal variance"});
}

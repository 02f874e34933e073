// zumek_ro on data simulated here under its own model, with known values:
//   y = category + herd + pen + a(animal) + m(dam) + e,
//   pen ~ N(0, s2_pen) independent, (a, m) ~ N(0, G (x) A) over the pedigree,
//   e within a maternal family (a dam's own record, then her offspring's records) ~
//   N(0, s2e (I + p L)), L marking the dam-offspring pairs; records of the rest group independent.
// The binary runs a chain from starting values (and prior modes) away from the truth; the
// posterior means after burn-in, read from the chain file, must lie near the truth.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/e2e.hpp"

using namespace testing_support;

namespace {

// The true values.
constexpr double true_s2e = 10.0;
constexpr double true_p = 0.3;
constexpr double true_pen = 3.0;
constexpr double true_g11 = 8.0, true_g21 = -1.5, true_g22 = 4.0;

// Design: founders without records (sires and dams); their offspring (generation 1) with
// records, two per founder dam; every generation-1 female (a family head) has one or two
// offspring of generation 2 with records, listed after her own record.
constexpr int founder_sires = 100;
constexpr int founder_dams = 1400;
constexpr int herds = 20;
constexpr int pens = 300;
constexpr int rounds = 1500;
constexpr int burn_in = 300;

// A small generator of its own, so that the data do not depend on the standard library's
// distributions.
struct generator {
  std::uint64_t s;
  double uniform() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return (double(s >> 11) + 0.5) * (1.0 / 9007199254740992.0);
  }
  double normal() {
    const double u = uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  }
  int pick(int n) { return 1 + int(uniform() * n); }  // 1..n
};

struct record {
  int category, herd, pen, animal, dam;
  double y;
};

struct data_set {
  int n_pedigree = 0;
  std::string ped, dat;
  int n_records = 0;
};

data_set simulate(std::uint64_t seed) {
  generator g{seed};
  const double l11 = std::sqrt(true_g11), l21 = true_g21 / l11,
               l22 = std::sqrt(true_g22 - l21 * l21);
  std::vector<std::array<int, 2>> parents(1, {0, 0});  // index 0 unused
  std::vector<std::array<double, 2>> bv(1, {0.0, 0.0});
  // Breeding values: founders from G; offspring at the parents' mean plus a Mendelian part with
  // half of G (no parent is inbred).
  const auto add_animal = [&](int sire, int dam) {
    const double scale = (sire == 0 && dam == 0) ? 1.0 : std::sqrt(0.5);
    const double z1 = g.normal(), z2 = g.normal();
    std::array<double, 2> v{scale * l11 * z1, scale * (l21 * z1 + l22 * z2)};
    for (int t = 0; t < 2; ++t) v[t] += 0.5 * (bv[sire][t] + bv[dam][t]);
    parents.push_back({sire, dam});
    bv.push_back(v);
    return int(bv.size()) - 1;
  };
  for (int i = 0; i < founder_sires + founder_dams; ++i) add_animal(0, 0);
  std::vector<int> gen1_males, gen1_females;
  for (int d = founder_sires + 1; d <= founder_sires + founder_dams; ++d)
    for (int k = 0; k < 2; ++k) {
      const int a = add_animal(g.pick(founder_sires), d);
      (k == 0 ? gen1_females : gen1_males).push_back(a);
    }
  std::vector<std::vector<int>> offspring(gen1_females.size());
  for (std::size_t f = 0; f < gen1_females.size(); ++f) {
    const int n = 1 + int(g.uniform() < 0.5);
    for (int k = 0; k < n; ++k)
      offspring[f].push_back(add_animal(gen1_males[g.pick(int(gen1_males.size())) - 1],
                                        gen1_females[f]));
  }

  std::vector<double> herd_effect(herds + 1), pen_effect(pens + 1);
  for (int h = 1; h <= herds; ++h) herd_effect[h] = 10.0 * (g.uniform() - 0.5);
  for (int p = 1; p <= pens; ++p) pen_effect[p] = std::sqrt(true_pen) * g.normal();
  const auto fixed_part = [&](int category, int herd, int pen, int animal) {
    const int dam = parents[animal][1];
    return (category == 1 ? 50.0 : 55.0) + herd_effect[herd] + pen_effect[pen] + bv[animal][0] +
           (dam == 0 ? 0.0 : bv[dam][1]);
  };
  std::vector<record> records;
  const auto add_record = [&](int category, int animal, double e) {
    const int herd = g.pick(herds), pen = g.pick(pens);
    records.push_back({category, herd, pen, animal, parents[animal][1],
                       fixed_part(category, herd, pen, animal) + e});
  };
  // Rest group: generation-1 males, independent residuals.
  for (int a : gen1_males) add_record(1, a, std::sqrt(true_s2e) * g.normal());
  // Families: the dam's record (category 2, the family head) first, then her offspring's.
  // Residual covariance s2e (I + p L), L linking the dam to each offspring and no offspring to
  // each other: drawn through the Cholesky factor of that matrix.
  for (std::size_t f = 0; f < gen1_females.size(); ++f) {
    const int n = 1 + int(offspring[f].size());
    std::vector<double> cov(n * n, 0.0), factor(n * n, 0.0), z(n), e(n, 0.0);
    for (int i = 0; i < n; ++i) cov[i * n + i] = true_s2e;
    for (int i = 1; i < n; ++i) cov[i * n] = cov[i] = true_p * true_s2e;
    for (int j = 0; j < n; ++j)
      for (int i = j; i < n; ++i) {
        double v = cov[i * n + j];
        for (int k = 0; k < j; ++k) v -= factor[i * n + k] * factor[j * n + k];
        factor[i * n + j] = (i == j) ? std::sqrt(v) : v / factor[j * n + j];
      }
    for (int i = 0; i < n; ++i) z[i] = g.normal();
    for (int i = 0; i < n; ++i)
      for (int k = 0; k <= i; ++k) e[i] += factor[i * n + k] * z[k];
    add_record(2, gen1_females[f], e[0]);
    for (int k = 1; k < n; ++k) add_record(1, offspring[f][k - 1], e[k]);
  }

  data_set d;
  d.n_pedigree = int(parents.size()) - 1;
  d.n_records = int(records.size());
  std::ostringstream ped, dat;
  for (int i = 1; i <= d.n_pedigree; ++i)
    ped << i << ' ' << parents[i][0] << ' ' << parents[i][1] << '\n';
  dat.precision(10);
  for (const record& r : records)
    dat << r.category << ' ' << r.herd << ' ' << r.pen << ' ' << r.animal << ' ' << r.dam << ' '
        << r.y << '\n';
  d.ped = ped.str();
  d.dat = dat.str();
  return d;
}

// Starting values, which are also the prior modes: 1.5 times the true variances, the covariance
// with the wrong sign, no residual correlation. Every start lies farther from the truth than the
// tolerance, so a chain that never leaves it fails.
std::string param_file(const data_set& d) {
  std::ostringstream p;
  for (int l = 1; l <= 14; ++l) p << "simulated run, line " << l << '\n';
  p << "4711\n" << rounds << '\n' << 1000000 << '\n' << d.n_pedigree << '\n' << d.n_records << '\n';
  p << "5      effects: category, herd, pen, animal, dam\n";
  for (int l = 21; l <= 25; ++l) p << "-\n";
  p << "0 0 0 0 0\n";                                                       // NEST
  p << "2 " << herds << ' ' << pens << ' ' << d.n_pedigree << ' ' << d.n_pedigree << '\n';  // NLEV
  p << "0 0 1 2 2\n";                                                       // TYPO
  p << "0 0 0 0 0\n";                                                       // class effects
  p << "0 0 1 2 0\n";                                                       // CORR
  p << "0 1 0 0 0\n";                                                       // drop the last herd
  for (int l = 32; l <= 36; ++l) p << "-\n";
  p << 1.5 * true_s2e << '\n' << 0.0 << '\n' << 1.5 * true_pen << '\n'
    << 1.5 * true_g11 << '\n' << -true_g21 << '\n' << 1.5 * true_g22 << '\n';
  p << "-\n-\n";
  p << "4\n4\n4\n";  // prior degrees of freedom
  p << "-\n-\n";
  // Coarse grid -0.5 .. 0.5 in steps of 0.05; the fine grid spans +-0.1 around the best point,
  // so that every point stays below 1 / sqrt(2), where a dam with two offspring stops being
  // positive definite.
  p << "21\n-0.5 0.5\n0.01\n";
  for (int l = 53; l <= 56; ++l) p << "-\n";
  p << "F\n";
  return p.str();
}

std::vector<std::array<double, 6>> read_chain(const std::string& text) {
  std::vector<std::array<double, 6>> rows;
  std::istringstream in(text);
  std::array<double, 6> row;
  while (in >> row[0] >> row[1] >> row[2] >> row[3] >> row[4] >> row[5]) rows.push_back(row);
  return rows;
}

}  // namespace

TEST(ZumekRoPosterior, MeansAfterBurnInNearTheSimulatedValues) {
  const data_set d = simulate(20261209);
  const auto dir = scratch_dir("ro_posterior");
  write_file(dir / "param.txt", param_file(d));
  write_file(dir / "dat.txt", d.dat);
  write_file(dir / "ped.txt", d.ped);
  const auto start = std::chrono::steady_clock::now();
  const run_result r = run_in(dir, ZUMEK_RO_BIN);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(r.status, 0) << r.err << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
  const auto rows = read_chain(read_file(dir / "CVC-CHAIN.txt"));
  ASSERT_EQ(rows.size(), std::size_t(rounds));

  const std::array<double, 6> truth{true_s2e, true_p, true_pen, true_g11, true_g21, true_g22};
  const std::array<const char*, 6> names{"S2E0", "p_PAR", "pen variance", "direct variance",
                                         "direct-maternal covariance", "maternal variance"};
  // Absolute tolerances. The posterior mean of one simulated data set differs from the truth by
  // about one posterior standard deviation (the data are a sample), and a chain of 1200 kept
  // rounds of slowly mixing (co)variances adds Monte Carlo error on top. Posterior standard
  // deviations seen on data sets of this size: S2E0 0.55-0.65, p_PAR 0.05, pen 0.35, direct
  // 0.65-0.95, covariance 0.5-0.8, maternal 0.5-0.9; the tolerances are about 2.5 of them (the
  // covariance and the maternal variance, least informed by the data, about 2.2), and each is
  // smaller than the distance from the start to the truth.
  const std::array<double, 6> tolerance{1.5, 0.12, 1.0, 2.4, 1.8, 1.8};
  std::ostringstream report;
  report << d.n_records << " records, " << d.n_pedigree << " pedigree members, " << rounds
         << " rounds in " << seconds << " s\n";
  for (int c = 0; c < 6; ++c) {
    double sum = 0.0, sum_sq = 0.0;
    for (int i = burn_in; i < rounds; ++i) sum += rows[i][c];
    const double mean = sum / double(rounds - burn_in);
    for (int i = burn_in; i < rounds; ++i) sum_sq += (rows[i][c] - mean) * (rows[i][c] - mean);
    const double sd = std::sqrt(sum_sq / double(rounds - burn_in - 1));
    report << names[c] << ": true " << truth[c] << ", mean " << mean << ", sd " << sd << '\n';
    EXPECT_NEAR(mean, truth[c], tolerance[c]) << names[c] << " (posterior sd " << sd << ")";
  }
  std::cout << report.str();
}

// simulate: writes "param.txt", "dat.txt" and "ped.txt" for zumek_tav or zumek_ro, simulated
// under the program's model with the true values listed below (they are also the starting values
// written to "param.txt", each times an optional start factor).
//
//   simulate tav|ro <records> <pedigree members> <seed> [rounds] [start factor] [herds|mixed]
//
// Pedigree: founders, then members born in order into herds of about 250 members; dams are
// recent females of the member's own herd (at most five progeny each); sires are mostly AI sires
// from a small pool of recent males shared by all herds and renewed from time to time (so one
// sire has many progeny in many herds and the pedigree is inbred), else a recent male of the
// herd; a few parents unknown; generations overlap because parents come from a sliding window.
// The mixed layout (last argument "mixed") has no herds: dams are any recent females, herd-years
// and pens are drawn at random per record; its effects are better separated, which suits checks
// of the posterior on small sets. The herd layout (default) is the one of real data sets.
// Records: the youngest <records> members have one record each, in birth order. A recorded dam
// with recorded progeny heads a maternal family (record category 2) with probability 0.7 unless
// her own dam heads one, so families hold 2 to 6 records; everything else is the rest group.
// Effects of a record: 1 category (2 levels), 2 herd-year (about records/40 levels: the herd and
// the year of birth, last dropped), 3 sex (2 levels, last dropped), 4 weight covariate nested in
// the category, 5 pen (independent levels, four per herd-year), [tav: 6 running record number,
// the family-correlated effect], animal and dam (pedigree numbers; the animal carries a 2 x 2
// direct-maternal block).
// y = 100 + category + herd-year + sex + b(category) x weight + pen + [tav: family effect]
//     + direct(animal) + maternal(dam) + residual.
// tav: family effect ~ R (I + p L) per family, residual ~ S2E0 I.
// ro:  residual ~ S2E0 (I + p L) per family (independent in the rest group).
// L marks the pairs (a, b), a < b, where record a's animal is record b's dam.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// True values.
constexpr double true_s2e = 20.0;     // residual variance
constexpr double true_p = 0.2;        // within-family correlation
constexpr double true_pen = 4.0;      // pen variance
constexpr double true_R = 6.0;        // family-correlated effect variance (tav)
constexpr double true_g11 = 12.0;     // direct genetic variance
constexpr double true_g12 = -2.0;     // direct-maternal covariance
constexpr double true_g22 = 5.0;      // maternal genetic variance

// xoshiro256** with splitmix64 seeding; Box-Muller normals.
struct rng {
  std::uint64_t s[4];
  bool have = false;
  double spare = 0.0;
  explicit rng(std::uint64_t seed) {
    for (auto& w : s) {
      seed += 0x9e3779b97f4a7c15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      w = z ^ (z >> 31);
    }
  }
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t next() {
    const std::uint64_t r = rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0]; s[3] ^= s[1]; s[1] ^= s[2]; s[0] ^= s[3]; s[2] ^= t; s[3] = rotl(s[3], 45);
    return r;
  }
  double uniform() { return double(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  std::int64_t below(std::int64_t n) { return std::int64_t(uniform() * double(n)); }
  double normal() {
    if (have) { have = false; return spare; }
    double u = 0.0;
    while (u <= 0.0) u = uniform();
    const double v = uniform();
    const double r = std::sqrt(-2.0 * std::log(u));
    spare = r * std::sin(6.283185307179586 * v);
    have = true;
    return r * std::cos(6.283185307179586 * v);
  }
};

// A text file written line by line with CR LF ends.
struct out_file {
  std::ofstream f;
  std::string line;
  explicit out_file(const char* name) : f(name, std::ios::binary) {
    if (!f) { std::cerr << "simulate: cannot write " << name << "\n"; std::exit(1); }
  }
  out_file& num(std::int64_t v) {
    char b[32];
    if (!line.empty()) line += ' ';
    line.append(b, std::to_chars(b, b + 32, v).ptr);
    return *this;
  }
  out_file& real(double v) {  // two decimals
    char b[64];
    if (!line.empty()) line += ' ';
    line.append(b, std::to_chars(b, b + 64, v, std::chars_format::fixed, 2).ptr);
    return *this;
  }
  out_file& text(const std::string& t) {
    if (!line.empty()) line += ' ';
    line += t;
    return *this;
  }
  void end() { line += "\r\n"; f << line; line.clear(); }
  void put(const std::string& t) { line = t; end(); }
};

struct pedigree {
  std::vector<std::int32_t> sire, dam;  // 1-based members; 0 unknown
  std::vector<std::int32_t> herd;       // 1-based herd of each member
  std::vector<char> male;
  std::int64_t known_parents = 0, both_known = 0;
};

std::int32_t herds_of(std::int32_t n) { return std::max<std::int32_t>(2, n / 250); }

// A pedigree of n members with no parents yet, every member in herd `herd`.
pedigree empty_pedigree(std::int32_t n, std::int32_t herd) {
  pedigree p;
  p.sire.assign(n + 1, 0);
  p.dam.assign(n + 1, 0);
  p.herd.assign(n + 1, herd);
  p.male.assign(n + 1, 0);
  return p;
}

// Members live in herds, as on real farms: a member is born in a herd, its dam is a recent female
// of the same herd, and its sire is either an AI sire from a small pool used across all herds
// (renewed from time to time) or a recent male of the herd (natural service). So the pedigree
// ties herds together only through the AI sires.
pedigree make_pedigree(std::int32_t n, rng& r) {
  pedigree p = empty_pedigree(n, 0);
  std::vector<std::int32_t> progeny(n + 1, 0);
  const std::int32_t n_herd = herds_of(n);
  const std::int32_t founders = std::max<std::int32_t>(std::min<std::int32_t>(n, 20), n / 10);
  const std::int32_t window = std::max<std::int32_t>(50, n / 6);  // parents from recent members
  const std::int32_t pool_size = std::max<std::int32_t>(3, n / 2000);
  const std::int32_t renew_every = std::max<std::int32_t>(20, n / 20);
  // Recent members of each herd, newest last (a ring of the last `keep` members).
  const std::int32_t keep = std::max<std::int32_t>(8, 2 * window / n_herd);
  std::vector<std::vector<std::int32_t>> recent(n_herd + 1);
  std::vector<std::int32_t> pool;
  for (std::int32_t x = 1; x <= n; ++x) {
    p.male[x] = char(r.uniform() < 0.5);
    const std::int32_t h = 1 + std::int32_t(r.below(n_herd));
    p.herd[x] = h;
    auto& here = recent[h];
    if (x > founders) {
      const std::int32_t lo = std::max<std::int32_t>(1, x - window);
      if (pool.empty() || (x - founders) % renew_every == 0) {  // renew the AI sire pool
        pool.clear();
        for (int tries = 0; tries < 50 * pool_size && std::int32_t(pool.size()) < pool_size; ++tries) {
          const std::int32_t c = lo + std::int32_t(r.below(x - lo));
          if (p.male[c]) pool.push_back(c);
        }
      }
      const double u = r.uniform();
      if (u < 0.7) {
        if (!pool.empty()) p.sire[x] = pool[r.below(std::int64_t(pool.size()))];
      } else if (u < 0.95 && !here.empty()) {
        for (int tries = 0; tries < 10; ++tries) {
          const std::int32_t c = here[r.below(std::int64_t(here.size()))];
          if (p.male[c] && c >= lo) { p.sire[x] = c; break; }
        }
      }
      if (r.uniform() >= 0.05 && !here.empty()) {
        for (int tries = 0; tries < 30; ++tries) {
          const std::int32_t c = here[r.below(std::int64_t(here.size()))];
          if (!p.male[c] && c >= lo && progeny[c] < 5) { p.dam[x] = c; ++progeny[c]; break; }
        }
      }
      p.known_parents += (p.sire[x] != 0) + (p.dam[x] != 0);
      p.both_known += (p.sire[x] != 0 && p.dam[x] != 0);
    }
    if (std::int32_t(here.size()) < keep) here.push_back(x);
    else here[std::size_t(x) % here.size()] = x;
  }
  return p;
}

// The mixed layout: no herds; dams are any recent females, sires come from a pool of recent
// males renewed often, and herd-years and pens are drawn at random for every record.
pedigree make_pedigree_mixed(std::int32_t n, rng& r) {
  pedigree p = empty_pedigree(n, 1);
  std::vector<std::int32_t> progeny(n + 1, 0);
  const std::int32_t founders = std::max<std::int32_t>(std::min<std::int32_t>(n, 20), n / 10);
  const std::int32_t window = std::max<std::int32_t>(50, n / 6);  // parents from recent members
  const std::int32_t pool_size = std::max<std::int32_t>(3, n / 400);
  const std::int32_t renew_every = std::max<std::int32_t>(20, n / 50);
  std::vector<std::int32_t> pool;
  for (std::int32_t x = 1; x <= n; ++x) {
    p.male[x] = char(r.uniform() < 0.5);
    if (x <= founders) continue;
    const std::int32_t lo = std::max<std::int32_t>(1, x - window);
    if (pool.empty() || (x - founders) % renew_every == 0) {  // renew the sire pool
      pool.clear();
      for (int tries = 0; tries < 50 * pool_size && std::int32_t(pool.size()) < pool_size; ++tries) {
        const std::int32_t c = lo + std::int32_t(r.below(x - lo));
        if (p.male[c]) pool.push_back(c);
      }
    }
    if (!pool.empty() && r.uniform() >= 0.05) p.sire[x] = pool[r.below(std::int64_t(pool.size()))];
    if (r.uniform() >= 0.05) {
      for (int tries = 0; tries < 30; ++tries) {
        const std::int32_t c = lo + std::int32_t(r.below(x - lo));
        if (!p.male[c] && progeny[c] < 5) { p.dam[x] = c; ++progeny[c]; break; }
      }
    }
    p.known_parents += (p.sire[x] != 0) + (p.dam[x] != 0);
    p.both_known += (p.sire[x] != 0 && p.dam[x] != 0);
  }
  return p;
}

// Lower Cholesky factor of an n x n matrix (row-major, n <= 6), in place.
void cholesky(std::vector<double>& a, int n) {
  for (int j = 0; j < n; ++j) {
    double d = a[j * n + j];
    for (int k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
    d = std::sqrt(d);
    a[j * n + j] = d;
    for (int i = j + 1; i < n; ++i) {
      double s = a[i * n + j];
      for (int k = 0; k < j; ++k) s -= a[i * n + k] * a[j * n + k];
      a[i * n + j] = s / d;
    }
    for (int i = 0; i < j; ++i) a[i * n + j] = 0.0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::cerr << "usage: simulate tav|ro <records> <pedigree members> <seed> [rounds] [start factor]"
                 " [herds|mixed]\n";
    return 2;
  }
  const std::string program = argv[1];
  const bool tav = program == "tav";
  if (!tav && program != "ro") { std::cerr << "simulate: program must be tav or ro\n"; return 2; }
  const std::int32_t n_rec = std::atoi(argv[2]);
  const std::int32_t n_ped = std::atoi(argv[3]);
  const std::uint64_t seed = std::strtoull(argv[4], nullptr, 10);
  const std::int32_t rounds = argc > 5 ? std::atoi(argv[5]) : 20;
  const double start = argc > 6 ? std::atof(argv[6]) : 1.0;
  const bool mixed = argc > 7 && std::string(argv[7]) == "mixed";
  if (argc > 7 && !mixed && std::string(argv[7]) != "herds") {
    std::cerr << "simulate: layout must be herds or mixed\n";
    return 2;
  }
  if (n_rec < 10 || n_ped < n_rec + 20) {
    std::cerr << "simulate: need at least 10 records and 20 more members than records\n";
    return 2;
  }
  rng r(seed);
  const pedigree ped = mixed ? make_pedigree_mixed(n_ped, r) : make_pedigree(n_ped, r);

  // Genetic values: parent average plus Mendelian sampling with the 2 x 2 block (inbreeding of
  // the parents is ignored in the sampling variance; it is small here).
  const double c11 = std::sqrt(true_g11), c21 = true_g12 / c11;
  const double c22 = std::sqrt(true_g22 - c21 * c21);
  std::vector<double> direct(n_ped + 1, 0.0), maternal(n_ped + 1, 0.0);
  for (std::int32_t x = 1; x <= n_ped; ++x) {
    const std::int32_t s = ped.sire[x], d = ped.dam[x];
    const double known = (s != 0) + (d != 0);
    const double mendel = std::sqrt(1.0 - 0.25 * known);
    const double z1 = r.normal(), z2 = r.normal();
    direct[x] = 0.5 * (direct[s] + direct[d]) + mendel * c11 * z1;
    maternal[x] = 0.5 * (maternal[s] + maternal[d]) + mendel * (c21 * z1 + c22 * z2);
  }

  // Records: members first_rec .. n_ped, one each.
  const std::int32_t first_rec = n_ped - n_rec + 1;
  auto recorded = [&](std::int32_t x) { return x >= first_rec; };
  std::vector<std::int32_t> rec_progeny(n_ped + 1, 0);
  for (std::int32_t x = first_rec; x <= n_ped; ++x)
    if (recorded(ped.dam[x])) ++rec_progeny[ped.dam[x]];
  std::vector<char> head(n_ped + 1, 0);
  for (std::int32_t x = first_rec; x <= n_ped; ++x)
    head[x] = char(rec_progeny[x] > 0 && !head[ped.dam[x]] && r.uniform() < 0.7);

  // Herd-years: the records of a herd are split into years by birth order; pens are nested in
  // herd-years (four each).
  const std::int32_t n_herd = herds_of(n_ped);
  const std::int32_t n_year = std::max(1, n_rec / 40 / n_herd);
  const std::int32_t n_hy = mixed ? std::max(5, n_rec / 40) : n_herd * n_year;
  const std::int32_t pens_per_hy = 4;
  const std::int32_t n_pen = mixed ? std::max(5, n_rec / 10) : n_hy * pens_per_hy;
  std::vector<double> hy_effect(n_hy + 1), pen_effect(n_pen + 1);
  for (auto& v : hy_effect) v = 5.0 * r.normal();
  for (auto& v : pen_effect) v = std::sqrt(true_pen) * r.normal();
  const double category_effect[3] = {0.0, 0.0, 3.0};
  const double slope[3] = {0.0, 1.0, 1.5};

  struct record { std::int32_t category, hy, sex, pen, animal, dam; double weight, y; };
  std::vector<record> recs;
  recs.reserve(n_rec);
  for (std::int32_t x = first_rec; x <= n_ped; ++x) {
    record q;
    q.category = head[x] ? 2 : 1;
    const std::int32_t year = std::int32_t(std::int64_t(x - first_rec) * n_year / n_rec);
    q.hy = mixed ? 1 + std::int32_t(r.below(n_hy)) : (ped.herd[x] - 1) * n_year + year + 1;
    q.sex = ped.male[x] ? 1 : 2;
    q.pen = mixed ? 1 + std::int32_t(r.below(n_pen))
                  : (q.hy - 1) * pens_per_hy + 1 + std::int32_t(r.below(pens_per_hy));
    q.animal = x;
    q.dam = ped.dam[x];
    q.weight = std::round((30.0 + 3.0 * r.normal()) * 100.0) / 100.0;
    q.y = 100.0 + category_effect[q.category] + hy_effect[q.hy] + (q.sex == 1 ? 5.0 : 0.0) +
          slope[q.category] * (q.weight - 30.0) + pen_effect[q.pen] + direct[x] + maternal[q.dam];
    recs.push_back(q);
  }

  // Families: a head and her recorded progeny, in record order; the correlated part
  // (tav: the family effect on top of an independent residual; ro: the residual itself).
  std::vector<std::int32_t> family_of(n_ped + 1, 0);  // head member of each recorded member
  for (std::int32_t x = first_rec; x <= n_ped; ++x) {
    if (head[x]) family_of[x] = x;
    else if (recorded(ped.dam[x]) && head[ped.dam[x]]) family_of[x] = ped.dam[x];
  }
  std::vector<std::vector<std::int32_t>> members(n_ped + 1);
  for (std::int32_t x = first_rec; x <= n_ped; ++x)
    if (family_of[x] != 0) members[family_of[x]].push_back(x);
  const double corr_var = tav ? true_R : true_s2e;
  std::int64_t n_families = 1, family_pairs = 0, largest = 0;
  std::vector<double> m;
  for (std::int32_t h = first_rec; h <= n_ped; ++h) {
    const auto& f = members[h];
    if (f.empty()) continue;
    const int n = int(f.size());
    ++n_families;
    largest = std::max<std::int64_t>(largest, n);
    family_pairs += std::int64_t(n) * (n + 1) / 2;
    m.assign(std::size_t(n) * n, 0.0);
    for (int a = 0; a < n; ++a) {
      m[a * n + a] = 1.0;
      for (int b = a + 1; b < n; ++b)
        if (ped.dam[f[b]] == f[a]) m[a * n + b] = m[b * n + a] = true_p;
    }
    cholesky(m, n);
    std::vector<double> z(n);
    for (auto& v : z) v = r.normal();
    for (int a = 0; a < n; ++a) {
      double e = 0.0;
      for (int k = 0; k <= a; ++k) e += m[a * n + k] * z[k];
      recs[f[a] - first_rec].y += std::sqrt(corr_var) * e;
    }
  }
  for (std::int32_t x = first_rec; x <= n_ped; ++x) {
    record& q = recs[x - first_rec];
    if (family_of[x] == 0) q.y += std::sqrt(corr_var) * r.normal();
    if (tav) q.y += std::sqrt(true_s2e) * r.normal();
  }

  // Capacity: bounds on the distinct positions each store receives. Data part: for every ordered
  // pair of effects at most min(records, levels x levels) positions (ro couples the records of a
  // family, so its pairs grow with the square of the family size); pedigree part: the member and
  // its parents, both triangles for the relationship store.
  std::vector<std::int64_t> levels = {2, n_hy, 2, 2, n_pen};
  if (tav) levels.push_back(n_rec);
  levels.push_back(n_ped);
  levels.push_back(n_ped);
  const std::int64_t n_eff = std::int64_t(levels.size());
  std::int64_t data_pairs = 0;
  for (std::int64_t i = 0; i < n_eff; ++i)
    for (std::int64_t k = 0; k < n_eff; ++k)
      data_pairs += std::min<std::int64_t>(n_rec, levels[i] * levels[k]);
  if (!tav) data_pairs += family_pairs * 2 * n_eff * n_eff;
  std::int64_t n_eq = 0;
  for (auto l : levels) n_eq += l;
  const std::int64_t relationship = n_ped + 2 * ped.known_parents + 2 * ped.both_known;
  const std::int64_t pedigree_upper = 4 * relationship;  // the direct-maternal block, upper part
  std::int64_t upper = (data_pairs + n_eq) / 2 + pedigree_upper + n_pen + (tav ? family_pairs : 0);
  std::int64_t nz = std::max(upper, tav ? data_pairs : upper);
  nz = std::max<std::int64_t>(nz, relationship * (tav ? 5 : 10) + 10);
  nz = nz + nz / 50 + 1000;
  if (nz > 2000000000) { std::cerr << "simulate: NZ above the 32-bit range\n"; return 2; }

  // ped.txt
  {
    out_file f("ped.txt");
    for (std::int32_t x = 1; x <= n_ped; ++x) f.num(x).num(ped.sire[x]).num(ped.dam[x]).end();
  }
  // dat.txt
  {
    out_file f("dat.txt");
    for (const record& q : recs) {
      f.num(q.category).num(q.hy).num(q.sex).real(q.weight).num(q.pen);
      f.num(q.animal).num(q.dam).real(q.y).end();
    }
  }
  // param.txt
  {
    out_file f("param.txt");
    f.put(std::string("SIMULATED RUN PARAMETERS for ") + (tav ? "zumek_tav" : "zumek_ro"));
    f.put("true values: S2E0 " + std::to_string(true_s2e) + " p_PAR " + std::to_string(true_p) +
          " pen " + std::to_string(true_pen) + (tav ? " R " + std::to_string(true_R) : "") +
          " G " + std::to_string(true_g11) + " " + std::to_string(true_g12) + " " +
          std::to_string(true_g22));
    f.put("families (rest group included) " + std::to_string(n_families) + ", largest " +
          std::to_string(largest));
    for (int i = 4; i <= 14; ++i) f.put("-");
    f.num(std::int64_t(seed % 2000000000) + 1).text("seed").end();
    f.num(rounds).text("rounds").end();
    f.num(nz).text("NZ").end();
    f.num(n_ped).text("pedigree members").end();
    f.num(n_rec).text("records").end();
    f.num(n_eff).text("effects").end();
    for (int i = 21; i <= 25; ++i) f.put("-");
    auto row = [&](std::vector<std::int64_t> v, const char* what) {
      for (auto x : v) f.num(x);
      f.text(what).end();
    };
    if (tav) {
      row({0, 0, 0, 1, 0, 0, 0, 0}, "NEST");
      row(levels, "NLEV");
      row({0, 0, 0, 0, 1, 3, 2, 2}, "TYPO");
      row({0, 0, 0, 1, 0, 0, 0, 0}, "fixed_effect_type");
      row({0, 0, 0, 0, 1, 1, 2, 0}, "CORR");
      row({0, 1, 1, 0, 0, 0, 0, 0}, "drop_last_level");
    } else {
      row({0, 0, 0, 1, 0, 0, 0}, "NEST");
      row(levels, "NLEV");
      row({0, 0, 0, 0, 1, 2, 2}, "TYPO");
      row({0, 0, 0, 1, 0, 0, 0}, "fixed_effect_type");
      row({0, 0, 0, 0, 1, 2, 0}, "CORR");
      row({0, 1, 1, 0, 0, 0, 0}, "drop_last_level");
    }
    for (int i = 32; i <= 36; ++i) f.put("-");
    f.real(tav ? true_s2e : true_s2e * start).text("S2E0").end();  // fixed in zumek_tav
    f.real(true_p * start).text("p_PAR").end();
    f.real(true_pen * start).text("pen variance").end();
    if (tav) f.real(true_R * start).text("R").end();
    f.real(true_g11 * start).text("direct variance").end();
    f.real(true_g12 * start).text("direct-maternal covariance").end();
    f.real(true_g22 * start).text("maternal variance").end();
    f.put("-");
    f.put("-");
    f.num(4).text("prior df").end();
    f.num(4).text("prior df").end();
    f.num(4).text("prior df").end();
    if (tav) f.num(4).text("prior df").end();
    f.put("-");
    f.put("-");
    f.num(11).text("grid points").end();
    // A family of a dam and five offspring stays positive definite for |p| < 1/sqrt(5), about
  // 0.447; the fine grid reaches half its width (0.05) past the coarse ends.
  f.real(-0.3).real(0.3).text("coarse grid").end();
    f.real(0.01).text("fine grid step").end();
    for (int i = 0; i < 4; ++i) f.put("-");
    f.put("T write solutions");
  }
  std::cout << "simulate: " << program << " records " << n_rec << " members " << n_ped
            << " families " << n_families << " largest " << largest << " NZ " << nz << "\n";
  return 0;
}

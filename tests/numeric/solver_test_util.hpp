// Builders of row-compressed upper triangles for the solver tests: entries keep the order in
// which they are added (like a finished sparse store), repeated positions add up.
#pragma once

#include <cstdint>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime/array.hpp"

namespace solver_test {

struct triangle {
  std::int32_t n = 0;
  std::vector<std::vector<std::pair<std::int32_t, double>>> rows;   // 0-based rows
  std::unordered_map<std::int64_t, std::pair<std::int32_t, std::int32_t>> where;

  explicit triangle(std::int32_t order) : n(order), rows(order) {}

  // Adds v at (i, j), stored in row min(i, j): the upper triangle.
  void add(std::int32_t i, std::int32_t j, double v) {
    if (i > j) std::swap(i, j);
    const std::int64_t key = std::int64_t{i} * (std::int64_t{n} + 1) + j;
    auto it = where.find(key);
    if (it != where.end()) {
      rows[it->second.first - 1][it->second.second].second += v;
      return;
    }
    auto& r = rows[i - 1];
    where.emplace(key, std::make_pair(i, static_cast<std::int32_t>(r.size())));
    r.emplace_back(j, v);
  }
  // Appends an entry without looking for an earlier one (to build faulty stores).
  void append(std::int32_t i, std::int32_t j, double v) { rows[i - 1].emplace_back(j, v); }

  std::int64_t nnz() const {
    std::int64_t s = 0;
    for (auto& r : rows) s += static_cast<std::int64_t>(r.size());
    return s;
  }

  void to_arrays(rt::vec1<std::int32_t>& row_start, rt::vec1<std::int32_t>& column,
                 rt::vec1<double>& value) const {
    row_start.assign(n + 1);
    column.assign(nnz());
    value.assign(nnz());
    std::int32_t p = 1;
    for (std::int32_t i = 1; i <= n; ++i) {
      row_start(i) = p;
      for (auto& [c, v] : rows[i - 1]) {
        column(p) = c;
        value(p) = v;
        ++p;
      }
    }
    row_start(n + 1) = p;
  }

  // y = A x with A symmetric, from the stored triangle (0-based vectors).
  std::vector<double> times(const std::vector<double>& x) const {
    std::vector<double> y(n, 0.0);
    for (std::int32_t i = 1; i <= n; ++i)
      for (auto& [c, v] : rows[i - 1]) {
        y[i - 1] += v * x[c - 1];
        if (c != i) y[c - 1] += v * x[i - 1];
      }
    return y;
  }
};

// Mixed-model equations: n_covariates dense covariate rows, n_herds herd rows, then one
// equation per animal of a random pedigree (parents earlier than their offspring) with
// the relationship inverse scaled by lambda. Records on a fraction of the animals.
inline triangle mixed_model(std::int32_t n_covariates, std::int32_t n_herds,
                            std::int32_t n_animals, double record_fraction, unsigned seed) {
  const std::int32_t n = n_covariates + n_herds + n_animals;
  triangle t(n);
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double lambda = 2.0;
  const std::int32_t a0 = n_covariates + n_herds;   // animal a is equation a0 + a
  for (std::int32_t a = 1; a <= n_animals; ++a) {
    // Parents: unknown for the first tenth, otherwise earlier animals (sometimes unknown).
    std::int32_t s = 0, d = 0;
    if (a > n_animals / 10 && a > 2) {
      if (u(g) < 0.9) s = 1 + static_cast<std::int32_t>(u(g) * (a - 1));
      if (u(g) < 0.8) d = 1 + static_cast<std::int32_t>(u(g) * (a - 1));
      if (d == s) d = 0;
    }
    const double known = (s != 0) + (d != 0);
    const double k = lambda * 4.0 / (4.0 - known);   // inverse of the Mendelian variance
    t.add(a0 + a, a0 + a, k);
    std::int32_t par[2] = {s, d};
    for (auto p : par)
      if (p != 0) {
        t.add(a0 + a, a0 + p, -k / 2);
        t.add(a0 + p, a0 + p, k / 4);
      }
    if (s != 0 && d != 0) t.add(a0 + s, a0 + d, k / 4);
    // A record: herd, covariates, animal.
    if (u(g) < record_fraction) {
      std::vector<std::pair<std::int32_t, double>> x;
      for (std::int32_t c = 1; c <= n_covariates; ++c) x.emplace_back(c, u(g) * 2.0 - 1.0);
      x.emplace_back(n_covariates + 1 + static_cast<std::int32_t>(u(g) * n_herds), 1.0);
      x.emplace_back(a0 + a, 1.0);
      for (auto& [i, xi] : x)
        for (auto& [j, xj] : x)
          if (i <= j) t.add(i, j, xi * xj);
    }
  }
  // Every herd and covariate equation needs a record; a small ridge keeps empty ones regular.
  for (std::int32_t i = 1; i <= a0; ++i) t.add(i, i, 1.0e-3);
  return t;
}

// A structured pedigree like a livestock population: n_gen generations in n_herds herds;
// sires are a few bulls per generation used across all herds, dams come from the same herd's
// previous generation. Equations: n_covariates dense rows, one herd-year level per herd and
// generation, then the animals (herd animals and bulls), n equations in all.
inline triangle herd_pedigree_model(std::int32_t n, std::int32_t n_covariates,
                                    std::int32_t n_herds, std::int32_t n_gen,
                                    std::int32_t bulls_per_gen, unsigned seed) {
  triangle t(n);
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto pick = [&](const std::vector<std::int32_t>& v) {
    return v.empty() ? 0 : v[static_cast<std::size_t>(u(g) * v.size()) % v.size()];
  };
  const double lambda = 2.0;
  const std::int32_t levels = n_herds * n_gen;
  const std::int32_t a0 = n_covariates + levels;
  const std::int32_t n_animals = n - a0;
  const std::int32_t herd_animals = n_animals - n_gen * bulls_per_gen;
  const std::int32_t slots = n_herds * n_gen;
  std::int32_t next = 0;
  auto add_animal = [&](std::int32_t s, std::int32_t d, std::int32_t level) {
    const std::int32_t a = ++next;
    const double known = (s != 0) + (d != 0);
    const double k = lambda * 4.0 / (4.0 - known);
    t.add(a0 + a, a0 + a, k);
    for (std::int32_t p : {s, d})
      if (p != 0) {
        t.add(a0 + a, a0 + p, -k / 2);
        t.add(a0 + p, a0 + p, k / 4);
      }
    if (s != 0 && d != 0) t.add(a0 + s, a0 + d, k / 4);
    if (level != 0 && u(g) < 0.8) {
      std::vector<std::pair<std::int32_t, double>> x;
      for (std::int32_t c = 1; c <= n_covariates; ++c) x.emplace_back(c, u(g) * 2.0 - 1.0);
      x.emplace_back(n_covariates + level, 1.0);
      x.emplace_back(a0 + a, 1.0);
      for (auto& [i, xi] : x)
        for (auto& [j, xj] : x)
          if (i <= j) t.add(i, j, xi * xj);
    }
    return a;
  };
  std::vector<std::vector<std::int32_t>> herd_prev(n_herds), herd_now(n_herds);
  std::vector<std::int32_t> bulls_prev, bulls_now;
  for (std::int32_t gen = 1; gen <= n_gen; ++gen) {
    for (std::int32_t h = 1; h <= n_herds; ++h) {
      const std::int32_t slot = (gen - 1) * n_herds + h;
      const std::int32_t m = herd_animals / slots + (slot <= herd_animals % slots ? 1 : 0);
      herd_now[h - 1].clear();
      for (std::int32_t i = 0; i < m; ++i) {
        const std::int32_t s = u(g) < 0.9 ? pick(bulls_prev) : 0;
        const std::int32_t d = u(g) < 0.85 ? pick(herd_prev[h - 1]) : 0;
        herd_now[h - 1].push_back(add_animal(s, d, (h - 1) * n_gen + gen));
      }
    }
    bulls_now.clear();
    for (std::int32_t i = 0; i < bulls_per_gen; ++i) {
      const std::int32_t h = 1 + static_cast<std::int32_t>(u(g) * n_herds) % n_herds;
      bulls_now.push_back(add_animal(pick(bulls_prev), pick(herd_prev[h - 1]), 0));
    }
    std::swap(herd_prev, herd_now);
    std::swap(bulls_prev, bulls_now);
  }
  for (std::int32_t i = 1; i <= a0; ++i) t.add(i, i, 1.0e-3);
  return t;
}

}  // namespace solver_test

// Shared by the end-to-end tests on simulated data: generate an input set, run a program on it,
// read its chain file as numbers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/e2e.hpp"

namespace simulated {

// Writes param.txt, dat.txt and ped.txt for "tav" or "ro" into dir; layout "herds" or "mixed".
inline void generate(const std::filesystem::path& dir, const std::string& program, int records,
                     int members, int seed, int rounds, double start_factor = 1.0,
                     const std::string& layout = "herds") {
  const std::string cmd = "cd '" + dir.string() + "' && '" SIMULATE_BIN "' " + program + " " +
                          std::to_string(records) + " " + std::to_string(members) + " " +
                          std::to_string(seed) + " " + std::to_string(rounds) + " " +
                          std::to_string(start_factor) + " " + layout + " >simulate.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

// The lines of a text made of numbers only (at least three), as rows.
inline std::vector<std::vector<double>> chain_from_text(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    double v;
    while (fields >> v) row.push_back(v);
    fields >> std::ws;
    if (row.size() >= 3 && fields.eof()) rows.push_back(row);
  }
  return rows;
}

// The chain file as rows of numbers.
inline std::vector<std::vector<double>> chain(const std::filesystem::path& file) {
  return chain_from_text(testing_support::read_file(file));
}

// Mean of column c over rows first .. end.
inline double mean(const std::vector<std::vector<double>>& rows, std::size_t first, std::size_t c) {
  double s = 0.0;
  for (std::size_t i = first; i < rows.size(); ++i) s += rows[i].at(c);
  return s / double(rows.size() - first);
}

}  // namespace simulated

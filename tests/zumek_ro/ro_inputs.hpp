// Input files of zumek_ro for the tests: a 57-line "param.txt" with a comment after every
// value, in which single lines can be replaced.
#pragma once

#include <algorithm>
#include <map>
#include <string>

namespace ro_test {

// Lines 15 .. 57 that carry values; every other line is a heading the reader skips.
inline std::map<int, std::string> default_param_lines() {
  return {
      {15, "12345        seed"},
      {16, "10           rounds"},
      {17, "1000         NZ"},
      {18, "5            pedigree lines"},
      {19, "4            records"},
      {20, "5            effects"},
      {26, "0 0 0 0 0    NEST"},
      {27, "3 2 4 5 5    NLEV"},
      {28, "0 0 1 2 0    TYPO"},
      {29, "0 0 0 0 0    fixed effect type"},
      {30, "0 0 1 2 0    CORR"},
      {31, "1 0 0 0 0    drop last level"},
      {37, "2.5          S2E0"},
      {38, "0.3          p_PAR"},
      {39, "0.7          G0 single variance"},
      {40, "1.1          G0 block (1,1)"},
      {41, "0.2          G0 block (1,2)"},
      {42, "0.9          G0 block (2,2)"},
      {45, "4.0          residual prior df"},
      {46, "5.0          type 1 prior df"},
      {47, "6.0          type 2 prior df"},
      {50, "9            grid points"},
      {51, "-0.8 0.8     coarse grid start and end"},
      {52, "0.05         fine grid step"},
      {57, "T            write solutions"},
  };
}

inline std::string param_text(const std::map<int, std::string>& lines) {
  std::string t;
  const int last = lines.empty() ? 57 : std::max(57, lines.rbegin()->first);
  for (int l = 1; l <= last; ++l) {
    auto it = lines.find(l);
    t += it != lines.end() ? it->second : "# heading line " + std::to_string(l);
    t += "\n";
  }
  return t;
}

inline std::string param_text_with(std::map<int, std::string> changes) {
  auto lines = default_param_lines();
  for (auto& [l, s] : changes) lines[l] = s;
  return param_text(lines);
}

}  // namespace ro_test

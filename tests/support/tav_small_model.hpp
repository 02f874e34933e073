// A small zumek_tav model that uses every kind of effect, for the assembly and end-to-end
// tests: two class effects (one with a dropped last level and a negative code), a covariate
// nested in the first class effect, a plain covariate, independent levels, the
// family-correlated effect over two maternal families and a rest group, and an animal and
// maternal 2 x 2 block over a 12-member pedigree with inbred members.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/e2e.hpp"

namespace tav_small_model {

// Effects: 1 class (3 levels; 2 marks a family head), 2 class (4 levels, last dropped),
// 3 covariate nested in effect 1, 4 covariate, 5 independent (4 levels, the last unused by the
// data), 6 record (16), 7 animal, 8 dam (12 each).
inline std::map<int, std::string> param_lines() {
  return {{15, "4711        seed"},
          {16, "0           rounds"},
          {17, "4000        NZ"},
          {18, "12          pedigree members"},
          {19, "16          NRDF"},
          {20, "8           effects"},
          {26, "0 0 1 0 0 0 0 0     NEST"},
          {27, "3 4 3 1 4 16 12 12  NLEV"},
          {28, "0 0 0 0 1 3 2 2     TYPO"},
          {29, "0 0 1 1 0 0 0 0     fixed_effect_type"},
          {30, "0 0 0 0 1 1 2 0     CORR"},
          {31, "0 1 0 0 0 0 0 0     drop_last_level"},
          {37, "2.5         S2E0"},
          {38, "0.3         p_PAR"},
          {39, "1.5         G0(5,1,1)"},
          {40, "0.8         G0(6,1,1)"},
          {41, "3.0         G0(7,1,1)"},
          {42, "-0.6        G0(7,1,2)"},
          {43, "1.2         G0(7,2,2)"},
          {46, "4"},
          {47, "4"},
          {48, "4"},
          {49, "4"},
          {52, "5"},
          {53, "-0.2 0.2"},
          {54, "0.01"},
          {59, "T"}};
}

inline std::string param_text(const std::map<int, std::string>& lines) {
  std::string text;
  for (int l = 1; l <= 59; ++l) {
    auto it = lines.find(l);
    text += it != lines.end() ? it->second : "comment line " + std::to_string(l);
    text += "\n";
  }
  return text;
}

// Records in family order already (family 1: head 5 and her offspring 9 and 11; family 2:
// head 6 and offspring 10; then the rest group), so that the record number is the line number.
// Columns: effect 1, effect 2, covariate 3, covariate 4, effect 5, animal, dam, observation.
inline const char* dat_text() {
  return "2  1  1.5  10.0  1   5  2  12.1\n"
         "1  2  0.5  12.0  2   9  5  14.3\n"
         "3 -3  2.0   9.0  3  11  5  11.7\n"
         "2  4  1.0  11.0  1   6  3  13.4\n"
         "1  3  2.5  10.5  2  10  6  15.2\n"
         "3  1  1.2  12.5  3   7  2   9.8\n"
         "1  2  0.8   8.0  1   8  2  12.6\n"
         "3  0  1.7  13.0  2  12  8  14.9\n"
         "1  4  2.2  11.5  3   1  0  10.4\n"
         "3  1  0.3   9.5  1   2  0  13.1\n"
         "1 -2  1.9  10.2  2   3  0  12.2\n"
         "3  3  2.8  12.2  3   4  0  11.1\n"
         "1  1  1.1   9.9  1   7  2  10.9\n"
         "3  2  0.9  10.8  2   8  2  13.8\n"
         "1  4  2.4  11.1  3  12  8  12.0\n"
         "3  3  1.3  12.9  1   4  0  14.4\n";
}

// 9 and 11 are inbred (parents related through member 2 and through sire 1).
inline const char* ped_text() {
  return "1 0 0\n2 0 0\n3 0 0\n4 0 0\n5 1 2\n6 1 3\n7 4 2\n8 1 2\n9 7 5\n10 7 6\n11 1 5\n12 4 8\n";
}

inline void write_inputs(const std::filesystem::path& dir,
                         const std::map<int, std::string>& lines = param_lines(),
                         const std::string& dat = dat_text()) {
  testing_support::write_file(dir / "param.txt", param_text(lines));
  testing_support::write_file(dir / "dat.txt", dat);
  testing_support::write_file(dir / "ped.txt", ped_text());
}

}  // namespace tav_small_model

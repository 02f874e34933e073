// A small zumek_ro model for the end-to-end and solution tests: seven effects (record
// category, herd with its last level dropped, weight nested within category, age, pen as an
// independent random effect, animal and dam as a genetic block), 14 records in two families
// and a rest group, over a 20-animal pedigree with full-sib matings.
#pragma once

#include <string>

#include "tests/zumek_ro/ro_inputs.hpp"

namespace ro_test {

inline std::map<int, std::string> model_param_lines() {
  auto lines = default_param_lines();
  lines[16] = "0            rounds";
  lines[17] = "2000         NZ";
  lines[18] = "20           pedigree lines";
  lines[19] = "14           records";
  lines[20] = "7            effects";
  lines[26] = "0 0 1 0 0 0 0     NEST";
  lines[27] = "2 3 2 1 4 20 20   NLEV";
  lines[28] = "0 0 0 0 1 2 2     TYPO";
  lines[29] = "0 0 1 1 0 0 0     fixed effect type";
  lines[30] = "0 0 0 0 1 2 0     CORR";
  lines[31] = "0 1 0 0 0 0 0     drop last level";
  lines[37] = "2.5          S2E0";
  lines[38] = "0.3          p_PAR";
  lines[39] = "0.7          G0 pen";
  lines[40] = "1.5          G0 animal";
  lines[41] = "0.3          G0 animal-dam";
  lines[42] = "0.8          G0 dam";
  return lines;
}

inline std::string model_param(std::map<int, std::string> changes = {}) {
  auto lines = model_param_lines();
  for (auto& [l, s] : changes) lines[l] = s;
  return param_text(lines);
}

// category herd weight age pen animal dam observation. Families: head 10 with 14, 13, 15,
// 18 (14 comes before its dam, so that pair is not linked); head 16 with 20. Head 11 names
// no offspring and falls into the rest group, where 6 and its offspring 9 and 12 are linked
// but weigh as independent records. Herd 3 is dropped, herd -2 codes level 2 with sign -1.
inline const char* model_dat =
    "1  1 30.1 1.2 1  6  2 10.4\n"
    "1  2 28.4 0.9 2 14 10 11.9\n"
    "1  3 31.0 1.1 3  9  6  9.7\n"
    "2  1 33.2 2.0 1 10  6 12.8\n"
    "1 -2 29.5 1.0 4 13 10 10.1\n"
    "2  2 32.0 1.8 2 11  8 13.3\n"
    "2  1 30.7 1.5 3 16 12 12.2\n"
    "1  2 27.9 0.8 4 15 10  9.4\n"
    "1  1 29.1 1.3 1 19  0 10.8\n"
    "1  2 28.8 0.7 2 20 16  9.9\n"
    "1  1 30.3 1.1 3 17 14 11.5\n"
    "1  3 31.4 1.2 4 18 10 10.6\n"
    "1  2 29.9 1.4 1 12  6 11.1\n"
    "1  1 30.6 1.6 2  7  4 10.2\n";

inline const char* model_ped =
    "1 0 0\n2 0 0\n3 0 0\n4 0 0\n5 1 2\n6 1 2\n7 3 4\n8 3 4\n9 5 6\n10 5 6\n"
    "11 5 8\n12 7 6\n13 9 10\n14 9 10\n15 11 10\n16 9 12\n17 13 14\n18 0 10\n19 9 0\n20 13 16\n";

}  // namespace ro_test

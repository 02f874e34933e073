// The output step: "SOLUTIONS.txt", one line per level of every effect.
#include <cstdint>

#include "numeric/equation_reduction.hpp"
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"
#include "zumek_ro/steps.hpp"

namespace ro {

namespace {

// (A6,2X,A5,2X,A14)
void put_header(rt::text_out& f, const char* a, const char* b, const char* c) {
  rt::put(f, rt::fixed_line().A(a, 6).X(2).A(b, 5).X(2).A(c, 14));
}

}  // namespace

void write_solutions_file(run_state& s) {
  rt::text_out& con = rt::console();
  rt::write(con, {"***"});
  rt::write(con, {"STEP 6. WRITTING OUTPUT FILE."});
  rt::write(con, {});

  // Full numbering again: a removed level reads 0.0.
  num::expand_solution(s.n_equations, static_cast<std::int32_t>(s.dropped.size()), s.dropped,
                      s.solution, 0.0);

  rt::text_out f;
  rt::open_out(f, 11, "SOLUTIONS.txt");
  rt::put(f, rt::fixed_line().A("++++++++++++++", 14));
  rt::put(f, rt::fixed_line().A("SOLUTIONS FILE", 14));
  rt::put(f, rt::fixed_line().A("++++++++++++++", 14));
  rt::write(f, {});
  put_header(f, "EFFECT", "LEVEL", "     SOLUTIONS");
  put_header(f, "------", "-----", "     ---------");

  std::int32_t first = 1;
  for (std::int32_t k = 1; k <= s.n_effects; ++k) {
    const std::int32_t typo = s.TYPO(k);
    if (typo == 1) {
      rt::write(f, {});
      put_header(f, "EFFECT", "LEVEL", "   PREDICTIONS");
      put_header(f, "------", "-----", "   -----------");
    } else if (typo == 2) {
      rt::write(f, {});
      put_header(f, "EFFECT", "   ID", "BREEDING VALUE");
      put_header(f, "------", "-----", "--------------");
    }
    for (std::int32_t l = 1; l <= s.NLEV(k); ++l)
      rt::put(f, rt::fixed_line().I(k, 6).X(2).I(l, 5).X(2).F(s.solution(first + l - 1), 14, 4));
    rt::put(f, rt::fixed_line().A("-----------------------------", 29));
    rt::write(f, {});
    first += s.NLEV(k);
  }
  rt::close(f);

  rt::write(con, {"***"});
  rt::stop("PROGRAM TERMINATED.", rt::exit_normal);
}

}  // namespace ro

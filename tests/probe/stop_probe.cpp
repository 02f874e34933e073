// A tiny program for the end-to-end tests of how a run ends. It reads the case number from
// "case.txt" in its working folder:
//   1 normal end, 2 error stop with an empty stop text, 3 error stop with a text,
//   4 end of file in "param.txt", 5 missing "ped.txt", 6 bad value in "param.txt".
// Every case first writes a console line and leaves "out.txt" open, so the tests can see
// that a stop flushes and closes it.
#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

int main() {
  rt::fp_setup();
  rt::set_program_name("stop_probe");
  rt::write(rt::console(), {"PROGRAM STOP_PROBE"});
  rt::text_out out;
  rt::open_out(out, 11, "out.txt");
  rt::write(out, {"CASE", 1.5});

  rt::text_in in;
  rt::open_in(in, 37, "case.txt");
  std::int32_t which = 0;
  rt::read(in, {which});
  rt::close(in);

  std::int32_t n = 0;
  switch (which) {
    case 1:
      rt::stop("PROGRAM TERMINATED.", rt::exit_normal);
    case 2:
      rt::write(rt::console(), {"BEWARE! SOMETHING WENT WRONG"});
      rt::stop("", rt::exit_error);
    case 3:
      rt::stop("FATAL ERROR: EXECUTION STOPPED", rt::exit_error);
    case 4:
    case 6:
      rt::open_in(in, 37, "param.txt");
      rt::read(in, {n, n});
      break;
    case 5:
      rt::open_in(in, 2, "ped.txt");
      break;
  }
  rt::stop("UNKNOWN CASE", rt::exit_error);
}

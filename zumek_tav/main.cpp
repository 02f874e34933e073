#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

int main() {
  rt::fp_setup();
  rt::set_program_name("zumek_tav");
  rt::write(rt::console(), {"PROGRAM ZUMEK_TAV v3.0"});
  rt::stop("PROGRAM TERMINATED.", rt::exit_normal);
}

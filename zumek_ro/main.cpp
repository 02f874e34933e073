#include "runtime/process.hpp"
#include "runtime/text_io.hpp"

int main() {
  rt::fp_setup();
  rt::set_program_name("zumek_ro");
  rt::write(rt::console(), {"PROGRAM ZUMEK_RO v1.1"});
  rt::stop("PROGRAM TERMINATED.", rt::exit_normal);
}

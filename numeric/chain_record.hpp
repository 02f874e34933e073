// The line of the chain file that opens every sampling round of both programs.
#pragma once

#include "runtime/text_io.hpp"

namespace num {

// Writes the six values of the chain line, each (F11.5,2X), the last one too.
void write_chain_line(rt::text_out& chain_file, const double (&values)[6]);

}  // namespace num

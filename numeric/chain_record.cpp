// The chain file's line.
#include "numeric/chain_record.hpp"

namespace num {

void write_chain_line(rt::text_out& chain_file, const double (&values)[6]) {
  rt::fixed_line line;
  for (double v : values) line.F(v, 11, 5).X(2);
  rt::put(chain_file, line);
}

}  // namespace num

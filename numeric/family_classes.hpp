// Ordinary families of equal structure (same number of records, same links) have the same
// matrix I + p L at every p, so they can share one inverse. These routines group families by
// a key that describes that structure and number the groups of two or more as classes.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "runtime/array.hpp"

namespace num {

struct family_class_builder {
  std::map<std::vector<std::uint64_t>, std::int32_t> first_of;  // key -> first family with it
  std::vector<std::int32_t> first;                               // family -> that first family, 0 = alone
};

// Starts a grouping of families 1 .. n_families.
void class_builder_start(family_class_builder& b, std::int32_t n_families);
// Puts family f in the group of its key (families never added stay alone).
void class_builder_add(family_class_builder& b, std::int32_t f,
                       const std::vector<std::uint64_t>& key);
// Numbers the groups of two or more families as classes 1, 2, ... in the order of their first
// family: family_class(f) is f's class or 0, class_family(c) the first family of class c.
// Returns the number of classes.
std::int32_t class_builder_finish(family_class_builder& b, std::int32_t n_families,
                                  rt::vec1<std::int32_t>& family_class,
                                  rt::vec1<std::int32_t>& class_family);

}  // namespace num

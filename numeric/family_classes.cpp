#include "numeric/family_classes.hpp"

namespace num {

void class_builder_start(family_class_builder& b, std::int32_t n_families) {
  b.first_of.clear();
  b.first.assign(static_cast<std::size_t>(n_families > 0 ? n_families : 0) + 1, 0);
}

void class_builder_add(family_class_builder& b, std::int32_t f,
                       const std::vector<std::uint64_t>& key) {
  auto [it, is_new] = b.first_of.try_emplace(key, f);
  b.first[static_cast<std::size_t>(f)] = it->second;
}

std::int32_t class_builder_finish(family_class_builder& b, std::int32_t n_families,
                                  rt::vec1<std::int32_t>& family_class,
                                  rt::vec1<std::int32_t>& class_family) {
  const std::size_t nf = static_cast<std::size_t>(n_families > 0 ? n_families : 0);
  std::vector<std::int32_t> size(nf + 1, 0);      // members per first family
  for (std::size_t f = 1; f <= nf; ++f)
    if (b.first[f] > 0) size[static_cast<std::size_t>(b.first[f])] += 1;
  std::vector<std::int32_t> number(nf + 1, 0);    // first family -> class number
  std::int32_t n_classes = 0;
  for (std::size_t f = 1; f <= nf; ++f)
    if (size[f] >= 2) number[f] = ++n_classes;
  family_class.assign(static_cast<std::int64_t>(nf), 0);
  class_family.assign(n_classes, 0);
  for (std::size_t f = 1; f <= nf; ++f) {
    const std::int32_t first = b.first[f];
    const std::int32_t c = first > 0 ? number[static_cast<std::size_t>(first)] : 0;
    family_class(static_cast<std::int64_t>(f)) = c;
    if (c > 0 && first == static_cast<std::int32_t>(f)) class_family(c) = first;
  }
  b.first_of.clear();
  return n_classes;
}

}  // namespace num

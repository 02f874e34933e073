// A 1-based window on part of a work array: the solver drivers carve their integer and real
// work storage into named pieces without copying.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/array.hpp"
#include "runtime/process.hpp"

namespace num {

// With Stride 2: every other cell from p on, two arrays of equal length stored as pairs, so
// that the two entries of one index share a cache line.
template <class T, std::int64_t Stride = 1>
struct slice {
  T* p = nullptr;
  std::int64_t n = 0;   // cells 1..n

  T& operator()(std::int64_t i) const {
    RT_CHECK_INDEX("work slice", i, n);
    return p[Stride * (i - 1)];
  }
};

template <class T>
using paired_slice = slice<T, 2>;

// Cells first .. first+count-1 of v as a slice whose cell 1 is v(first).
template <class T>
slice<T> carve(rt::vec1<T>& v, std::int64_t first, std::int64_t count) {
  if (count < 0) count = 0;
  if (first < 1 || first - 1 + count > v.size())
    rt::internal_error("work array piece " + std::to_string(first) + " + " +
                       std::to_string(count) + " outside the array of " +
                       std::to_string(v.size()));
  return slice<T>{v.data() + (first - 1), count};
}

}  // namespace num

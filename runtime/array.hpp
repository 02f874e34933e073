// Arrays indexed from 1, as every routine of the system counts them.
//
// vec1<T>   a vector: v(1) .. v(size()).
// vec3<T>   a three-index array stored by columns: a(i, j, k), i fastest (G0(n_effects, 2, 2) ...).
// col_view  a column-major dense matrix over borrowed storage with a leading dimension: m(r, c).
//
// Storage is obtained once (resize) and an allocation failure ends the run with the
// out-of-memory run-time error. With ZUMEK_BOUNDS_CHECK every index is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

namespace rt {

[[noreturn]] void index_fault(const char* what, std::int64_t index, std::int64_t size);
[[noreturn]] void out_of_memory();

#ifdef ZUMEK_BOUNDS_CHECK
#define RT_CHECK_INDEX(what, i, n) \
  do { if ((i) < 1 || (i) > (n)) ::rt::index_fault(what, (i), (n)); } while (0)
#else
#define RT_CHECK_INDEX(what, i, n) do { } while (0)
#endif

template <class T>
class vec1 {
 public:
  vec1() = default;
  explicit vec1(std::int64_t n, T v = T{}) { resize(n, v); }

  // Sets the length to n (0 when n < 0); new elements take v, old ones keep their values.
  void resize(std::int64_t n, T v = T{}) {
    try {
      d_.resize(n > 0 ? static_cast<std::size_t>(n) : 0, v);
    } catch (const std::bad_alloc&) {
      out_of_memory();
    } catch (const std::length_error&) {
      out_of_memory();
    }
  }
  // Sets the length to n and every element to v.
  void assign(std::int64_t n, T v = T{}) {
    try {
      d_.assign(n > 0 ? static_cast<std::size_t>(n) : 0, v);
    } catch (const std::bad_alloc&) {
      out_of_memory();
    } catch (const std::length_error&) {
      out_of_memory();
    }
  }
  void release() { std::vector<T>().swap(d_); }

  T& operator()(std::int64_t i) {
    RT_CHECK_INDEX("vec1", i, size());
    return d_[static_cast<std::size_t>(i - 1)];
  }
  const T& operator()(std::int64_t i) const {
    RT_CHECK_INDEX("vec1", i, size());
    return d_[static_cast<std::size_t>(i - 1)];
  }

  std::int64_t size() const { return static_cast<std::int64_t>(d_.size()); }
  bool empty() const { return d_.empty(); }
  T* data() { return d_.data(); }              // element 1 is data()[0]
  const T* data() const { return d_.data(); }
  T* begin() { return d_.data(); }
  T* end() { return d_.data() + d_.size(); }
  const T* begin() const { return d_.data(); }
  const T* end() const { return d_.data() + d_.size(); }

 private:
  std::vector<T> d_;
};

template <class T>
class vec3 {
 public:
  vec3() = default;
  vec3(std::int64_t n1, std::int64_t n2, std::int64_t n3, T v = T{}) { resize(n1, n2, n3, v); }

  void resize(std::int64_t n1, std::int64_t n2, std::int64_t n3, T v = T{}) {
    n1_ = n1 > 0 ? n1 : 0;
    n2_ = n2 > 0 ? n2 : 0;
    n3_ = n3 > 0 ? n3 : 0;
    d_.assign(n1_ * n2_ * n3_, v);
  }

  T& operator()(std::int64_t i, std::int64_t j, std::int64_t k) {
    RT_CHECK_INDEX("vec3 index 1", i, n1_);
    RT_CHECK_INDEX("vec3 index 2", j, n2_);
    RT_CHECK_INDEX("vec3 index 3", k, n3_);
    return d_((i - 1) + n1_ * ((j - 1) + n2_ * (k - 1)) + 1);
  }
  const T& operator()(std::int64_t i, std::int64_t j, std::int64_t k) const {
    RT_CHECK_INDEX("vec3 index 1", i, n1_);
    RT_CHECK_INDEX("vec3 index 2", j, n2_);
    RT_CHECK_INDEX("vec3 index 3", k, n3_);
    return d_((i - 1) + n1_ * ((j - 1) + n2_ * (k - 1)) + 1);
  }
  std::int64_t extent(int dim) const { return dim == 1 ? n1_ : dim == 2 ? n2_ : n3_; }

 private:
  std::int64_t n1_ = 0, n2_ = 0, n3_ = 0;
  vec1<T> d_;
};

// A dense matrix stored by columns in storage it does not own: element (r, c) lies at
// p[(r - 1) + (c - 1) * ld].
struct col_view {
  double* p = nullptr;
  std::int64_t ld = 0;

  double& operator()(std::int64_t r, std::int64_t c) const {
    RT_CHECK_INDEX("col_view row", r, ld);
    return p[(r - 1) + (c - 1) * ld];
  }
};

}  // namespace rt

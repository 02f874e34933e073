// Arrays indexed from 1, as every routine of the system counts them.
//
// vec1<T>   a vector: v(1) .. v(size()).
// vec3<T>   a three-index array stored by columns: a(i, j, k), i fastest (G0(n_effects, 2, 2) ...).
// col_view  a column-major dense matrix over borrowed storage with a leading dimension: m(r, c).
//
// Storage is obtained once (resize) and an allocation failure ends the run with the
// out-of-memory run-time error. With ZUMEK_BOUNDS_CHECK every index is checked.
//
// Memory: Linux grants almost any request at once and only finds out that the memory is not
// there when the pages are first written (our arrays are zero-filled at once), and then the
// process is killed without a word. So every vec1 counts the bytes it holds, and a request
// that would take the total held by all arrays above the machine's physical memory plus swap
// fails up front with the out-of-memory run-time error (41).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace rt {

[[noreturn]] void index_fault(const char* what, std::int64_t index, std::int64_t size);
[[noreturn]] void out_of_memory();

// Bytes that all arrays may hold together: the machine's physical memory plus swap, or the
// limit set by set_memory_limit (a harness that must stay small; 0 goes back to the machine's).
std::int64_t memory_limit();
void set_memory_limit(std::int64_t bytes);
// Bytes held by all arrays at this moment.
std::int64_t memory_held();
// Counts bytes more as held when they fit under the limit; false (nothing counted) otherwise.
bool claim_memory(std::int64_t bytes);
void release_memory(std::int64_t bytes);
// Ends the run with the out-of-memory error, before anything is allocated, when bytes more
// would not fit: for a step that allocates several large arrays in a row.
void require_memory(double bytes);

// Storage of the arrays: nullptr when the memory cannot be had. Blocks of many megabytes are
// aligned to and marked for the processor's large pages, so that the first writes of a large
// array (the zero fill) take one page fault per 2 MiB instead of one per 4 KiB.
void* allocate_storage(std::size_t bytes) noexcept;
void free_storage(void* p, std::size_t bytes) noexcept;
// The same for storage that must start all zero: zeroed tells whether it is so already (a
// large block comes straight from the system, whose fresh pages are zero and only brought into
// memory when first written); when false, the caller clears it.
void* allocate_zeroed_storage(std::size_t bytes, bool& zeroed) noexcept;
// Marks the whole large pages inside [p, p + bytes) for the processor's large pages, for
// storage that did not come from allocate_storage (a string that holds a whole file): its first
// writes then take one page fault per 2 MiB. A hint only; nothing for small blocks.
void advise_large_pages(void* p, std::size_t bytes) noexcept;

// Set by vec1::assign_zeros around its one allocation: the allocator then asks for zeroed
// storage and reports here whether it came so. The run is single-threaded.
struct zeroed_request {
  bool wanted = false;
  bool granted = false;
};
inline zeroed_request zeroed_storage_request;

// The allocator of vec1: counts what it hands out against memory_limit.
template <class T>
struct counted_allocator {
  using value_type = T;
  counted_allocator() = default;
  template <class U>
  counted_allocator(const counted_allocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(INT64_MAX) / sizeof(T)) out_of_memory();
    const std::int64_t bytes = static_cast<std::int64_t>(n * sizeof(T));
    if (!claim_memory(bytes)) out_of_memory();
    void* p = zeroed_storage_request.wanted
                  ? allocate_zeroed_storage(n * sizeof(T), zeroed_storage_request.granted)
                  : allocate_storage(n * sizeof(T));
    if (p == nullptr) {
      release_memory(bytes);
      out_of_memory();
    }
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) {
    release_memory(static_cast<std::int64_t>(n * sizeof(T)));
    free_storage(p, n * sizeof(T));
  }
  // Elements made without a value are left as the storage holds them (see
  // vec1::resize_for_overwrite and vec1::assign_zeros); every other construction is the usual
  // one.
  template <class U>
  void construct(U* p) noexcept(noexcept(::new (static_cast<void*>(p)) U)) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const counted_allocator<U>&) const { return true; }
};

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
  // Sets the length to n and every element to zero (all bits clear), like assign(n, 0), but
  // storage of many megabytes that comes fresh from the system is not written at all: its
  // pages are zero already and come into memory only where an element is first written, so
  // an array larger than its use costs nothing for the part left unused. An array that has
  // length n already is cleared in place and keeps its storage.
  void assign_zeros(std::int64_t n) {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_copyable_v<T>);
    const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (count == d_.size()) {
      if (count > 0) std::memset(static_cast<void*>(d_.data()), 0, count * sizeof(T));
      return;
    }
    release();
    if (count == 0) return;
    zeroed_storage_request = {true, false};
    try {
      d_.resize(count);  // elements made without a value: nothing written
    } catch (const std::bad_alloc&) {
      zeroed_storage_request = {};
      out_of_memory();
    } catch (const std::length_error&) {
      zeroed_storage_request = {};
      out_of_memory();
    }
    const bool zeroed = zeroed_storage_request.granted;
    zeroed_storage_request = {};
    if (!zeroed) std::memset(static_cast<void*>(d_.data()), 0, count * sizeof(T));
  }
  // Sets the length to n (0 when n < 0) without giving the new elements a value: for a work
  // array each of whose cells is written before it is read. The pages of cells never used are
  // then never touched (a fresh large array costs a page fault and a page clear per page
  // written, which for some hundred megabytes is a good part of a second).
  void resize_for_overwrite(std::int64_t n) {
    try {
      d_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    } catch (const std::bad_alloc&) {
      out_of_memory();
    } catch (const std::length_error&) {
      out_of_memory();
    }
  }
  void release() { std::vector<T, counted_allocator<T>>().swap(d_); }

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
  std::vector<T, counted_allocator<T>> d_;
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

// vec1::assign_zeros: the same contents as assign(n, 0) whichever way the storage comes (small
// blocks from the heap, large ones fresh from the system), the same storage when the length
// stays, and the byte count of all arrays kept right.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "runtime/array.hpp"

namespace {

// Pages of [p, p + bytes) that are in memory.
int resident_pages(const void* p, std::size_t bytes) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(p) & ~(page - 1);
  const std::size_t n = (reinterpret_cast<std::uintptr_t>(p) + bytes - first + page - 1) / page;
  std::vector<unsigned char> in(n);
  if (mincore(reinterpret_cast<void*>(first), n * page, in.data()) != 0) return -1;
  int count = 0;
  for (unsigned char c : in) count += c & 1;
  return count;
}

template <class T>
bool all_zero(const rt::vec1<T>& v) {
  for (std::int64_t i = 1; i <= v.size(); ++i)
    if (v(i) != T{0}) return false;
  return true;
}

TEST(Vec1AssignZeros, SmallAndLargeArraysStartZero) {
  const std::int64_t held = rt::memory_held();
  for (std::int64_t n : {std::int64_t{0}, std::int64_t{1}, std::int64_t{1000},
                         std::int64_t{3} << 20, std::int64_t{5} << 20}) {
    rt::vec1<std::int32_t> a;
    a.assign_zeros(n);
    EXPECT_EQ(a.size(), n);
    EXPECT_TRUE(all_zero(a)) << n;
    rt::vec1<double> d;
    d.assign_zeros(n);
    EXPECT_EQ(d.size(), n);
    EXPECT_TRUE(all_zero(d)) << n;
    EXPECT_EQ(rt::memory_held(), held + n * 12) << n;
  }
  EXPECT_EQ(rt::memory_held(), held);
}

TEST(Vec1AssignZeros, SameLengthClearsInPlaceOtherLengthStartsAfresh) {
  for (std::int64_t n : {std::int64_t{100}, std::int64_t{1} << 21}) {
    rt::vec1<double> v;
    v.assign_zeros(n);
    const double* before = v.data();
    for (std::int64_t i = 1; i <= n; i += 997) v(i) = 3.5;
    v(n) = -1.0;
    v.assign_zeros(n);
    EXPECT_EQ(v.data(), before) << n;
    EXPECT_TRUE(all_zero(v)) << n;
    for (std::int64_t i = 1; i <= n; i += 997) v(i) = 3.5;
    v.assign_zeros(n + 1);
    EXPECT_EQ(v.size(), n + 1);
    EXPECT_TRUE(all_zero(v)) << n;
  }
}

TEST(Vec1AssignZeros, LargeBlocksStartOnLargePagesAndAreReusable) {
  // Many large arrays in turn: each block goes back to the system when its array is released
  // and a new one comes zero again, also after the old one was written all over.
  for (int round = 0; round < 80; ++round) {
    rt::vec1<std::int32_t> v;
    v.assign_zeros((std::int64_t{1} << 20) + round);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % (std::uintptr_t{1} << 21), 0u);
    ASSERT_TRUE(all_zero(v)) << round;
    for (std::int64_t i = 1; i <= v.size(); ++i) v(i) = static_cast<std::int32_t>(i);
  }
  // Many live large arrays (a large run holds more than a hundred at once): each comes
  // fresh from the system, zero without being written, so none of its pages is in memory yet.
  std::vector<rt::vec1<double>> many(300);
  for (auto& v : many) {
    v.assign_zeros(std::int64_t{1} << 19);
    ASSERT_EQ(resident_pages(v.data(), 4 << 20), 0) << &v - many.data();
  }
  for (auto& v : many) {
    ASSERT_TRUE(all_zero(v));
    v(1) = 1.0;
  }
  many.clear();
  rt::vec1<double> last;
  last.assign_zeros(std::int64_t{1} << 19);
  EXPECT_TRUE(all_zero(last));
}

TEST(Vec1AssignZeros, PlainAssignAndResizeStillFill) {
  rt::vec1<std::int32_t> v;
  v.assign(std::int64_t{2} << 20, 7);
  EXPECT_EQ(v(1), 7);
  EXPECT_EQ(v(v.size()), 7);
  v.resize(v.size() + 5, 9);
  EXPECT_EQ(v(v.size() - 5), 7);
  EXPECT_EQ(v(v.size()), 9);
}

}  // namespace

#include "runtime/process.hpp"

#include <sys/mman.h>
#include <sys/sysinfo.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "runtime/array.hpp"
#include "runtime/text_io.hpp"

namespace rt {

void close_all_files();   // text_io.cpp

namespace {
stop_hook& hook_slot() {
  static stop_hook hook = nullptr;
  return hook;
}

// Hands the end of the run to the hook when one is set, else exits with status.
[[noreturn]] void finish(end_kind kind, int status) {
  if (stop_hook hook = hook_slot()) hook(kind, status);
  std::exit(status);
}

std::string& name_slot() {
  static std::string name = "zumek";
  return name;
}
}  // namespace

void set_stop_hook(stop_hook hook) { hook_slot() = hook; }

void set_program_name(std::string_view name) { name_slot() = std::string(name); }
const std::string& program_name() { return name_slot(); }

void fp_setup() {
  // Bit 15: flush-to-zero; bit 6: denormals-are-zero. Rounding to nearest, all traps masked.
  _mm_setcsr(_mm_getcsr() | 0x8040u);
}

void stop(std::string_view text, int status) {
  close_all_files();
  if (!text.empty()) {
    std::string line(text);
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  std::fflush(stderr);
  finish(end_kind::stop, status);
}

void stop_framed(const fixed_line& line) {
  text_out& con = console();
  write(con, {});
  write(con, {"-----------"});
  put(con, line);
  write(con, {"-----------"});
  write(con, {});
  stop("", exit_error);
}

void stop_framed(const fixed_line& line, const fixed_line& second) {
  text_out& con = console();
  write(con, {});
  write(con, {"-----------"});
  put(con, line);
  put(con, second);
  write(con, {"-----------"});
  write(con, {});
  stop("", exit_error);
}

void runtime_error(int number, std::string_view message) {
  close_all_files();
  std::string line = program_name() + ": severe (" + std::to_string(number) + "): " +
                     std::string(message) + "\r\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  finish(end_kind::runtime_error, number);
}

void internal_error(std::string_view message) {
  close_all_files();
  std::string line = program_name() + ": internal error: " + std::string(message) + "\r\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  finish(end_kind::internal_error, exit_error);
}

void index_fault(const char* what, std::int64_t index, std::int64_t size) {
  internal_error(std::string(what) + " index " + std::to_string(index) + " outside 1.." +
                 std::to_string(size));
}

namespace {
std::int64_t held = 0;        // bytes held by all arrays
std::int64_t set_limit = 0;   // 0: the machine's memory

std::int64_t machine_memory() {
  static const std::int64_t bytes = [] {
    struct sysinfo si {};
    if (sysinfo(&si) != 0) return INT64_MAX;
    const double total = (static_cast<double>(si.totalram) + static_cast<double>(si.totalswap)) *
                         static_cast<double>(si.mem_unit);
    return total >= 9.0e18 ? INT64_MAX : static_cast<std::int64_t>(total);
  }();
  return bytes;
}
}  // namespace

std::int64_t memory_limit() { return set_limit > 0 ? set_limit : machine_memory(); }
void set_memory_limit(std::int64_t bytes) { set_limit = bytes > 0 ? bytes : 0; }
std::int64_t memory_held() { return held; }

namespace {
constexpr std::size_t large_page = std::size_t{1} << 21;
constexpr std::size_t large_block = large_page;  // from 2 MiB on

// Blocks handed out by allocate_zeroed_storage straight from the system, which free_storage
// gives back to it. Every such block is listed, however many there are: a block that came
// the ordinary way instead would have to be cleared by writing it, which brings each of its
// pages into memory (the slots of a store that are never filled too) and costs a pass over
// it. A large run holds more than a hundred such blocks at once, most of them column tables.
struct system_block {
  void* p = nullptr;
  std::size_t bytes = 0;  // mapped length
};
std::vector<system_block> system_blocks;   // entries with p == nullptr are free

std::size_t round_to_pages(std::size_t bytes) { return (bytes + large_page - 1) & ~(large_page - 1); }

}  // namespace

void* allocate_storage(std::size_t bytes) noexcept {
  if (bytes < large_block) return ::operator new(bytes, std::nothrow);
  void* p = ::operator new(bytes, std::align_val_t{large_page}, std::nothrow);
  if (p != nullptr) ::madvise(p, bytes & ~(large_page - 1), MADV_HUGEPAGE);  // a hint only
  return p;
}

void advise_large_pages(void* p, std::size_t bytes) noexcept {
  if (p == nullptr || bytes < large_block) return;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (start + large_page - 1) & ~(std::uintptr_t{large_page} - 1);
  const std::uintptr_t last = (start + bytes) & ~(std::uintptr_t{large_page} - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void* allocate_zeroed_storage(std::size_t bytes, bool& zeroed) noexcept {
  zeroed = false;
  if (bytes < large_block) return allocate_storage(bytes);
  std::size_t free_entry = system_blocks.size();
  for (std::size_t b = 0; b < system_blocks.size() && free_entry == system_blocks.size(); ++b)
    if (system_blocks[b].p == nullptr) free_entry = b;
  if (free_entry == system_blocks.size()) {
    try {
      system_blocks.emplace_back();
    } catch (const std::bad_alloc&) {
      return allocate_storage(bytes);
    }
  }
  // Map a large page more than needed and trim both ends, so that the block starts on a
  // large-page boundary.
  const std::size_t length = round_to_pages(bytes);
  if (length < bytes || length + large_page < length) return nullptr;
  void* raw = ::mmap(nullptr, length + large_page, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + large_page - 1) & ~(std::uintptr_t{large_page} - 1);
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::uintptr_t end = start + length + large_page;
  if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
  void* p = reinterpret_cast<void*>(aligned);
  ::madvise(p, length, MADV_HUGEPAGE);  // a hint only
  system_blocks[free_entry] = {p, length};
  zeroed = true;
  return p;
}

void free_storage(void* p, std::size_t bytes) noexcept {
  if (bytes < large_block) {
    ::operator delete(p);
    return;
  }
  for (system_block& b : system_blocks) {
    if (b.p == p) {
      ::munmap(p, b.bytes);
      b = system_block{};
      return;
    }
  }
  ::operator delete(p, std::align_val_t{large_page});
}

bool claim_memory(std::int64_t bytes) {
  if (bytes > memory_limit() - held) return false;
  held += bytes;
  return true;
}

void release_memory(std::int64_t bytes) { held -= bytes; }

void require_memory(double bytes) {
  if (bytes > static_cast<double>(memory_limit() - held)) out_of_memory();
}

void out_of_memory() { runtime_error(rte_out_of_memory, "insufficient virtual memory"); }

}  // namespace rt

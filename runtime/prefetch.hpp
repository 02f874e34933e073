// Fetch-ahead hints that survive the optimiser. A loop whose only work is __builtin_prefetch
// counts as doing nothing and may be dropped whole; these are opaque instructions, so a loop
// that only asks for memory ahead of its use stays. They read nothing and change nothing.
#pragma once

namespace rt {

inline void prefetch_read(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p);
#endif
}

// For memory about to be written: the line comes ready to be changed.
inline void prefetch_write(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p, 1);
#endif
}

}  // namespace rt

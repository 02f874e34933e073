// Time limits of the speed tests. A checked build (sanitizers, index checks) runs several
// times slower, and CI runs test files side by side, so its limits are widened.
#pragma once

namespace testing_support {

#ifdef ZUMEK_BOUNDS_CHECK
constexpr double checked_build_slowdown = 20.0;
#else
constexpr double checked_build_slowdown = 1.0;
#endif

// The limit for a test that takes well under release_seconds in a release build.
constexpr double time_limit(double release_seconds) {
  return release_seconds * checked_build_slowdown;
}

}  // namespace testing_support

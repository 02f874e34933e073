// Both programs start with their banner line.
#include <gtest/gtest.h>

#include "tests/support/e2e.hpp"

using namespace testing_support;

TEST(Banner, TavPrintsBannerFirst) {
  auto dir = scratch_dir("banner_tav");
  run_result r = run_in(dir, ZUMEK_TAV_BIN);
  EXPECT_TRUE(r.out.starts_with(" ----------------------\r\n PROGRAM ZUMEK_TAV v3.0\r\n")) << r.out;
}

TEST(Banner, RoPrintsBannerFirst) {
  auto dir = scratch_dir("banner_ro");
  run_result r = run_in(dir, ZUMEK_RO_BIN);
  EXPECT_TRUE(r.out.starts_with(" ---------------------\r\n PROGRAM ZUMEK_RO v1.1\r\n")) << r.out;
}

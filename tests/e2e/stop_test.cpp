// How a run ends: console text, standard error, exit status and files left behind, for a
// normal end, error stops and run-time errors.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/e2e.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

run_result run_case(const fs::path& dir, const char* which) {
  write_file(dir / "case.txt", std::string(which) + "\n");
  return run_in(dir, STOP_PROBE_BIN);
}

TEST(Stop, NormalEnd) {
  fs::path dir = scratch_dir("stop_normal");
  run_result r = run_case(dir, "1   normal end");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " PROGRAM STOP_PROBE\r\n");
  EXPECT_EQ(r.err, "PROGRAM TERMINATED.\r\n");
  // The stop flushed and closed the file that was still open.
  EXPECT_EQ(read_file(dir / "out.txt"), " CASE   1.50000000000000     \r\n");
}

TEST(Stop, ErrorStopWithEmptyText) {
  fs::path dir = scratch_dir("stop_error_empty");
  run_result r = run_case(dir, "2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " PROGRAM STOP_PROBE\r\n BEWARE! SOMETHING WENT WRONG\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(dir / "out.txt"), " CASE   1.50000000000000     \r\n");
}

TEST(Stop, ErrorStopWithText) {
  fs::path dir = scratch_dir("stop_error_text");
  run_result r = run_case(dir, "3");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "FATAL ERROR: EXECUTION STOPPED\r\n");
}

TEST(Stop, RunTimeErrors) {
  fs::path dir = fs::canonical(scratch_dir("stop_rte"));
  write_file(dir / "param.txt", "5\n");
  run_result r = run_case(dir, "4");
  EXPECT_EQ(r.status, 24);
  EXPECT_EQ(r.out, " PROGRAM STOP_PROBE\r\n");
  EXPECT_EQ(r.err, "stop_probe: severe (24): end-of-file during read, unit 37, file " +
                       (dir / "param.txt").string() + "\r\n");
  EXPECT_EQ(read_file(dir / "out.txt"), " CASE   1.50000000000000     \r\n");

  r = run_case(dir, "5");
  EXPECT_EQ(r.status, 29);
  EXPECT_EQ(r.err, "stop_probe: severe (29): file not found, unit 2, file " +
                       (dir / "ped.txt").string() + "\r\n");

  write_file(dir / "param.txt", "5 abc\n");
  r = run_case(dir, "6");
  EXPECT_EQ(r.status, 59);
  EXPECT_EQ(r.err, "stop_probe: severe (59): bad value during read, unit 37, file " +
                       (dir / "param.txt").string() + ", line 1, value 'abc'\r\n");
}

}  // namespace

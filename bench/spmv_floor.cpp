// spmv_floor: the time of one plain sparse matrix-vector product y = A x over a row-compressed
// matrix of the given order and number of stored entries (columns spread at random over the
// row's neighbourhood and the whole order, as in mixed-model equations). Prints the best of
// several passes in seconds.
//   spmv_floor <order> <stored entries> [passes]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: spmv_floor <order> <stored entries> [passes]\n");
    return 2;
  }
  const std::int64_t n = std::atoll(argv[1]);
  const std::int64_t nnz = std::atoll(argv[2]);
  const int passes = argc > 3 ? std::atoi(argv[3]) : 7;
  if (n < 1 || nnz < n) { std::fprintf(stderr, "spmv_floor: need order >= 1, entries >= order\n"); return 2; }
  std::vector<std::int64_t> start(n + 1);
  std::vector<std::int32_t> col(nnz);
  std::vector<double> val(nnz), x(n), y(n);
  std::uint64_t s = 88172645463325252ULL;
  auto next = [&] { s ^= s << 13; s ^= s >> 7; s ^= s << 17; return s; };
  for (std::int64_t i = 0; i <= n; ++i) start[i] = i * nnz / n;
  for (std::int64_t i = 0; i < n; ++i) {
    for (std::int64_t p = start[i]; p < start[i + 1]; ++p) {
      const std::uint64_t r = next();
      col[p] = std::int32_t(p == start[i] ? i
                            : (r & 1) ? std::min<std::int64_t>(n - 1, i + std::int64_t(r >> 40) % 64)
                                      : std::int64_t((r >> 1) % std::uint64_t(n)));
      val[p] = 1.0 / double(1 + (r & 7));
    }
  }
  for (std::int64_t i = 0; i < n; ++i) x[i] = double(i % 17) * 0.25;
  double best = 1e300, check = 0.0;
  for (int k = 0; k < passes; ++k) {
    const auto t0 = std::chrono::steady_clock::now();
    for (std::int64_t i = 0; i < n; ++i) {
      double sum = 0.0;
      for (std::int64_t p = start[i]; p < start[i + 1]; ++p) sum += val[p] * x[col[p]];
      y[i] = sum;
    }
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    check += y[n / 2];
  }
  std::printf("%.6f %g\n", best, check);
  return 0;
}

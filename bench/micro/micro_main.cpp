// Google Benchmark micro-benchmarks of the portable core, natively:
//   build/bench/bench/korvex_micro [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();

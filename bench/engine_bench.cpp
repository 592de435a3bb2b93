// Engine throughput and per-call cost. Rates are key comparisons per second:
// for an entry whose first match is at list position p the scan compares p + 1
// keys. Every case is also run with the plain scalar scan on one thread, and
// the summary gives each rate as a multiple of that reference from this run.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "relabel.h"
#include "scan.h"
#include "scan_control.h"
#include "short_lists.h"

namespace {

struct Case {
  int n;
  int count;
  std::vector<double> table, list, result;
  double comparisons = 0;  // per call
};

// A list of distinct keys in random order, and a table whose every entry
// matches one of them at a random position.
Case makeCase(int n, int count) {
  Case c{n, count, {}, {}, std::vector<double>(n)};
  std::mt19937_64 rng(static_cast<unsigned>(n) * 31u + static_cast<unsigned>(count));
  std::uniform_real_distribution<double> frac(0.0, 0.9);
  std::vector<int> keys(count);
  std::iota(keys.begin(), keys.end(), 1000);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (int k : keys) c.list.push_back(k + frac(rng));
  std::uniform_int_distribution<int> pick(0, count - 1);
  for (int i = 0; i < n; ++i) {
    const int p = pick(rng);
    c.table.push_back(keys[p] + frac(rng));
    c.comparisons += p + 1;
  }
  return c;
}

// A table none of whose keys is in the list: every scan runs to the end.
Case makeFullScanCase(int n, int count) {
  Case c = makeCase(n, count);
  for (double& x : c.table) x = -x;
  c.comparisons = static_cast<double>(n) * count;
  return c;
}

Case& cases(int index) {
  static std::vector<Case> all = {makeCase(1000000, 16), makeCase(100000, 1000),
                                  makeCase(10000, 100000), makeCase(400000, 20000),
                                  makeFullScanCase(10000, 100000)};
  return all[index];
}
constexpr int kCases = 5;
constexpr int kRandomExitCase = 1, kFullScanCase = 4;

enum Mode { reference, oneWorker, fullTeam };
const char* modeName[] = {"reference", "one worker", "full team"};

void run(Case& c, Mode mode) {
  if (mode == fullTeam)
    relabelParallel(c.table.data(), c.n, c.list.data(), c.count, c.result.data());
  else  // outside a parallel region a worker is a team of one and does every entry
    relabelWorker(c.table.data(), c.n, c.list.data(), c.count, c.result.data());
}

// Runs c on `workers` for every iteration, with the scalar scan when scalar
// (the reference) and the path in use otherwise.
void timeRuns(benchmark::State& state, Case& c, Mode workers, bool scalar) {
  const ScanPath inUse = scanPathInUse();
  if (scalar) useScanPath(ScanPath::scalar);
  for (auto _ : state) {
    run(c, workers);
    benchmark::DoNotOptimize(c.result.data());
  }
  useScanPath(inUse);
}

void BM_Relabel(benchmark::State& state) {
  Case& c = cases(static_cast<int>(state.range(0)));
  const Mode mode = static_cast<Mode>(state.range(1));
  const ScanPath widest = scanPathInUse();
  timeRuns(state, c, mode, mode == reference);
  state.counters["cmp/s"] =
      benchmark::Counter(c.comparisons, benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(std::string(modeName[mode]) + ", n=" + std::to_string(c.n) +
                 " count=" + std::to_string(c.count) +
                 (mode == reference ? " scalar" : std::string(" ") + scanPathName(widest)));
}

double processCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

// One call of a small table; range(1) is the pause before each call in ms.
// Reports the median call time, and the CPU time the process burns in the
// second after the last call returns (workers left spinning would show here).
void BM_Call(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int pauseMs = static_cast<int>(state.range(1));
  std::vector<double> table(n, 3.5), list = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, result(n);
  std::vector<double> times;
  for (auto _ : state) {
    if (pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    const auto start = std::chrono::steady_clock::now();
    relabelParallel(table.data(), n, list.data(), 10, result.data());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    times.push_back(took.count());
  }
  std::sort(times.begin(), times.end());
  state.counters["median_us"] = 1e6 * times[times.size() / 2];
  const double before = processCpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  state.counters["cpu_ms_next_1s"] = 1e3 * (processCpuSeconds() - before);
  state.SetLabel("n=" + std::to_string(n) +
                 (pauseMs ? " after " + std::to_string(pauseMs) + " ms idle" : " back to back"));
}

// The ceiling for this rule on one core: independent truncating conversions
// as wide as the path in use has, nothing else. Every comparison needs one
// converted lane.
void BM_ConversionCeiling(benchmark::State& state) {
  const long rounds = 1 << 20;
  long lanes = 0;
  for (auto _ : state) lanes = laneConversions(rounds);
  if (lanes == 0) {
    state.SkipWithError("no vector conversions on this path");
    return;
  }
  state.counters["conv/s"] =
      benchmark::Counter(static_cast<double>(lanes), benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(std::string("one core, ") + scanPathName(scanPathInUse()) + " vcvttpd2dq");
}
BENCHMARK(BM_ConversionCeiling)->Unit(benchmark::kMillisecond)->MinTime(0.3);

// Collects the comparison rates so that the summary can put them side by side.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  std::map<std::pair<int, int>, double> rate;  // (case, mode) -> cmp/s
  double conversionCeiling = 0;                // per core

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto ceiling = r.counters.find("conv/s");
      if (ceiling != r.counters.end()) conversionCeiling = ceiling->second.value;
      int index = 0, mode = 0;
      if (std::sscanf(r.run_name.args.c_str(), "%d/%d", &index, &mode) != 2) continue;
      auto it = r.counters.find("cmp/s");
      if (it != r.counters.end()) rate[{index, mode}] = it->second.value;
    }
  }
};

}  // namespace

BENCHMARK(BM_Relabel)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {reference, oneWorker, fullTeam}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.3)
    ->UseRealTime();
BENCHMARK(BM_Call)->Args({0, 0})->Args({10, 0})->Iterations(20000)->UseManualTime()->Unit(
    benchmark::kMicrosecond);
BENCHMARK(BM_Call)->Args({0, 20})->Args({10, 20})->Iterations(100)->UseManualTime()->Unit(
    benchmark::kMicrosecond);

// Hosts such as Octave already have GCC's OpenMP runtime loaded, with its own
// worker pool, when they call the module; so does this process.
void loadHostRuntime() {
  const bool started = hostStartRuntime("libgomp.so.1", 1) == 0;
  std::printf("host runtime: libgomp %s\n", started ? "loaded and started" : "not available");
}

// Worker count and scan path.
void printSetting() {
  std::printf("workers: %d, scan: %s\n", numCores, scanPathName(scanPathInUse()));
}

int main(int argc, char** argv) {
  // A run narrowed to some benchmarks leaves out the short-list tables too;
  // --short-lists runs those tables alone, --page-ends only their page-end
  // check. --path=NAME runs everything on a narrower path than the widest
  // (avx2 on a processor with AVX-512, scalar).
  bool filtered = false, shortListsOnly = false, pageEndsOnly = false;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    filtered = filtered || arg.rfind("--benchmark_filter", 0) == 0;
    shortListsOnly = shortListsOnly || arg == "--short-lists";
    pageEndsOnly = pageEndsOnly || arg == "--page-ends";
    for (ScanPath path : {ScanPath::scalar, ScanPath::avx2, ScanPath::avx512}) {
      if (arg != std::string("--path=") + scanPathName(path)) continue;
      if (!useScanPath(path)) {
        std::fprintf(stderr, "engine_bench: this processor has no %s path\n", scanPathName(path));
        return 2;
      }
    }
  }
  if (shortListsOnly || pageEndsOnly) {
    loadHostRuntime();
    printSetting();
    if (shortListsOnly)
      shortListTables();
    else
      pageEndTable();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  loadHostRuntime();
  printSetting();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%9s %7s %14s %14s %14s %9s %9s %11s\n", "n", "count", "reference/s",
              "one worker/s", "full team/s", "1w / ref", "team/ref", "team / 1w");
  for (int i = 0; i < kCases; ++i) {
    auto r = [&](int mode) {
      auto it = reporter.rate.find({i, mode});
      return it == reporter.rate.end() ? 0.0 : it->second;
    };
    if (r(reference) == 0 || r(oneWorker) == 0) continue;
    std::printf("%9d %7d %14.3g %14.3g %14.3g %8.1fx %8.1fx %10.2fx\n", cases(i).n, cases(i).count,
                r(reference), r(oneWorker), r(fullTeam), r(oneWorker) / r(reference),
                r(fullTeam) / r(reference), r(fullTeam) / r(oneWorker));
  }
  if (reporter.conversionCeiling > 0) {
    std::printf("conversion ceiling: %.3g/s per core, %.3g/s for %d cores\n",
                reporter.conversionCeiling, reporter.conversionCeiling * numCores, numCores);
    auto share = [&](int index) {
      auto it = reporter.rate.find({index, oneWorker});
      return it == reporter.rate.end() ? 0.0 : 100.0 * it->second / reporter.conversionCeiling;
    };
    std::printf(
        "one worker, share of the one-core ceiling: random exits (n=%d, count=%d) %.0f%%, "
        "full scans (n=%d, count=%d) %.0f%%\n",
        cases(kRandomExitCase).n, cases(kRandomExitCase).count, share(kRandomExitCase),
        cases(kFullScanCase).n, cases(kFullScanCase).count, share(kFullScanCase));
  }
  if (!filtered) shortListTables();
  benchmark::Shutdown();
}

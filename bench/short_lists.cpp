#include "short_lists.h"

#include <omp.h>
#include <sys/mman.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <numeric>
#include <random>
#include <vector>

#include "relabel.h"
#include "scan.h"
#include "scan_control.h"

namespace {

// A list of `count` distinct keys in random order, and a table whose every
// entry matches one of them at a random place, among the first `within`.
struct ShortCase {
  std::vector<double> table, list, result;
  ShortCase(int n, int count, int within = 0) : result(n) {
    std::mt19937_64 rng(static_cast<unsigned>(n) * 7u + static_cast<unsigned>(count));
    std::uniform_real_distribution<double> frac(0.0, 0.9);
    std::vector<int> keys(count);
    std::iota(keys.begin(), keys.end(), 100);
    std::shuffle(keys.begin(), keys.end(), rng);
    for (int k : keys) list.push_back(k + frac(rng));
    std::uniform_int_distribution<int> pick(0, (within > 0 && within < count ? within : count) - 1);
    for (int i = 0; i < n; ++i) table.push_back(keys[pick(rng)] + frac(rng));
  }
};

// Best of five rounds, each of as many runs as take about 20 ms: the least
// disturbed time on a shared machine, in ns per entry.
double nsPerEntry(const std::function<void()>& run, double entries) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [&](int runs) {
    const auto start = Clock::now();
    for (int k = 0; k < runs; ++k) run();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  int runs = 1;
  while (seconds(runs) < 0.02 && runs < (1 << 20)) runs *= 2;
  double best = 1e30;
  for (int round = 0; round < 5; ++round) best = std::min(best, seconds(runs) / runs);
  return 1e9 * best / entries;
}

struct Layout {
  const char* name;
  ShareLayout layout;
};

// The table's rows: per entry, transposed, and what the rule chooses, last.
const Layout kRows[] = {{"per entry", ShareLayout::perEntry},
                        {"transposed", ShareLayout::transposed},
                        {"chosen", ShareLayout::automatic}};

// One share of step `step` from entry 0, as worker 0 of such a team runs it.
double shareNs(ShortCase& c, ShareLayout layout, int step) {
  useShareLayout(layout);
  const RelabelShare share = shareFor(static_cast<int>(c.list.size()), step);
  const int n = static_cast<int>(c.table.size());
  // Each run takes the next worker's share, first = 0, 1, ..., step - 1, so
  // that the runs together cover all n entries, as at step 1. Replaying one
  // share of n / step entries lets the branch predictor learn the per-entry
  // scan's exits by heart: at step 8 the AVX2 scan then took 2 ns per entry
  // for 8 list entries, against 8 ns at step 1 and with every share in turn.
  int first = 0;
  const double ns = nsPerEntry(
      [&] {
        share(c.table.data(), first, n, step, c.list.data(), static_cast<int>(c.list.size()),
              c.result.data());
        first = (first + 1) % step;
      },
      (n + step - 1) / step);
  useShareLayout(ShareLayout::automatic);
  return ns;
}

double teamNs(ShortCase& c, ShareLayout layout) {
  useShareLayout(layout);
  const int n = static_cast<int>(c.table.size());
  const double ns = nsPerEntry(
      [&] {
        relabelParallel(c.table.data(), n, c.list.data(), static_cast<int>(c.list.size()),
                        c.result.data());
      },
      n);
  useShareLayout(ShareLayout::automatic);
  return ns;
}

double copyNs(ShortCase& c) {
  return nsPerEntry(
      [&] {
        std::memcpy(c.result.data(), c.table.data(), c.table.size() * sizeof(double));
        asm volatile("" ::"r"(c.result.data()) : "memory");
      },
      static_cast<double>(c.table.size()));
}

// Every entry i, i + step, ... from 0, copied: what a share's own reads and
// writes cost by themselves.
double stridedCopyNs(ShortCase& c, int step) {
  const std::int64_t n = static_cast<std::int64_t>(c.table.size());
  return nsPerEntry(
      [&] {
        for (std::int64_t i = 0; i < n; i += step) c.result[i] = c.table[i];
        asm volatile("" ::"r"(c.result.data()) : "memory");
      },
      static_cast<double>((n + step - 1) / step));
}

// The same copy by a team of numCores, each worker its own cyclic share,
// starting where relabelParallel's workers start theirs.
double teamStridedCopyNs(ShortCase& c) {
  const std::int64_t n = static_cast<std::int64_t>(c.table.size());
  const std::int64_t step = numCores;
  return nsPerEntry(
      [&] {
#pragma omp parallel num_threads(numCores)
        {
          const std::int64_t first = omp_get_thread_num();
          if (first < n) {
            const std::int64_t restart = shareRestart(first, n, step);
            for (std::int64_t i = restart; i < n; i += step) c.result[i] = c.table[i];
            for (std::int64_t i = first; i < restart; i += step) c.result[i] = c.table[i];
          }
        }
        asm volatile("" ::"r"(c.result.data()) : "memory");
      },
      static_cast<double>(n));
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx512f"))) void conversions512(long rounds) {
  const __m512d a = _mm512_set1_pd(1.5), b = _mm512_set1_pd(2.5);
  const __m512d c = _mm512_set1_pd(3.5), d = _mm512_set1_pd(4.5);
  for (long i = 0; i < rounds; ++i) {
    __m256i w, x, y, z;
    asm volatile("vcvttpd2dq %4, %0\n\tvcvttpd2dq %5, %1\n\tvcvttpd2dq %6, %2\n\tvcvttpd2dq %7, %3"
                 : "=v"(w), "=v"(x), "=v"(y), "=v"(z)
                 : "v"(a), "v"(b), "v"(c), "v"(d));
    asm volatile("" ::"v"(w), "v"(x), "v"(y), "v"(z));
  }
}

__attribute__((target("avx2"))) void conversions256(long rounds) {
  const __m256d a = _mm256_set1_pd(1.5), b = _mm256_set1_pd(2.5);
  const __m256d c = _mm256_set1_pd(3.5), d = _mm256_set1_pd(4.5);
  for (long i = 0; i < rounds; ++i) {
    __m128i w, x, y, z;
    asm volatile("vcvttpd2dq %4, %0\n\tvcvttpd2dq %5, %1\n\tvcvttpd2dq %6, %2\n\tvcvttpd2dq %7, %3"
                 : "=x"(w), "=x"(x), "=x"(y), "=x"(z)
                 : "x"(a), "x"(b), "x"(c), "x"(d));
    asm volatile("" ::"x"(w), "x"(x), "x"(y), "x"(z));
  }
}
#endif

// ns per converted lane on the path in use, 0 on the scalar path.
double laneConversionNs() {
  const long rounds = 1 << 16;
  double lanes = 0;
  const double ns = nsPerEntry([&] { lanes = static_cast<double>(laneConversions(rounds)); }, 1.0);
  return lanes > 0 ? ns / lanes : 0.0;
}

const int kCounts[] = {1, 2, 4, 8, 12, 16, 24, 32, 48, 64, 96, 128, 256, 512};

void header(const char* title) {
  std::printf("\n%s\n%-22s", title, "list length");
  for (int count : kCounts) std::printf(" %6d", count);
  std::printf("\n");
}

void row(const char* name, const std::vector<double>& ns) {
  std::printf("%-22s", name);
  for (double x : ns) std::printf(" %6.2f", x);
  std::printf("\n");
}

// One worker (a share of step 1) and the full team, ns per table entry. Each
// list length's rows are measured one after the other, so that what else runs
// on the machine meanwhile and what the caches hold weigh on them alike.
void layoutTable(int n) {
  std::vector<ShortCase> cases;
  for (int count : kCounts) cases.emplace_back(n, count);
  const Layout* rows = kRows;
  const size_t layouts = std::size(kRows);
  std::vector<double> reference, copy, strided;
  std::vector<std::vector<double>> one(layouts), team(layouts);
  const ScanPath inUse = scanPathInUse();
  for (auto& c : cases) {
    useScanPath(ScanPath::scalar);
    reference.push_back(shareNs(c, ShareLayout::automatic, 1));
    useScanPath(inUse);
    for (size_t l = 0; l < layouts; ++l) one[l].push_back(shareNs(c, rows[l].layout, 1));
    copy.push_back(copyNs(c));
    for (size_t l = 0; l < layouts; ++l) team[l].push_back(teamNs(c, rows[l].layout));
    strided.push_back(teamStridedCopyNs(c));
  }
  const std::vector<double>& chosen = one[layouts - 1];
  auto ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (size_t k = 0; k < a.size(); ++k) r.push_back(a[k] / b[k]);
    return r;
  };
  char title[160];
  std::snprintf(title, sizeof title, "short lists, one worker (step 1), n=%d, ns per entry:", n);
  header(title);
  row("scalar reference", reference);
  for (size_t l = 0; l < layouts; ++l) row(rows[l].name, one[l]);
  row("memcpy of the table", copy);
  row("chosen / memcpy", ratio(chosen, copy));
  // The rule's own floor: each entry's key and each comparison's list key
  // converted, count + 1 lanes per entry, at the conversions' full rate.
  if (const double lane = laneConversionNs(); lane > 0) {
    std::vector<double> floor;
    for (int count : kCounts) floor.push_back(lane * (count + 1));
    row("conversions alone", floor);
    row("chosen / conversions", ratio(chosen, floor));
  }

  std::snprintf(title, sizeof title, "short lists, full team of %d, n=%d, ns per entry:", numCores,
                n);
  header(title);
  for (size_t l = 0; l < layouts; ++l) row(rows[l].name, team[l]);
  row("memcpy, one thread", copy);
  row("cyclic copy, team", strided);
  row("chosen / memcpy", ratio(team[layouts - 1], copy));
  row("chosen / cyclic copy", ratio(team[layouts - 1], strided));
}

// Matches that come early in the list, as when the few region numbers that
// make up most of a mesh are listed first: what each layout's exits save.
void earlyTable(int n, int within) {
  std::vector<ShortCase> cases;
  for (int count : kCounts) cases.emplace_back(n, count, within);
  std::vector<double> perEntry, transposed, chosen, team;
  for (auto& c : cases) {
    perEntry.push_back(shareNs(c, ShareLayout::perEntry, 1));
    transposed.push_back(shareNs(c, ShareLayout::transposed, 1));
    chosen.push_back(shareNs(c, ShareLayout::automatic, 1));
    team.push_back(teamNs(c, ShareLayout::automatic));
  }
  char title[160];
  std::snprintf(title, sizeof title,
                "short lists, every match among the list's first %d, n=%d, ns per entry:", within,
                n);
  header(title);
  row("per entry", perEntry);
  row("transposed", transposed);
  row("chosen", chosen);
  row("chosen, team", team);
}

// One share at each step, ns per own entry: where the layouts cross. Ends
// with the bands this run measured, in the layout rule's own syntax
// (engine/layout_rule.h): for each list length the largest step up to which
// the transposed shares were faster (or within 10%, the noise) at every step
// measured, lengths with the same step joined into one band.
void stepTable(int n) {
  std::vector<ShortCase> cases;
  for (int count : kCounts) cases.emplace_back(n, count);
  std::printf("\nshares by step, one worker, n=%d, ns per own entry (per entry / transposed)\n", n);
  std::printf("%-5s %-11s", "step", "copy");
  for (int count : kCounts) std::printf(" %11d", count);
  std::printf(" %s\n", "transposed: faster to / chosen to");
  std::vector<std::int64_t> stepsUpTo(cases.size(), 0);
  std::vector<bool> stillFaster(cases.size(), true);
  for (int step : {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 32, 48, 64, 128, 256}) {
    std::printf("%-5d %-11.2f", step, stridedCopyNs(cases[0], step));
    // The longest list up to which the transposed shares are faster at every
    // length, and up to which the rule picks them.
    int fasterTo = 0, chosenTo = 0;
    bool faster = true, chosen = true;
    for (size_t k = 0; k < cases.size(); ++k) {
      auto& c = cases[k];
      const double a = shareNs(c, ShareLayout::perEntry, step);
      const double b = shareNs(c, ShareLayout::transposed, step);
      std::printf(" %5.2f/%-5.2f", a, b);
      const int count = static_cast<int>(c.list.size());
      faster = faster && b <= 1.1 * a;
      if (faster) fasterTo = count;
      stillFaster[k] = stillFaster[k] && b <= 1.1 * a;
      if (stillFaster[k]) stepsUpTo[k] = step;
      useShareLayout(ShareLayout::transposed);
      const RelabelShare transposed = shareFor(count, step);
      useShareLayout(ShareLayout::automatic);
      chosen = chosen && shareFor(count, step) == transposed;
      if (chosen) chosenTo = count;
    }
    std::printf(" %d / %d\n", fasterTo, chosenTo);
  }
  std::printf("measured bands, %s: {", scanPathName(scanPathInUse()));
  const char* separator = "";
  for (size_t k = 0; k < cases.size(); ++k) {
    if (k + 1 < cases.size() && stepsUpTo[k + 1] == stepsUpTo[k]) continue;
    std::printf("%s{%d, %lld}", separator, kCounts[k], static_cast<long long>(stepsUpTo[k]));
    separator = ", ";
  }
  std::printf("}\n");
}

// The list's end at every 8-byte offset up to 120 bytes before a page
// boundary, with the next page mapped and not: no place may be slow. Each
// place is timed right after the same list placed in the middle of the page,
// and judged by the ratio of the two: the machine's speed drifts by up to 2x
// over the seconds the table takes (other guests), which moves both alike.
void pageTable(int n, int count) {
  const long page = 4096;
  const int middle = 2048;  // bytes between the reference list's end and the page end
  ShortCase c(n, count);
  char* pages = static_cast<char*>(
      mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (pages == MAP_FAILED) return;
  std::printf(
      "\nlist of %d at a page end, one worker (step 1) and full team, n=%d: ns per entry, and"
      " the ratio to the list in the middle of the page timed just before\n",
      count, n);
  std::printf("%-24s %-10s %-10s %-10s %-10s %-10s %-10s\n", "list ends bytes before", "per entry",
              "chosen", "team", "(ratio)", "(ratio)", "(ratio)");
  const int m = static_cast<int>(c.table.size());
  // Column k (per entry, chosen, team) with the list ending `before` bytes
  // before the page end, the next page unmapped if `guard`.
  auto measure = [&](int guard, int before, int k) {
    mprotect(pages + 2 * page, page, guard ? PROT_NONE : PROT_READ | PROT_WRITE);
    double* list = reinterpret_cast<double*>(pages + 2 * page - before) - count;
    std::copy(c.list.begin(), c.list.end(), list);
    useShareLayout(k == 0 ? ShareLayout::perEntry : ShareLayout::automatic);
    const RelabelShare share = shareFor(count, 1);
    const double ns = nsPerEntry(
        [&] {
          if (k == 2)
            relabelParallel(c.table.data(), m, list, count, c.result.data());
          else
            share(c.table.data(), 0, m, 1, list, count, c.result.data());
        },
        m);
    useShareLayout(ShareLayout::automatic);
    return ns;
  };
  // A slow place is slow every time; a single pair of timings can be off
  // when something else runs in between, so a ratio over 2 is taken three
  // times more and the least counts.
  const char* column[3] = {"per entry", "chosen", "team"};
  double worst[3] = {0, 0, 0};
  int again[3] = {0, 0, 0};
  for (int guard = 0; guard < 2; ++guard)
    for (int before = 0; before <= 120; before += 8) {
      double ns[3], ratio[3];
      for (int k = 0; k < 3; ++k) {
        const double reference = measure(guard, middle, k);
        ns[k] = measure(guard, before, k);
        ratio[k] = ns[k] / reference;
        for (int tries = 0; tries < 3 && ratio[k] > 2.0; ++tries, ++again[k]) {
          const double r = measure(guard, middle, k);
          ratio[k] = std::min(ratio[k], measure(guard, before, k) / r);
        }
        worst[k] = std::max(worst[k], ratio[k]);
      }
      std::printf("%4d%-20s %-10.2f %-10.2f %-10.2f %-10.2f %-10.2f %-10.2f\n", before,
                  guard ? ", next page unmapped" : "", ns[0], ns[1], ns[2], ratio[0], ratio[1],
                  ratio[2]);
    }
  munmap(pages, 3 * page);
  bool slow = false;
  for (int k = 0; k < 3; ++k) {
    std::printf("page-boundary check, %s: largest ratio %.2f (%d timed again)\n", column[k],
                worst[k], again[k]);
    slow = slow || worst[k] > 2.0;
  }
  std::printf("page-boundary check: %s\n",
              slow ? "SLOW at some place (more than twice the list in the middle of the page)"
                   : "ok, no place costs twice the list in the middle of the page");
}

}  // namespace

void shortListTables() {
  layoutTable(200000);
  layoutTable(4000000);
  earlyTable(200000, 8);
  stepTable(200000);
  pageEndTable();
}

void pageEndTable() {
  pageTable(200000, 12);
}

long laneConversions(long rounds) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  switch (scanPathInUse()) {
    case ScanPath::avx512:
      conversions512(rounds);
      return 32 * rounds;
    case ScanPath::avx2:
      conversions256(rounds);
      return 16 * rounds;
    case ScanPath::scalar:
      break;
  }
#else
  (void)rounds;
#endif
  return 0;
}

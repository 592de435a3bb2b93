// mexhost [--runtime LIB [--global]] MODULE TABLE LIST: loads a MEX module the
// way a host does, calls it with two double matrices and one result, and prints
// the console output and the result. Matrices are written as in MATLAB:
// "1 2 3; 4 5 6".
// mexhost [--runtime LIB [--global]] --time MODULE: the median time of a call
// with a 10-entry table, back to back and after 20 ms idle, the process's
// threads, and the CPU time it burns in the second after the last call.
// --runtime starts an OpenMP runtime in the host first, as hosts that run their
// own do (privately, or with --global in the global symbol scope).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

double processCpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME t) {
    return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
#else
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
#endif
}

int timeCalls(MexFunction entry) {
  const size_t dims[2] = {1, 10};
  mxArray* table = hostCreateArray(hostDouble, 2, dims, 0);
  mxArray* list = hostCreateArray(hostDouble, 2, dims, 0);
  for (int k = 0; k < 10; ++k) mxGetPr(table)[k] = mxGetPr(list)[9 - k] = k;
  const mxArray* args[2] = {table, list};
  const int threadsBefore = hostThreadCount();
  auto median = [&](int calls, int pauseMs) {
    std::vector<double> times;
    for (int k = 0; k < calls; ++k) {
      if (pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      mxArray* result[1];
      const auto start = std::chrono::steady_clock::now();
      const int failed = hostCall(entry, 1, result, 2, args);
      times.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
              .count());
      if (failed) return -1.0;
      hostDestroyArray(result[0]);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  };
  const double backToBack = median(2000, 0);
  const double idle = median(50, 20);
  const int threadsAfter = hostThreadCount();
  const double cpu = processCpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::printf("call with 10 entries, median: %.1f us back to back, %.1f us after 20 ms idle\n",
              backToBack, idle);
  std::printf("threads: %d before the first call, %d after; CPU in the second after: %.1f ms\n",
              threadsBefore, threadsAfter, 1e3 * (processCpuSeconds() - cpu));
  hostDestroyArray(table);
  hostDestroyArray(list);
  return backToBack < 0 || idle < 0;
}

mxArray* parseMatrix(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::stringstream rowsIn(text);
  std::string row;
  while (std::getline(rowsIn, row, ';')) {
    for (char& c : row)
      if (c == ',') c = ' ';
    std::stringstream values(row);
    std::vector<double> r;
    std::string value;
    while (values >> value) {
      char* end = nullptr;
      r.push_back(std::strtod(value.c_str(), &end));
      if (*end != '\0') return nullptr;
    }
    if (!r.empty()) rows.push_back(r);
  }
  const size_t dims[2] = {rows.size(), rows.empty() ? 0 : rows[0].size()};
  for (const auto& r : rows)
    if (r.size() != dims[1]) return nullptr;
  mxArray* array = hostCreateArray(hostDouble, 2, dims, 0);
  double* data = mxGetPr(array);
  for (size_t i = 0; i < dims[0]; ++i)
    for (size_t j = 0; j < dims[1]; ++j) data[i + j * dims[0]] = rows[i][j];
  return array;
}

}  // namespace

static int usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [--runtime LIB [--global]] MODULE TABLE LIST\n"
               "       %s [--runtime LIB [--global]] --time MODULE\n"
               "  e.g. %s meshLookup.mexa64 \"7 9; 9 8\" \"8 9 7\"\n",
               program, program, program);
  return 2;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--runtime") {
    const bool global = args.size() >= 3 && args[2] == "--global";
    if (hostStartRuntime(args[1].c_str(), global) != 0) {
      std::fprintf(stderr, "%s\n", hostLastError());
      return 1;
    }
    args.erase(args.begin(), args.begin() + (global ? 3 : 2));
  }
  const bool time = !args.empty() && args[0] == "--time";
  if (time) args.erase(args.begin());
  if (args.size() != (time ? 1u : 3u)) return usage(argv[0]);
  MexFunction entry = hostLoadModule(args[0].c_str());
  if (!entry) {
    std::fprintf(stderr, "%s\n", hostLastError());
    return 1;
  }
  if (time) return timeCalls(entry);
  mxArray* table = parseMatrix(args[1]);
  mxArray* list = parseMatrix(args[2]);
  int status = 0;
  if (!table || !list) {
    std::fprintf(stderr, "not a matrix of numbers with rows of one length: \"%s\"\n",
                 (table ? args[2] : args[1]).c_str());
    status = 2;
  } else {
    const mxArray* callArgs[2] = {table, list};
    hostSetEcho(1);
    mxArray* result[1];
    if (hostCall(entry, 1, result, 2, callArgs) != 0) {
      std::fprintf(stderr, "error: %s\n", hostLastError());
      status = 1;
    } else {
      const size_t rows = mxGetM(result[0]), cols = mxGetN(result[0]);
      const double* data = mxGetPr(result[0]);
      for (size_t i = 0; i < rows; ++i) {
        for (size_t j = 0; j < cols; ++j) std::printf(j ? " %.17g" : "%.17g", data[i + j * rows]);
        std::printf("\n");
      }
      hostDestroyArray(result[0]);
    }
  }
  hostDestroyArray(table);
  hostDestroyArray(list);
  return status;
}

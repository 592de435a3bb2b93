// mexhost MODULE TABLE LIST: loads a MEX module the way a host does, calls it
// with two double matrices and one result, and prints the console output and
// the result. Matrices are written as in MATLAB: "1 2 3; 4 5 6".
// mexhost --time MODULE: the median time of a call with a 10-entry table, back
// to back and after 20 ms idle, the process's threads, and the CPU time it
// burns in the second after the last call.
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
// after windows.h, which it needs
#include <tlhelp32.h>
#else
#include <dirent.h>
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

int processThreads() {
  int count = 0;
#ifdef _WIN32
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
#else
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* e = readdir(tasks))
      if (e->d_name[0] != '.') ++count;
    closedir(tasks);
  }
#endif
  return count;
}

int timeCalls(MexFunction entry) {
  const size_t dims[2] = {1, 10};
  mxArray* table = hostCreateArray(hostDouble, 2, dims, 0);
  mxArray* list = hostCreateArray(hostDouble, 2, dims, 0);
  for (int k = 0; k < 10; ++k) mxGetPr(table)[k] = mxGetPr(list)[9 - k] = k;
  const mxArray* args[2] = {table, list};
  const int threadsBefore = processThreads();
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
  const int threadsAfter = processThreads();
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
    while (values >> value) r.push_back(std::strtod(value.c_str(), nullptr));
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

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--time") {
    MexFunction entry = hostLoadModule(argv[2]);
    if (!entry) {
      std::fprintf(stderr, "%s\n", hostLastError());
      return 1;
    }
    return timeCalls(entry);
  }
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: %s MODULE TABLE LIST\n       %s --time MODULE\n"
                 "  e.g. %s meshLookup.mexa64 \"7 9; 9 8\" \"8 9 7\"\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  MexFunction entry = hostLoadModule(argv[1]);
  if (!entry) {
    std::fprintf(stderr, "%s\n", hostLastError());
    return 1;
  }
  mxArray* table = parseMatrix(argv[2]);
  mxArray* list = parseMatrix(argv[3]);
  int status = 0;
  if (!table || !list) {
    std::fprintf(stderr, "rows of different lengths\n");
    status = 2;
  } else {
    const mxArray* args[2] = {table, list};
    hostSetEcho(1);
    mxArray* result[1];
    if (hostCall(entry, 1, result, 2, args) != 0) {
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

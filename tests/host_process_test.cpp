// The module file in host processes as they really are: hosts that already run
// an OpenMP runtime of their own, and hosts that unload the module between
// calls (`clear mex`) and load it afresh. This program links no OpenMP runtime
// itself, so the only runtimes in the process are the module's and the one the
// host starts.
//   MESHLOOKUP_MODULE         the module file
//   MESHLOOKUP_HOST_RUNTIME   an OpenMP runtime for the host to start first
//   MESHLOOKUP_HOST_SCOPE     "global" to load it into the global symbol scope;
//                             privately otherwise
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#include <sched.h>
#include <unistd.h>
#endif

#include "host.h"
#include "module_path.h"
#include "reference.h"

namespace {

// Threads the host had before the module was first loaded.
int hostThreads = 0;

// One call of the module with a fresh random table and list, checked bit for
// bit against the reference. Returns the core count from the console line.
int callAndCheck(MexFunction entry, std::mt19937_64& rng, size_t entries) {
  const auto table = randomValues(rng, entries, 40);
  const auto list = randomValues(rng, 1 + rng() % 50, 40);
  const size_t tableDims[2] = {1, entries}, listDims[2] = {list.size(), 1};
  mxArray* t = hostCreateArray(hostDouble, 2, tableDims, 0);
  mxArray* l = hostCreateArray(hostDouble, 2, listDims, 0);
  std::copy(table.begin(), table.end(), mxGetPr(t));
  std::copy(list.begin(), list.end(), mxGetPr(l));
  const mxArray* args[2] = {t, l};
  mxArray* result[1];
  hostClearConsole();
  int cores = 0;
  if (hostCall(entry, 1, result, 2, args) != 0) {
    ADD_FAILURE() << hostLastError();
  } else {
    const auto want = referenceRelabel(table, list);
    const double* got = mxGetPr(result[0]);
    for (size_t i = 0; i < entries; ++i) EXPECT_EQ(bitsOf(got[i]), bitsOf(want[i])) << i;
    const std::string console = hostConsole();
    const std::string prefix = "Renumbering Mesh: running on: ";
    if (console.compare(0, prefix.size(), prefix) == 0) cores = std::atoi(&console[prefix.size()]);
    EXPECT_GE(cores, 1) << console;
    hostDestroyArray(result[0]);
  }
  hostDestroyArray(t);
  hostDestroyArray(l);
  return cores;
}

TEST(HostRuntime, EveryCallIsRightBesideTheHostsOwnRuntime) {
  MexFunction entry = hostLoadModule(modulePath());
  ASSERT_NE(entry, nullptr) << hostLastError();
  std::mt19937_64 rng(11);
  for (size_t entries : {0, 1, 2, 3, 7, 64, 1000, 4099}) callAndCheck(entry, rng, entries);
  EXPECT_EQ(hostUnloadModule(entry), 0);
}

TEST(Unload, LoadCallUnloadCyclesLeaveNoWorkersBehind) {
  std::mt19937_64 rng(12);
  int most = 0;
  for (int cycle = 0; cycle < 100; ++cycle) {
    MexFunction entry = hostLoadModule(modulePath());
    ASSERT_NE(entry, nullptr) << hostLastError();
    // Enough entries for every worker of the team to run.
    const int cores = callAndCheck(entry, rng, 64 + rng() % 64);
    ASSERT_EQ(hostUnloadModule(entry), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const int threads = hostThreadCount();
    most = std::max(most, threads);
    ASSERT_LE(threads, hostThreads + cores + 2) << "after cycle " << cycle;
    if (HasFailure()) return;
  }
  std::printf("threads: %d before the first load, at most %d over 100 cycles\n", hostThreads, most);
}

#ifndef _WIN32
// Mappings of the file at path in this process.
int mappingsOf(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  int count = 0;
  for (std::string line; std::getline(maps, line);)
    if (line.size() > path.size() &&
        line.compare(line.size() - path.size(), path.size(), path) == 0 &&
        line[line.size() - path.size() - 1] == ' ')
      ++count;
  return count;
}

bool copyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
  return in.good() && out.good();
}

// The CPU mask of every thread of this process, by thread id, as the kernel
// reports it.
std::map<std::string, std::string> threadMasks() {
  std::map<std::string, std::string> masks;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* e = readdir(tasks)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
      for (std::string line; std::getline(status, line);)
        if (line.compare(0, 18, "Cpus_allowed_list:") == 0) masks[e->d_name] = line.substr(18);
    }
    closedir(tasks);
  }
  return masks;
}

// The CPU a thread of this process last ran on, or -1.
int lastCpuOf(const std::string& thread) {
  std::ifstream stat("/proc/self/task/" + thread + "/stat");
  std::string line;
  std::getline(stat, line);
  // Fields after the name, which is in parentheses; the CPU is field 39.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int k = 3; k <= 39 && fields >> field; ++k)
    if (k == 39) return std::atoi(field.c_str());
  return -1;
}

// Calls may move the runtime's workers between CPUs, but leave no trace in the
// host: after every one of 40 calls, each thread has the mask it had before,
// whether the call came straight after the last one or woke the workers after
// a pause. Before every other call after a pause, the host runs its calling thread on
// the CPU a worker last ran on, where the woken worker is then most likely
// queued too, so that the call has a worker to move.
TEST(Placement, EveryThreadKeepsItsCpuMaskAcrossCalls) {
  MexFunction entry = hostLoadModule(modulePath());
  ASSERT_NE(entry, nullptr) << hostLastError();
  std::mt19937_64 rng(14);
  callAndCheck(entry, rng, 100);  // the team exists from here on
  const auto before = threadMasks();
  ASSERT_FALSE(before.empty());
  const std::string self = std::to_string(gettid());
  cpu_set_t own;
  ASSERT_EQ(sched_getaffinity(0, sizeof own, &own), 0);
  for (int k = 0; k < 40; ++k) {
    bool pinned = false;
    if (k % 2) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (const auto& [thread, mask] : before) {
        const int cpu = thread == self || k % 4 != 1 ? -1 : lastCpuOf(thread);
        if (cpu < 0 || pinned) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pinned = sched_setaffinity(0, sizeof one, &one) == 0;
      }
    }
    callAndCheck(entry, rng, 10 + rng() % 100);
    if (pinned) {
      ASSERT_EQ(sched_setaffinity(0, sizeof own, &own), 0);
    }
    for (const auto& [thread, mask] : threadMasks()) {
      const auto was = before.find(thread);
      if (was != before.end()) {
        ASSERT_EQ(mask, was->second) << "thread " << thread << " after call " << k;
      }
    }
  }
  EXPECT_EQ(hostUnloadModule(entry), 0);
}

// `clear mex` after a rebuild: the unloaded module is gone from the process,
// and loading the same path again runs the file that is there now. A rebuild
// puts a new file in place of the old one, as a build or a copy does.
TEST(Unload, TheModuleLeavesTheProcessAndARebuildIsPickedUp) {
  char folder[] = "/tmp/meshLookup-unload-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/meshLookup.mexa64";
  ASSERT_TRUE(copyFile(modulePath(), path));

  MexFunction entry = hostLoadModule(path.c_str());
  ASSERT_NE(entry, nullptr) << hostLastError();
  std::mt19937_64 rng(13);
  callAndCheck(entry, rng, 200);
  EXPECT_GT(mappingsOf(path), 0);
  ASSERT_EQ(hostUnloadModule(entry), 0);
  EXPECT_EQ(mappingsOf(path), 0) << path << " is still mapped after its unload";

  ASSERT_TRUE(copyFile(MESHLOOKUP_REBUILT_MODULE, path + ".new"));
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
  entry = hostLoadModule(path.c_str());
  ASSERT_NE(entry, nullptr) << hostLastError();
  mxArray* result[1];
  hostClearConsole();
  EXPECT_EQ(hostCall(entry, 0, result, 0, nullptr), 0) << hostLastError();
  EXPECT_STREQ(hostConsole(), "rebuilt module\n") << "the next load ran the old module";
  EXPECT_EQ(hostUnloadModule(entry), 0);
  std::remove(path.c_str());
  rmdir(folder);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (const char* runtime = std::getenv("MESHLOOKUP_HOST_RUNTIME")) {
    const char* scope = std::getenv("MESHLOOKUP_HOST_SCOPE");
    const bool global = scope && std::string(scope) == "global";
    if (hostStartRuntime(runtime, global) != 0) {
      std::fprintf(stderr, "the host's runtime did not start: %s\n", hostLastError());
      return 1;
    }
    std::printf("host runtime started: %s (%s)\n", runtime, global ? "global" : "private");
  }
#ifndef _WIN32
  else {
    // The premise of the unload test: nothing but the module brings a runtime.
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
      if (line.find("libgomp") != std::string::npos || line.find("libomp") != std::string::npos ||
          line.find("libiomp") != std::string::npos) {
        std::fprintf(stderr, "an OpenMP runtime is loaded before the module: %s\n", line.c_str());
        return 1;
      }
    }
  }
#endif
  hostThreads = hostThreadCount();
  return RUN_ALL_TESTS();
}

// Gateway library of the stand-in host: errors, the console, loading and
// calling modules.
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#endif

namespace {

// mexErrMsgTxt ends the call by jumping back into hostCall, as hosts of this
// kind do. A C++ exception would have to cross from the module into the host,
// and on Windows each of them carries its own statically linked runtime, so an
// exception could not be caught safely across that boundary. The gateway holds
// nothing that needs cleaning up when it raises an error.
std::jmp_buf* activeCall = nullptr;
std::string lastError;
std::string console;
bool echo = false;

#ifdef _WIN32
using ModuleHandle = HMODULE;
#else
using ModuleHandle = void*;
#endif
// Every loaded module's entry point with the handle it came from.
std::vector<std::pair<MexFunction, ModuleHandle>> loaded;

}  // namespace

extern "C" {

void mexErrMsgTxt(const char* message) {
  lastError = message ? message : "";
  if (!activeCall) {
    std::fprintf(stderr, "mexErrMsgTxt outside a call: %s\n", lastError.c_str());
    std::abort();
  }
  std::longjmp(*activeCall, 1);
}

int mexPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, again);
    text.resize(static_cast<size_t>(length));
    console += text;
    if (echo) std::fputs(text.c_str(), stdout);
  }
  va_end(again);
  return length;
}

MexFunction hostLoadModule(const char* path) {
#ifdef _WIN32
  HMODULE module = LoadLibraryA(path);
  if (!module) {
    lastError =
        std::string("cannot load ") + path + " (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  MexFunction entry =
      reinterpret_cast<MexFunction>(reinterpret_cast<void*>(GetProcAddress(module, "mexFunction")));
#else
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    lastError = dlerror();
    return nullptr;
  }
  MexFunction entry = reinterpret_cast<MexFunction>(dlsym(module, "mexFunction"));
  // A module built against another host (Octave's links liboctinterp) brings
  // that host's array operations, which would be handed this host's arrays.
  const void* itsArrays = dlsym(module, "mxGetPr");
  if (entry && itsArrays && itsArrays != reinterpret_cast<const void*>(&mxGetPr)) {
    lastError = std::string(path) + " is built for another host: its mxGetPr is not this host's";
    dlclose(module);
    return nullptr;
  }
#endif
  if (!entry) {
    lastError = std::string(path) + " has no mexFunction";
#ifdef _WIN32
    FreeLibrary(module);
#else
    dlclose(module);
#endif
    return nullptr;
  }
  loaded.emplace_back(entry, module);
  return entry;
}

int hostUnloadModule(MexFunction entry) {
  for (auto it = loaded.begin(); it != loaded.end(); ++it) {
    if (it->first != entry) continue;
    const ModuleHandle module = it->second;
    loaded.erase(it);
#ifdef _WIN32
    FreeLibrary(module);
#else
    dlclose(module);
#endif
    return 0;
  }
  lastError = "no module loaded with that entry point";
  return 1;
}

int hostStartRuntime(const char* path, int global) {
#ifdef _WIN32
  (void)path;
  (void)global;
  lastError = "starting a runtime of the host's own is not done on Windows";
  return 1;
#else
  void* runtime = dlopen(path, RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
  if (!runtime) {
    lastError = dlerror();
    return 1;
  }
  using Parallel = void (*)(void (*)(void*), void*, unsigned threads, unsigned flags);
  const auto parallel = reinterpret_cast<Parallel>(dlsym(runtime, "GOMP_parallel"));
  if (!parallel) {
    lastError = std::string(path) + " has no GOMP_parallel";
    return 1;
  }
  int ran = 0;
  parallel(
      [](void* counter) { __atomic_add_fetch(static_cast<int*>(counter), 1, __ATOMIC_RELAXED); },
      &ran, 2, 0);
  if (__atomic_load_n(&ran, __ATOMIC_RELAXED) < 1) {
    lastError = std::string(path) + " ran no thread";
    return 1;
  }
  return 0;
#endif
}

int hostThreadCount(void) {
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

int hostCall(MexFunction function, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  const int slots = nlhs > 1 ? nlhs : 1;
  for (int k = 0; k < slots; ++k) plhs[k] = nullptr;
  std::jmp_buf here;
  std::jmp_buf* const outer = activeCall;
  activeCall = &here;
  if (setjmp(here) == 0) {
    function(nlhs, plhs, nrhs, prhs);
    activeCall = outer;
    lastError.clear();
    return 0;
  }
  activeCall = outer;
  for (int k = 0; k < slots; ++k) {
    hostDestroyArray(plhs[k]);
    plhs[k] = nullptr;
  }
  return 1;
}

const char* hostLastError(void) {
  return lastError.c_str();
}
const char* hostConsole(void) {
  return console.c_str();
}
void hostClearConsole(void) {
  console.clear();
}
void hostSetEcho(int on) {
  echo = on != 0;
}

}  // extern "C"

// Gateway library of the stand-in host: errors, the console, loading and
// calling modules.
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "host.h"

#ifdef _WIN32
#include <windows.h>
#else
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
#endif
  if (!entry) lastError = std::string(path) + " has no mexFunction";
  return entry;
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

// Calling the module file through the stand-in host, for tests.
#pragma once

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "host.h"
#include "module_path.h"

inline MexFunction module() {
  static MexFunction entry = hostLoadModule(modulePath());
  if (!entry) ADD_FAILURE() << hostLastError();
  return entry;
}

inline std::string consoleLine() {
  return "Renumbering Mesh: running on: " + std::to_string(omp_get_num_procs()) + " cores\n";
}

// An argument array that frees itself.
struct Array {
  mxArray* a;
  Array(HostClass cls, std::vector<size_t> dims, int flags = 0)
      : a(hostCreateArray(cls, static_cast<int>(dims.size()), dims.data(), flags)) {}
  Array(std::vector<size_t> dims, const std::vector<double>& values) : Array(hostDouble, dims) {
    std::copy(values.begin(), values.end(), mxGetPr(a));
  }
  ~Array() { hostDestroyArray(a); }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
};

struct Outcome {
  bool failed;
  std::string error;
  std::string console;
  mxArray* result;  // destroyed by the caller; null after an error
  long arraysCreated;
};

inline Outcome call(int nlhs, std::vector<const mxArray*> args) {
  hostClearConsole();
  const long before = hostArraysCreated();
  mxArray* plhs[4] = {};
  Outcome o;
  o.failed = hostCall(module(), nlhs, plhs, static_cast<int>(args.size()), args.data()) != 0;
  o.error = o.failed ? hostLastError() : "";
  o.console = hostConsole();
  o.result = plhs[0];
  for (int k = 1; k < 4; ++k) hostDestroyArray(plhs[k]);
  o.arraysCreated = hostArraysCreated() - before;
  return o;
}

// An error ends the call before anything is created or printed.
inline void expectRefused(const Outcome& o, const std::string& message) {
  EXPECT_TRUE(o.failed);
  EXPECT_EQ(o.error, message);
  EXPECT_EQ(o.console, "");
  EXPECT_EQ(o.result, nullptr);
  EXPECT_EQ(o.arraysCreated, 0);
}

inline std::vector<double> values(const mxArray* a) {
  const double* p = mxGetPr(a);
  return std::vector<double>(p, p + mxGetNumberOfElements(a));
}

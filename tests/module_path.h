// The module file the tests load: MESHLOOKUP_MODULE from the environment, or
// the one this build made.
#pragma once

#include <cstdlib>

inline const char* modulePath() {
  const char* path = std::getenv("MESHLOOKUP_MODULE");
  return path ? path : MESHLOOKUP_MODULE;
}

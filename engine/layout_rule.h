// Where the vector paths lay a share out transposed rather than per entry: a
// table of data per path and processor class, and the class of this processor.
#pragma once

#include <cstdint>

enum class ScanPath { scalar, avx2, avx512 };

// Processors whose AVX-512 shares cross over at different list lengths and
// steps. intel is also the class of every other vendor's AVX-512 processor.
enum class ProcessorClass { intel, amdZen4, amdZen5 };

// One band of a rule: lists longer than the band before and up to listsUpTo
// entries are laid out transposed at steps up to stepsUpTo (0: at none).
struct LayoutBand {
  int listsUpTo;
  std::int64_t stepsUpTo;
};

// A path's rule for one class: bands in ascending listsUpTo; lists longer than
// the last band keep the per-entry layout. perEntryMinimum: lists shorter than
// this go to the scalar loop in the per-entry layout.
struct LayoutRule {
  const LayoutBand* bands;
  int size;
  int perEntryMinimum;
};

// The rule of path for a processor of class cls; the scalar path has no bands.
LayoutRule layoutRule(ScanPath path, ProcessorClass cls);

// Whether the rule lays a share of a list of count entries (count >= 0) at
// step (>= 1) out transposed.
bool transposedWins(ScanPath path, ProcessorClass cls, int count, std::int64_t step);

// This processor's class, read from CPUID once.
ProcessorClass detectedProcessorClass();
const char* processorClassName(ProcessorClass cls);

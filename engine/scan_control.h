// Tests and benchmarks only: what the chooser (shareFor) takes, forced. Each
// setter is for use between calls, never while a call runs; the module itself
// calls none of them.
#pragma once

#include "layout_rule.h"

// Whether this build and this processor can run a path.
bool scanPathSupported(ScanPath path);
// The path shareFor uses: at load, the widest supported one. Switching only to
// paths that are supported (returns false and changes nothing otherwise).
ScanPath scanPathInUse();
bool useScanPath(ScanPath path);
const char* scanPathName(ScanPath path);

// How the vector paths lay a share out against a short list: one entry at a
// time against blocks of the list, or transposed, 16 (AVX-512) or 8 (AVX2) of
// the share's entries at a time against each list entry in turn. automatic
// follows the layout rule. The scalar path has one layout only.
enum class ShareLayout { automatic, perEntry, transposed };
ShareLayout shareLayoutInUse();
void useShareLayout(ShareLayout layout);

// How the AVX-512 transposed shares compare a list entry's conversions with
// their 16 entries' keys: joined into one 16-lane compare, or in two halves of
// 8. Both give the same results; automatic takes the joined form. The AVX2
// shares have one form.
enum class TransposedCompare { automatic, joined, halves };
TransposedCompare transposedCompareInUse();
void useTransposedCompare(TransposedCompare form);

// The processor class whose layout rule automatic follows: at load, the
// detected one. Forcing another runs that class's boundaries on this machine.
ProcessorClass processorClassInUse();
void useProcessorClass(ProcessorClass cls);

// Test and benchmark builds only (the engine_controlled library, built with RELABEL_TEST_CONTROLS):
// what the chooser takes, forced. A module links the plain engine, which has none of these. Each
// setter is for use between calls, never while a call runs.
#pragma once

#include "layout_rule.h"

// Whether this build and this processor can run a path (in every build).
bool scanPathSupported(ScanPath path);
const char* scanPathName(ScanPath path);
// The path shareFor uses: at load, the widest supported one. Switches only to a supported path
// (returns false and changes nothing otherwise).
ScanPath scanPathInUse();
bool useScanPath(ScanPath path);

// How the vector paths lay a share out: one entry at a time against blocks of the list, or
// transposed, 16 (AVX-512) or 8 (AVX2) of the share's entries at a time against each list entry in
// turn; automatic follows the path's rule. The scalar path has one layout.
enum class ShareLayout { automatic, perEntry, transposed };
ShareLayout shareLayoutInUse();
void useShareLayout(ShareLayout layout);

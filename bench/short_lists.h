// Short-list tables of the engine benchmark: ns per table entry in each share
// layout, beside the scalar reference and a copy of the table measured in the
// same run, for one worker and the full team, in cache and out of it, by step,
// and with the list's end at every 8-byte offset before a page boundary.
#pragma once

void shortListTables();
// The last of them alone: the list's end at every place before a page end.
void pageEndTable();

// rounds x 4 independent truncating conversions as wide as the path in use
// has (8 lanes on AVX-512, 4 on AVX2), nothing else; returns the lanes
// converted, 0 on the scalar path.
long laneConversions(long rounds);

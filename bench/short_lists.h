// Short-list tables of the engine benchmark: ns per table entry in each share
// layout, beside the scalar reference and a copy of the table measured in the
// same run, for one worker and the full team, in cache and out of it, by step,
// and with the list's end at every 8-byte offset before a page boundary.
#pragma once

void shortListTables();

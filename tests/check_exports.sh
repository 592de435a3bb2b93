#!/bin/sh
# The module must export its entry point and nothing else (symbol versions and
# the version nodes themselves aside).
exports=$(nm -D --defined-only "$1" | awk '$2 != "A" {print $3}' | sed 's/@.*//')
if [ "$exports" != "mexFunction" ]; then
  echo "exported symbols of $1:"; echo "$exports"; exit 1
fi
echo "exports: $exports"

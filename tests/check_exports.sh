#!/bin/sh
# The module must export its entry point and nothing else.
exports=$(nm -D --defined-only "$1" | awk '{print $3}')
if [ "$exports" != "mexFunction" ]; then
  echo "exported symbols of $1:"; echo "$exports"; exit 1
fi
echo "exports: $exports"

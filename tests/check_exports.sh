#!/bin/sh
# The module must export its entry point and nothing else (symbol versions and
# the version nodes themselves aside). With --octave MKOCTFILE, a module for
# that Octave, which from the releases with liboctmex on must also export the
# ABI marker Octave checks on loading, __octave_mex_soversion__. With --matlab,
# a module built by matlab_add_mex, which also exports the MATLAB tree's
# mexfilerequiredapiversion.
# usage: check_exports.sh MODULE [--octave MKOCTFILE | --matlab]
want=mexFunction
if [ "${2:-}" = --matlab ]; then
  want=$(printf '%s\n' mexFunction mexfilerequiredapiversion)
elif [ "${2:-}" = --octave ]; then
  libdir=$("$3" -p OCTLIBDIR) || exit 1
  if ls "$libdir"/liboctmex.so* >/dev/null 2>&1; then
    want=$(printf '%s\n' __octave_mex_soversion__ mexFunction)
  fi
fi
exports=$(nm -D --defined-only "$1" | awk '$2 != "A" {print $3}' | sed 's/@.*//' | LC_ALL=C sort)
if [ "$exports" != "$want" ]; then
  echo "exported symbols of $1:"; echo "$exports"; echo "wanted:"; echo "$want"; exit 1
fi
echo "exports:" $exports

#!/bin/sh
# The Octave package's build on the platforms other than Linux, through
# standin/octave-elsewhere/mkoctfile:
# - Windows (built with MinGW-w64, as Octave for Windows builds it), for an
#   Octave before and one with liboctmex: the module exports mexFunction, and
#   the ABI marker where the Octave has liboctmex; it imports only from
#   Octave's own DLLs (its liboct* library and the GCC runtimes Octave ships,
#   OpenMP's libgomp-1.dll among them) and Windows' own.
# - macOS (make -n only): Apple's clang gets OpenMP through its preprocessor
#   and LLVM's libomp, no version script, mexFunction (and the marker) exported
#   by name; without libomp, make stops saying to install it.
# usage: check_package_elsewhere.sh ROOT PACKAGE.tar.gz
root=$1 package=$2
. "$root/tests/pe_tables.sh"
stand_in=$root/standin/octave-elsewhere/mkoctfile
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
tar -C "$tmp" -xzf "$package" || exit 1
src=$(echo "$tmp"/*/src)
fail=0
bad() { echo "$1"; fail=1; }

for octmex in 0 1; do
  rm -f "$src/meshLookup.mex"
  if ! out=$(STANDIN_HOST=windows STANDIN_OCTMEX=$octmex make -C "$src" MKOCTFILE="$stand_in" 2>&1); then
    printf '%s\n' "$out" | tail -n 20; exit 1
  fi
  dump=$(x86_64-w64-mingw32-objdump -p "$src/meshLookup.mex") || exit 1
  exports=$(pe_exports "$dump" | LC_ALL=C sort | xargs)
  want=mexFunction lib=liboctinterp-1.dll
  [ $octmex = 0 ] || want="__octave_mex_soversion__ mexFunction" lib=liboctmex-1.dll
  [ "$exports" = "$want" ] || bad "Windows (liboctmex: $octmex): exports: $exports; wanted: $want"
  dlls=$(pe_dlls "$dump")
  for dll in $dlls; do
    case $dll in
      "$lib" | libgomp-1.dll | libstdc++-6.dll | libgcc_s_seh-1.dll | libwinpthread-1.dll) ;;
      kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
      *) bad "Windows (liboctmex: $octmex): imports from $dll, neither Octave's nor Windows'" ;;
    esac
  done
  for dll in "$lib" libgomp-1.dll; do
    case " $dlls " in *" $dll "*) ;; *) bad "Windows (liboctmex: $octmex): no import from $dll" ;; esac
  done
  [ $fail = 1 ] || echo "Windows (liboctmex: $octmex): exports $exports; imports from $dlls"
done

mkdir -p "$tmp/libomp/include" && : >"$tmp/libomp/include/omp.h"
for octmex in 0 1; do
  line=$(STANDIN_HOST=macos STANDIN_OCTMEX=$octmex OMP_PREFIX="$tmp/libomp" \
    make -B -n -C "$src" MKOCTFILE="$stand_in" 2>&1 | grep -- '--mex')
  for want in "-Xpreprocessor -fopenmp -I$tmp/libomp/include" "-L$tmp/libomp/lib -lomp" \
    -Wl,-exported_symbol,_mexFunction; do
    case $line in *"$want"*) ;; *) bad "macOS: no '$want' in: $line" ;; esac
  done
  marker=-Wl,-exported_symbol,___octave_mex_soversion__
  case $octmex:$line in 1:*"$marker"* | 0:*) ;; *) bad "macOS: no '$marker' in: $line" ;; esac
  case $octmex:$line in 0:*"$marker"*) bad "macOS: '$marker' for an Octave without liboctmex" ;; esac
  case $(printf '%s' "$line" | sed 's/-Xpreprocessor -fopenmp//g') in
    *-fopenmp* | *version-script*) bad "macOS: GCC's options in: $line" ;;
  esac
done
out=$(STANDIN_HOST=macos OMP_PREFIX="$tmp/nothing" make -B -n -C "$src" MKOCTFILE="$stand_in" 2>&1)
case $out in
  *"Mesh renumbering: "*"brew install libomp"*) ;;
  *) bad "macOS without libomp: $out" ;;
esac
[ $fail = 1 ] || echo "macOS: $line"
exit $fail

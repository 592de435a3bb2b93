#!/usr/bin/env bash
# The release as users receive it: dist/ from scripts/package (checksums, what
# each archive holds, each module unpacked and called in its host, the Octave
# package installed with pkg into a throw-away prefix), and `cmake --install` of
# the test builds of scripts/test into a temporary prefix.
# usage: check_release.sh ROOT [DIST], DIST being dist/ by default. Ends with
# "N passed, N failed".
set -u
root=$1
dist=${2:-$root/dist}
version=$(head -n 1 "$root/VERSION")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0

# check NAME CMD...: runs CMD; its output is shown only when it fails.
check() {
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "  ok    $name"
  else
    failed=$((failed + 1))
    echo "  FAIL  $name"
    printf '%s\n' "$out" | tail -n 20 | sed 's/^/        /'
  fi
}

# expect_output WANT CMD...: CMD succeeds and prints WANT somewhere.
expect_output() {
  local want=$1 out
  shift
  out=$("$@" 2>&1) || { printf '%s\n' "$out"; return 1; }
  grep -qF -- "$want" <<<"$out" || { printf 'output:\n%s\nwanted: %s\n' "$out" "$want"; return 1; }
}

# zip_holds LABEL EXT [FILE...]: the archive holds the module, its help file,
# README, NEWS, license, docs/ and the FILEs.
zip_holds() {
  local name="meshLookup-$version-$1" ext=$2
  local got want
  shift 2
  got=$(cmake -E tar tf "$dist/$name.zip" | grep -v '/$' | LC_ALL=C sort | xargs)
  want=$(printf "$name/%s\n" LICENSE NEWS README.md "meshLookup.$ext" meshLookup.m \
    $(cd "$root" && ls docs/*.md docs/*.png) "$@" |
    LC_ALL=C sort | xargs)
  [ "$got" = "$want" ] || { echo "holds: $got"; return 1; }
  (cd "$tmp" && cmake -E tar xf "$dist/$name.zip")
}

package_holds() {
  local name="meshlookup-$version" f
  tar -C "$tmp" -xzf "$dist/$name.tar.gz" || return 1
  for f in DESCRIPTION COPYING INDEX NEWS inst/meshLookup.m src/Makefile src/meshLookup.cpp \
    src/exports.map src/octave_marker.def; do
    [ -f "$tmp/$name/$f" ] || { echo "missing: $f"; return 1; }
  done
  cmp -s "$root/NEWS" "$tmp/$name/NEWS" &&
    grep -qx "Version: $version" "$tmp/$name/DESCRIPTION" &&
    grep -q "^SystemRequirements: " "$tmp/$name/DESCRIPTION" &&
    grep -qx "License: BSD-3-Clause" "$tmp/$name/DESCRIPTION" &&
    cmp -s "$root/LICENSE" "$tmp/$name/COPYING"
}

octave_call() {
  octave-cli --no-history --norc --no-window-system --eval "addpath ('$1');
    evalc ('r = meshLookup ([10 12 11; 12 13 11], [11 12 13 10]);');
    assert (r, [4 2 1; 2 3 1]); assert (strcmp (which ('meshLookup'), '$1/meshLookup.mex'))"
}

# The package's own build, as pkg install runs it: only mexFunction exported
# (with Octave's ABI marker where it has one), no test controls, and Octave's
# own runtime.
package_build() {
  local src="$tmp/meshlookup-$version/src"
  make -C "$src" >/dev/null &&
    sh "$root/tests/check_exports.sh" "$src/meshLookup.mex" --octave "$(command -v mkoctfile)" &&
    sh "$root/tests/check_no_controls.sh" "$src/meshLookup.mex" "$src" &&
    sh "$root/tests/check_openmp_runtime.sh" "$src/meshLookup.mex" --as "$(command -v octave-cli)"
}

no_rpath() {
  [ -f "$1" ] && ! readelf -d "$1" | grep -qE 'RPATH|RUNPATH'
}

installed() {
  local prefix="$tmp/prefix-$1" folder=$2
  cmake --install "$root/$1" --prefix "$prefix" >/dev/null &&
    [ -f "$prefix/share/meshLookup/README.md" ] && [ -f "$prefix/share/meshLookup/LICENSE" ] &&
    [ -f "$prefix/share/meshLookup/NEWS" ] && [ -f "$prefix/share/meshLookup/docs/engine.md" ] &&
    [ -f "$prefix/share/meshLookup/$folder/meshLookup.m" ] &&
    ls "$prefix/share/meshLookup/$folder/"meshLookup.mex* >/dev/null
}

mexhost=$root/build/standin/mexhost
iomp5=$root/build/matlab-standin/sys/os/glnxa64/libiomp5.so
table="7 9.5 9; 9 8 -1"
list="8 9 7"

echo "== the release in $dist and cmake --install"
check "SHA256SUMS verifies" sh -c "cd '$dist' && sha256sum --quiet -c SHA256SUMS"
check "Octave package holds DESCRIPTION, COPYING, INDEX, NEWS, inst/, src/" package_holds
check "Octave package installs, loads, passes its tests and uninstalls" \
  octave-cli --no-history --norc --no-window-system "$root/tests/octave/package_test.m" \
  "$dist/meshlookup-$version.tar.gz"
check "Octave package builds a module exporting only mexFunction, without test controls, on Octave's runtime" package_build
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  check "Octave package for Windows (MinGW-w64, stand-in mkoctfile): exports and imports; for macOS: its command" \
    sh "$root/tests/check_package_elsewhere.sh" "$root" "$dist/meshlookup-$version.tar.gz"
else
  echo "  not run  Octave package for Windows and macOS: this machine has no MinGW-w64"
fi
# The Octave module's archive is named by the Octave it is built for: this one.
mex="mex-octave$(mkoctfile -p OCTAVE_VERSION | cut -d. -f1)"
check "$mex archive holds module, help, README, NEWS, license, docs, HOST.txt" zip_holds "$mex" mex HOST.txt
check "$mex archive's module runs in Octave" octave_call "$tmp/meshLookup-$version-$mex"
check "mexa64 archive holds module, help, README, NEWS, license, docs" zip_holds mexa64 mexa64
check "mexa64 archive's module has no rpath into the build machine" \
  no_rpath "$tmp/meshLookup-$version-mexa64/meshLookup.mexa64"
check "mexa64 archive's module runs in a host running the bundled runtime" expect_output "2 1 -1" \
  "$mexhost" --runtime "$iomp5" "$tmp/meshLookup-$version-mexa64/meshLookup.mexa64" "$table" "$list"
if [ -f "$dist/meshLookup-$version-mexw64.zip" ]; then
  check "mexw64 archive holds module, help, README, NEWS, license, docs" zip_holds mexw64 mexw64
  # Debian's Wine puts no wine64 on the PATH; where the loader lives differs
  # between its releases.
  wine=$(command -v wine64 wine /usr/lib/wine/wine64 /usr/lib/wine/wine 2>/dev/null | head -n 1)
  if [ -n "$wine" ]; then
    cp "$root/build-windows/bin/"{mexhost.exe,libmx.dll,libmex.dll} "$tmp/meshLookup-$version-mexw64/"
    check "mexw64 archive's module runs under Wine" expect_output "2 1 -1" \
      env WINEPREFIX="$root/build-windows/wine" WINEDEBUG=-all \
      "$wine" "$tmp/meshLookup-$version-mexw64/mexhost.exe" meshLookup.mexw64 "$table" "$list"
  else
    echo "  not run  mexw64 archive's module under Wine: this machine has no Wine"
  fi
fi
check "cmake --install of the plain build: Octave module, help, README, license" installed build octave
check "the installed Octave module runs in Octave" octave_call "$tmp/prefix-build/share/meshLookup/octave"
if [ -d "$root/build-matlab" ]; then
  check "cmake --install of the MATLAB build" installed build-matlab mexa64
  check "the installed MATLAB module runs in the stand-in host" expect_output "2 1 -1" \
    "$mexhost" "$tmp/prefix-build-matlab/share/meshLookup/mexa64/meshLookup.mexa64" "$table" "$list"
fi
if [ -d "$root/build-windows" ]; then
  check "cmake --install of the Windows build" installed build-windows mexw64
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

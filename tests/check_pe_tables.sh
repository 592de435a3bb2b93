#!/bin/sh
# The Windows module: it exports only mexFunction, and imports from the host's
# libmx.dll and libmex.dll exactly the operations listed in their .def files,
# and otherwise only from Windows' own DLLs.
# usage: check_pe_tables.sh MODULE DEF_DIR
module=$1 defs=$2
. "$(dirname "$0")/pe_tables.sh"
dump=$(x86_64-w64-mingw32-objdump -p "$module") || exit 1
fail=0

exports=$(pe_exports "$dump")
if [ "$exports" != "mexFunction" ]; then
  echo "exports:"; printf '%s\n' "$exports"; fail=1
fi

# Exactly these DLLs: the host's two and Windows' own KERNEL32 and msvcrt, which
# the statically linked C++ and OpenMP runtimes use.
dlls=$(pe_dlls "$dump")
if [ "$dlls" != "kernel32.dll libmex.dll libmx.dll msvcrt.dll" ]; then
  echo "imports from: $dlls"; fail=1
fi

# Functions imported from one DLL: the lines after its "DLL Name" up to the
# next blank line, last field of each.
imported() {
  printf '%s\n' "$dump" | awk -v dll="$1" '
    /DLL Name:/ { inside = (tolower($3) == dll); next }
    inside && NF == 0 { inside = 0 }
    inside && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print $NF }' | sort
}
for lib in libmx libmex; do
  want=$(sed -n 's/^[[:space:]]\{1,\}\([A-Za-z_0-9]*\)$/\1/p' "$defs/$lib.def" | sort)
  got=$(imported "$lib.dll")
  if [ "$want" != "$got" ]; then
    echo "imports from $lib.dll:"; printf '%s\n' "$got"; echo "expected:"; printf '%s\n' "$want"
    fail=1
  fi
done
# The module pins itself on its first call, so that an unload cannot take the
# runtime's parked workers' code away.
if ! imported kernel32.dll | grep -qx GetModuleHandleExW; then
  echo "GetModuleHandleExW is not imported from KERNEL32.dll"; fail=1
fi
[ $fail -eq 0 ] && echo "exports: mexFunction; imports: $(echo $dlls)"
exit $fail

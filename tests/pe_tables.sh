# Sourced by the checks of Windows module files: their tables, read from the
# output of x86_64-w64-mingw32-objdump -p.

# pe_exports DUMP: the exported names, one per line. The name is the last field
# of each entry of the name pointer table, whatever objdump prints before it
# ("[   0] mexFunction" up to binutils 2.43, "[   0] +base[   1]  0000
# mexFunction" since).
pe_exports() {
  printf '%s\n' "$1" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    awk '/^[[:space:]]*\[ *[0-9]+\]/ { print $NF }'
}

# pe_dlls DUMP: the DLLs it imports from, in lower case, sorted, on one line.
pe_dlls() {
  printf '%s\n' "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | xargs
}

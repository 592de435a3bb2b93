#!/bin/sh
# The module must bring exactly one OpenMP runtime into its host: the one named,
# or with --as PROGRAM the one that host program itself runs. ldd lists what the
# loader would map for the module, its dependencies' dependencies included.
# usage: check_openmp_runtime.sh MODULE RUNTIME_FILE_NAME
#        check_openmp_runtime.sh MODULE --as HOST_PROGRAM
runtimes() { ldd "$1" | awk '{print $1}' | grep -E '^lib(gomp|omp|iomp5)[.-]' | sort -u; }
module=$1
if [ "$2" = "--as" ]; then want=$(runtimes "$3"); else want=$2; fi
got=$(runtimes "$module")
if [ -z "$want" ] || [ "$got" != "$want" ]; then
  echo "OpenMP runtimes of $module: ${got:-none}; expected: ${want:-none}"
  exit 1
fi
echo "OpenMP runtime of $module: $got"

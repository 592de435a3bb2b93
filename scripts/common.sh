# Sourced by the scripts in this folder: paths and package set-up.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# The scripts run with pipefail, where `cmd | grep -q` fails whenever grep's
# early exit cuts cmd off (SIGPIPE); so the output is read whole first.
is_installed() {
  [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *'install ok installed'* ]]
}

can_install() {
  [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null
}

# The package lists are read once per script, before the first choice or install.
apt_lists_read=0
read_package_lists() {
  [ "$apt_lists_read" -eq 1 ] && return 0
  can_install || return 1
  apt-get update -qq >/dev/null 2>&1 && apt_lists_read=1
}

# ensure_packages PKG...: installs the Debian packages that are missing, as root
# with apt-get; otherwise names them and fails.
ensure_packages() {
  local missing=() p
  for p in "$@"; do is_installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  if ! can_install; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "Installing ${missing[*]} ..."
  local log
  log=$(mktemp)
  if ! { read_package_lists && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
           --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "apt-get failed to install: ${missing[*]}" >&2
    return 1
  fi
}

# is_offered PKG: this release has a version of PKG to install.
is_offered() {
  read_package_lists || true
  local policy
  policy=$(apt-cache policy "$1" 2>/dev/null)
  grep -q '^ *Candidate: [^(]' <<<"$policy"
}

# choose_package VAR PKG...: sets VAR to the first of the packages that is
# installed or that this release offers (names differ between releases), or
# to the first one when none is; fails in that last case.
choose_package() {
  local var=$1 p
  shift
  for p in "$@"; do
    is_installed "$p" && { printf -v "$var" %s "$p"; return 0; }
  done
  for p in "$@"; do
    is_offered "$p" && { printf -v "$var" %s "$p"; return 0; }
  done
  printf -v "$var" %s "$1"
  return 1
}

# quietly LOG CMD...: runs CMD with its output in LOG, shown only on failure.
quietly() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "failed: $*  (full output in $log)" >&2
    return 1
  fi
}

# Octave's development files: liboctave-dev up to Debian 12, octave-dev since.
choose_package octave_dev octave-dev liboctave-dev || true
octave_packages=(octave "$octave_dev")

# ensure_llvm: clang with the parts of its own LLVM release that the builds
# use: the OpenMP runtime and its race-detector annotations (Archer), the
# sanitizer runtimes, and llvm-symbolizer for their reports. The release
# number is read from the installed clang, so whichever clang the system has
# is completed with matching parts.
ensure_llvm() {
  ensure_packages clang || return 1
  local major
  major=$(clang -dumpversion | cut -d. -f1)
  ensure_packages "libomp-$major-dev" "libclang-rt-$major-dev" "llvm-$major"
}

# Everything the plain build uses: the stand-in MATLAB tree takes LLVM's OpenMP
# runtime, so clang's release comes with it.
base_packages=(cmake make g++ clang libgtest-dev libbenchmark-dev patchelf "${octave_packages[@]}")

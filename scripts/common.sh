# Sourced by the scripts in this folder: paths and package set-up.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# ensure_packages PKG...: installs the Debian packages that are missing, as root
# with apt-get; otherwise names them and fails.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "Installing ${missing[*]} ..."
  local log
  log=$(mktemp)
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
           --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "apt-get failed to install: ${missing[*]}" >&2
    return 1
  fi
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

base_packages=(cmake make g++ clang libomp-dev libgtest-dev libbenchmark-dev octave liboctave-dev)

# shellcheck shell=bash disable=SC2034  # root and build are the runner's
# Sourced by the browser runners. Sets root (the source tree) and build (the
# native build folder named as the runner's first argument, build/native by
# default); need_programs stops the run when a program of the build is missing,
# fresh_archive empties an output folder and leaves an empty archive folder in it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)

need_programs() {
  local program
  for program in "$@"; do
    [ -x "$program" ] || { echo "missing $program (build the native preset first)" >&2; exit 1; }
  done
}

fresh_archive() {
  rm -rf "$1"
  mkdir -p "$1/archive"
}

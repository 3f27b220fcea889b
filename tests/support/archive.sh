# shellcheck shell=bash
# Shell helpers of the crash tests (sourced).

# scratch_folder NAME: makes $dir, a new folder in $TMPDIR (default /tmp)
# named after NAME, deleted when the script exits.
scratch_folder() {
  dir=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  trap 'rm -rf "$dir"' EXIT
}

# new_archive CLI DIR LIST...: the working folder DIR with the seed pages
# found next to CLI and the lists LIST..., each taking the subjects that
# begin with "[LIST]", with its log folder made.
new_archive() {
  local cli=$1 archive=$2 list
  shift 2
  mkdir -p "$archive/set"
  cp "$(dirname "$cli")"/set/*.htm "$archive/set/"
  for list in "$@"; do
    "$cli" -C "$archive" list add "$list" "[$list]" >/dev/null
    mkdir -p "$archive/LKset/$list"
  done
}

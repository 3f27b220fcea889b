#!/usr/bin/env bash
# Site generator figures over a generated archive of 30 lists x 1,000 logs:
#   rebuild_30x1000  the full rebuild            (median of 5 runs, seconds)
#   new_log_30x1000  one new log: update + sort  (median of 21 runs, milliseconds)
# Usage: bench/site.sh BUILD_FOLDER   (the build bench/run makes)
# The archive is generated below $TMPDIR (default /tmp). Every rebuild deletes
# and recreates 30,000 pages. On ext4 without a journal the kernel avoids
# reusing an inode freed within the last minutes (several if not yet written
# back) and, for every new file, scans past all such inodes of the folder's
# block group: each rebuild, and each benchmark started soon after another,
# then runs slower than the one before, with the time spent in the kernel.
# The file system is named on stderr; TMPDIR=/dev/shm measures without it.
set -euo pipefail
build=$(cd "$1" && pwd)
echo "work folder file system: $(df -PT "${TMPDIR:-/tmp}" | awk 'NR == 2 { print $2 " (" $7 ")" }')" >&2
"$build/bin/larkspur_bench_site" "$build/bin/set" \
  "${LARKSPUR_BENCH_REBUILD_RUNS:-5}" "${LARKSPUR_BENCH_NEW_LOG_RUNS:-21}"

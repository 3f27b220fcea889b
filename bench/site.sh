#!/usr/bin/env bash
# Site generator figures (see bench/site_bench.cpp for each one):
#   over 30 lists x 1,000 logs in $TMPDIR (default /tmp): the rebuild (median
#   of 5 runs, the first and the later runs apart), its I/O floor and the
#   ratio, the peak memory, one stored log of a receive job (median of 21);
#   the same again on /dev/shm (names ending in _shm), when it is a tmpfs;
#   the scaling line 30x100, 30x1000, 30x3000 in $TMPDIR (3 rebuilds and 11
#   logs per size; LARKSPUR_BENCH_SCALING=0 leaves it out).
# Usage: bench/site.sh BUILD_FOLDER   (the build bench/run makes)
# A rebuild gives every page back its own file, so on ext4 without a journal
# only the first run after generating the archive (which creates every page)
# meets the cost of creating 30,000 files; later runs rename and refill. The
# file system is named on stderr.
set -euo pipefail
build=$(cd "$1" && pwd)
bench=$build/bin/larkspur_bench_site
seeds=$build/bin/set
runs=${LARKSPUR_BENCH_REBUILD_RUNS:-5}
logs=${LARKSPUR_BENCH_NEW_LOG_RUNS:-21}
tmp=${TMPDIR:-/tmp}
echo "work folder file system: $(df -PT "$tmp" | awk 'NR == 2 { print $2 " (" $7 ")" }')" >&2
"$bench" "$seeds" "$runs" "$logs"
if [ "$(df -PT /dev/shm 2>/dev/null | awk 'NR == 2 { print $2 }')" = tmpfs ] && [ "$tmp" != /dev/shm ]; then
  echo "work folder file system: tmpfs (/dev/shm)" >&2
  TMPDIR=/dev/shm "$bench" "$seeds" "$runs" "$logs" | sed 's/^\([a-z0-9_]*\):/\1_shm:/'
fi
if [ "${LARKSPUR_BENCH_SCALING:-1}" != 0 ]; then
  "$bench" "$seeds" 3 11 scaling
fi

#!/usr/bin/env bash
# Writers of web folders in two processes take turns: while another process
# holds the working folder's site lock (flock(1) stands for it), a full
# rebuild by larkspur-cli waits and writes nothing; once the lock is free the
# same command rebuilds and exits 0.
#   rebuild_waits_for_other_process.sh PATH/TO/larkspur-cli
set -euo pipefail
cli=$1
command -v flock >/dev/null && command -v timeout >/dev/null || { echo "SKIP: flock(1) or timeout(1) missing"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/lksite-lock.XXXXXX")
trap 'rm -rf "$dir"' EXIT
work=$dir/work
mkdir -p "$work"
"$cli" -C "$work" list add A "[a]" >/dev/null
printf '<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n' >"$work/set/menu.htm"
mkdir -p "$work/LKset/A/web"
printf '[a] one\n\n\nbody\n' >"$work/LKset/A/1.log"
echo stale >"$work/LKset/A/web/stale.htm"
: >"$work/~site.lock"

# Held by another process for the whole second: the rebuild must still be
# waiting when timeout(1) kills it (SIGKILL, as the tool catches SIGTERM),
# with nothing deleted or written.
code=0
flock "$work/~site.lock" timeout -s KILL 1 "$cli" -C "$work" rebuild --yes >"$dir/out" 2>&1 || code=$?
[ "$code" = 137 ] || { echo "FAIL: rebuild ended ($code) while the lock was held:"; cat "$dir/out"; exit 1; }
[ -f "$work/LKset/A/web/stale.htm" ] && [ ! -e "$work/LKset/A/web/1.htm" ] ||
  { echo "FAIL: the web folder changed while the lock was held"; ls "$work/LKset/A/web"; exit 1; }

code=0
"$cli" -C "$work" rebuild --yes >"$dir/out" 2>&1 || code=$?
[ "$code" = 0 ] && [ -f "$work/LKset/A/web/1.htm" ] && [ ! -e "$work/LKset/A/web/stale.htm" ] ||
  { echo "FAIL: with the lock free: exit $code"; cat "$dir/out"; ls "$work/LKset/A/web"; exit 1; }
echo "PASS"

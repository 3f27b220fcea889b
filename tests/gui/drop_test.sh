#!/usr/bin/env bash
# GUI check of a drop on the main window: an mbox dropped on larkspur.exe
# under Wine (through the X drag-and-drop protocol, as a file manager drops)
# is imported under the progress dialog, whose status shows the counts; its
# notice says what was done; the logs, pages and the list's new-mail mark are
# there; the same drop again stores nothing. Started by run.sh inside
# xvfb-run; $1 = build folder. Its own Wine prefix, without a virtual
# desktop, so that the program's window is an X window of its own.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
bin=$build/bin
out=$build/gui-tests/drop
shots=$build/gui-screenshots
rm -rf "$out"
mkdir -p "$out/work" "$out/in" "$shots"
export WINEPREFIX=$build/wineprefix-drop WINEARCH=win64 WINEDEBUG=-all LC_ALL= LANG=ja_JP.UTF-8
"$root/scripts/wine-prefix" "$WINEPREFIX"

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok   - $what"; else failed=$((failed + 1)); echo "FAIL - $what"; fi
}
probe() { wine "$bin/larkspur-gui-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
fixture() { python3 "$here/fixture.py" "$@"; }
main_title="Larkspur Free!"
progress_title="サーバー接続中"

fixture seed "$out/work"
fixture list "$out/work" 週刊テスト "[Mag" 0
python3 - "$out/in/back issues.mbox" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(300):
        f.write("From s@x Mon Jan  1 00:00:00 2024\nMessage-ID: <%d@x>\n"
                "Date: Tue, 2 Jan 2024 10:%02d:%02d +0000\nSubject: [Mag] issue %d\n\nbody %d\n\n"
                % (i, i // 60, i % 60, i, i))
PY

(cd "$out/work" && exec wine "$bin/larkspur.exe" >/dev/null 2>"$out/app.err") &
app=$!
# The first start in a new prefix can take Wine a while on a loaded machine:
# the window is waited for up to 90 s, and its client origin read from it.
cx= cy=
started=$SECONDS
while [ -z "$cy" ] && [ $((SECONDS - started)) -lt 90 ]; do
  read -r _ _ _ _ _ _ cx cy <<<"$(probe window "$main_title")"
  [ -n "$cy" ] || sleep 0.2
done
echo "# main window after $((SECONDS - started)) s at client origin ${cx:-?},${cy:-?}"
window_opens() { [ -n "$cy" ]; }
check "the window opens" window_opens
sleep 1  # first paint

# Drops the mbox on the panel; prints the progress dialog's status texts
# seen and leaves the notice's text in $out/notice.txt (then closes it).
drop() {
  python3 "$here/xdnd_drop.py" $((cx + 200)) $((cy + 120)) "$out/in/back issues.mbox" || return 1
  : >"$out/status.txt"
  for _ in $(seq 300); do
    probe text "$progress_title" 10 >>"$out/status.txt"
    probe window "お知らせ" >/dev/null && break
    sleep 0.1
  done
  "${IMPORT:-/usr/bin/import}" -window root "$shots/drop-$1.png" 2>/dev/null
  probe text "お知らせ" 65535 >"$out/notice.txt"
  probe press "お知らせ" 2 >/dev/null
  probe press "お知らせ" 1 >/dev/null
  for _ in $(seq 50); do [ "$(probe count "$progress_title")" = 0 ] && break; sleep 0.1; done
}

check "the drop is taken" drop first
check "the progress dialog shows the counts" grep -q "取り込み中: .* / 300 件（保存 " "$out/status.txt"
check "the notice says 300 stored" grep -q "保存: 300 件" "$out/notice.txt"
check "300 logs with their pages" test "$(find "$out/work/LKset" -name '*.log' | wc -l)$(find "$out/work/LKset" -name '2*.htm' | wc -l)" = 300300
check "the list is marked" test "$(fixture new-mail "$out/work" 週刊テスト)" = 1
# 2024-01-02 10:00:00 UTC in the local time Wine takes from the system.
first_log=$(python3 -c 'import time; print(time.strftime("%Y%m%d%H%M%S", time.localtime(1704189600)))')_1.log
check "the log is named by its Date" test -f "$out/work/LKset/週刊テスト/$first_log"
check "the same drop again" drop again
check "stores nothing twice" grep -q "保存済みのため省略: 300 件" "$out/notice.txt"
check "still 300 logs" test "$(find "$out/work/LKset" -name '*.log' | wc -l)" = 300

# A long import, cancelled: the dialog goes at once, no notice comes, and
# no log is written after the cancel.
python3 - "$out/in/big.mbox" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(20000):
        f.write("From s@x Mon Jan  1 00:00:00 2024\nMessage-ID: <big%d@x>\n"
                "Date: Wed, 3 Jan 2024 %02d:%02d:%02d +0000\nSubject: [Mag] big %d\n\nbody %d\n\n"
                % (i, i // 3600, i // 60 % 60, i % 60, i, i))
PY
python3 "$here/xdnd_drop.py" $((cx + 200)) $((cy + 120)) "$out/in/big.mbox"
for _ in $(seq 100); do probe text "$progress_title" 10 | grep -q "保存 [1-9]" && break; sleep 0.1; done
probe press "$progress_title" 1 >/dev/null
for _ in $(seq 20); do [ "$(probe count "$progress_title")" = 0 ] && break; sleep 0.1; done
check "cancel closes the dialog" test "$(probe count "$progress_title")" = 0
sleep 2
stopped_at=$(find "$out/work/LKset" -name '*.log' | wc -l)
sleep 2
check "no log after the cancel, and the import stopped early" \
  test "$(find "$out/work/LKset" -name '*.log' | wc -l)" = "$stopped_at" -a "$stopped_at" -lt 20300
check "no notice after a cancel" test "$(probe count "お知らせ")" = 0
window_answers() { probe window "$main_title" >/dev/null; }
check "the window still answers" window_answers

probe close "$main_title" >/dev/null
wait "$app" 2>/dev/null
wineserver -k >/dev/null 2>&1 || true
echo "gui drop: $passed passed, $failed failed"
[ "$failed" = 0 ]

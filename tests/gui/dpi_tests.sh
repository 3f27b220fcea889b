#!/usr/bin/env bash
# larkspur.exe at 96, 144 and 192 DPI (Wine's LogPixels): the window, the
# panel with lists and marks, the buttons, the progress dialog, a message box
# and the three settings dialogs, with a screen shot of each in
# BUILD_DIR/gui-screenshots/dpi-N/, and clicks on the names at each scale.
# Started by run.sh inside xvfb-run; $1 = build folder. The prefix's
# LogPixels is put back as it was at the end.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$1
bin=$build/bin
out=$build/gui-dpi
rm -rf "$out"
mkdir -p "$out"

export WINEPREFIX=$build/wineprefix-gui WINEARCH=win64 WINEDEBUG=-all LC_ALL= LANG=ja_JP.UTF-8
IM=/usr/bin
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   - $*"; }
fail() { failed=$((failed + 1)); echo "FAIL - $*"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
note() { echo "     $*"; }

"$root/scripts/wine-prefix" "$WINEPREFIX"
browser_log=$out/browser.log
cat >"$out/browser.sh" <<EOS
#!/bin/sh
printf '%s\n' "\$*" >>"$browser_log"
EOS
chmod +x "$out/browser.sh"
desktop_key='HKCU\Control Panel\Desktop'
# The LogPixels the prefix had, to put back.
old_dpi=$(wine reg query "$desktop_key" /v LogPixels 2>/dev/null | tr -d '\r' | awk '/LogPixels/ { print $3 }')
set_dpi() {
  wineserver -k >/dev/null 2>&1
  wineserver -w
  wine reg add "$desktop_key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -w
}
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k >/dev/null 2>&1
  wineserver -w
  if [ -n "$old_dpi" ]; then
    wine reg add "$desktop_key" /v LogPixels /t REG_DWORD /d "$((old_dpi))" /f >/dev/null 2>&1
  else
    wine reg delete "$desktop_key" /v LogPixels /f >/dev/null 2>&1
  fi
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
}
trap cleanup EXIT
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$out/browser.sh" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
# Large enough for the log deletion dialog at 192 DPI.
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1600x1200 /f >/dev/null 2>&1
wineserver -w

probe() { wine "$bin/larkspur-gui-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
fixture() { python3 "$here/fixture.py" "$@"; }
wait_for_window() {
  local deadline=$((SECONDS + ${2:-15}))
  while [ $SECONDS -lt $deadline ]; do probe window "$1" >/dev/null && return 0; sleep 0.2; done
  return 1
}
wait_gone() {
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do [ "$(probe count "$1")" = 0 ] && return 0; sleep 0.2; done
  return 1
}
browser_calls() { [ -f "$browser_log" ] && wc -l <"$browser_log" || echo 0; }
wait_browser_calls() {
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do [ "$(browser_calls)" -ge "$1" ] && return 0; sleep 0.2; done
  return 1
}
last_browser_path() { fixture url-path "$(tail -n 1 "$browser_log")"; }

main_title="Larkspur Free!"
# A length of the 96-DPI layout at $dpi (rounded like MulDiv), and the device
# pixel in the middle of 96-DPI pixel N.
sc() { echo $((($1 * dpi + 48) / 96)); }
mid() { echo $(((2 * $1 + 1) * dpi / 192)); }
click() { xdotool mousemove $((client_x + $(mid "$1"))) $((client_y + $(mid "$2"))) click 1; }
shot() {  # shot NAME TITLE: that window from a screen shot
  local x y w h
  "$IM/import" -window root "$out/screen.png" 2>/dev/null
  read -r x y w h _ <<<"$(probe window "$2")"
  "$IM/convert" "$out/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$shots/$1.png"
}
colour_percent() {  # X Y W H RRGGBB, in 96-DPI units of the client area
  local count w h
  w=$(sc "$3"); h=$(sc "$4")
  count=$("$IM/convert" "$out/screen.png" -crop "${w}x${h}+$((client_x + $(sc "$1")))+$((client_y + $(sc "$2")))" \
    +repage -format %c histogram:info:- | awk -v c="#$5" 'toupper($3) == toupper(c) { sub(":", "", $1); print $1 }')
  echo $((${count:-0} * 100 / (w * h)))
}
open_dialog() {  # open_dialog NAME TITLE BUTTON_X BUTTON_Y DONE_ID
  click "$3" "$4"
  if wait_for_window "$2" 10; then
    sleep 0.7
    read -r _ _ w h _ <<<"$(probe window "$2")"
    dialog_size[$1]="$w $h"
    shot "$1" "$2"
    pass "$dpi DPI: $2 opens (${w}x${h})"
    probe press "$2" "$5" >/dev/null
    wait_gone "$2" 5
  else
    fail "$dpi DPI: $2 opens"
  fi
}

: >"$out/stall.log"
python3 "$here/stall_pop3.py" --log "$out/stall.log" --lifetime 200 >"$out/stall.out" &
servers+=($!)
port=
for _ in $(seq 1 50); do port=$(head -n 1 "$out/stall.out" 2>/dev/null); [ -n "$port" ] && break; sleep 0.1; done
# A working folder per DPI: 12 lists, slot 0 and slot 11 marked, and an
# account on the stalling server.
make_work() {
  work=$out/work-$dpi
  mkdir -p "$work"
  for n in $(seq -w 1 12); do
    mark=0; { [ "$n" = 12 ] || [ "$n" = 01 ]; } && mark=1
    fixture list "$work" "リスト$n" "[list$n]" "$mark" page
  done
  fixture account "$work" "127.0.0.1:$port" gui secret
}

declare -A base_size
for dpi in 96 144 192; do
  echo "# $dpi DPI"
  shots=$build/gui-screenshots/dpi-$dpi
  mkdir -p "$shots"
  set_dpi "$dpi"
  make_work
  declare -A dialog_size=()
  (cd "$work" && exec wine "$bin/larkspur.exe" >/dev/null 2>&1) &
  app_pid=$!
  if ! wait_for_window "$main_title" 30; then
    fail "$dpi DPI: the main window appears"
    continue
  fi
  sleep 1
  read -r win_x win_y win_w win_h client_w client_h client_x client_y <<<"$(probe window "$main_title")"
  note "window ${win_w}x${win_h}, client ${client_w}x${client_h}"
  check "$dpi DPI: the client area is the scaled 491 x 288" \
    test "$client_w" = "$(sc 491)" -a "$client_h" = "$(sc 288)"
  "$IM/import" -window root "$out/screen.png" 2>/dev/null
  "$IM/convert" "$out/screen.png" -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage "$shots/main-window-lists.png"
  check "$dpi DPI: slot 0 (new mail) is on the green ground" test "$(colour_percent 120 30 56 14 58F791)" -ge 20
  check "$dpi DPI: slot 1 has no green ground" test "$(colour_percent 120 49 56 14 58F791)" = 0
  check "$dpi DPI: slot 11 (new mail, second column) is on the green ground" \
    test "$(colour_percent 240 49 56 14 58F791)" -ge 20
  # The emblem corner of the background reaches the scaled client's corner.
  check "$dpi DPI: the background fills the scaled client area" \
    test "$(colour_percent 440 250 50 37 FFFFFF)" -lt 90

  # Hit tests: edges of the areas land on their list; the gaps on none.
  calls=$(browser_calls)
  for point in "125 45" "233 35" "359 35" "119 35"; do click $point; done
  sleep 1.5
  check "$dpi DPI: clicks in the gaps open nothing" test "$(browser_calls)" = "$calls"
  # Presentation order is the reverse of the directory order: slot 0 is リスト12.
  for hit in "120 30 リスト12" "232 44 リスト12" "120 49 リスト11" "350 30 リスト02" "240 44 リスト02" \
             "350 49 リスト01"; do
    read -r x y name <<<"$hit"
    calls=$(browser_calls)
    click "$x" "$y"
    if wait_browser_calls $((calls + 1)) 10; then
      check "$dpi DPI: a click at ($x, $y) opens $name" \
        bash -c '[[ "$1" == *"LKset/$2/web/index.htm" ]]' _ "$(last_browser_path)" "$name"
    else
      fail "$dpi DPI: a click at ($x, $y) opens $name"
    fi
  done
  sleep 0.5
  "$IM/import" -window root "$out/screen.png" 2>/dev/null
  "$IM/convert" "$out/screen.png" -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage "$shots/main-window-after-clicks.png"
  check "$dpi DPI: the clicked marks are gone" \
    test "$(colour_percent 120 30 56 14 58F791)" = 0 -a "$(colour_percent 240 49 56 14 58F791)" = 0

  open_dialog account-dialog "POP3の設定" 44 40 2
  open_dialog list-dialog "リストの作成" 44 80 8
  open_dialog log-dialog "ログの削除" 44 160 3
  click 44 120  # RE-BUILD: its question
  if wait_for_window "確認" 10; then
    sleep 0.7
    shot message-confirm-rebuild "確認"
    pass "$dpi DPI: the rebuild question opens"
    probe press "確認" 7 >/dev/null
    wait_gone "確認" 5
  else
    fail "$dpi DPI: the rebuild question opens"
  fi
  click 290 261  # e-mail check !
  if wait_for_window "サーバー接続中" 10; then
    sleep 2  # a few animation frames
    read -r _ _ w h _ <<<"$(probe window "サーバー接続中")"
    dialog_size[progress-dialog]="$w $h"
    shot progress-dialog "サーバー接続中"
    "$IM/import" -window root "$out/screen.png" 2>/dev/null
    "$IM/convert" "$out/screen.png" -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage "$shots/main-window-with-progress.png"
    pass "$dpi DPI: the progress dialog opens (${w}x${h})"
    xdotool key Escape
    check "$dpi DPI: Esc cancels the job" wait_gone "サーバー接続中" 5
  else
    fail "$dpi DPI: the progress dialog opens"
  fi
  # Dialogs grow with the DPI, as their font does.
  for name in "${!dialog_size[@]}"; do
    read -r w h <<<"${dialog_size[$name]}"
    if [ "$dpi" = 96 ]; then
      base_size[$name]="$w $h"
    elif [ -n "${base_size[$name]:-}" ]; then
      read -r bw bh <<<"${base_size[$name]}"
      # Within 12 % of the scaled 96-DPI size (fonts do not scale exactly).
      check "$dpi DPI: $name is in proportion (${w}x${h} against ${bw}x${bh} at 96 DPI)" \
        test $((w * 96 * 100 / (bw * dpi))) -ge 88 -a $((w * 96 * 100 / (bw * dpi))) -le 112 \
          -a $((h * 96 * 100 / (bh * dpi))) -ge 88 -a $((h * 96 * 100 / (bh * dpi))) -le 112
    fi
  done
  probe close "$main_title" >/dev/null
  wait "$app_pid"
  sleep 2  # the cancelled worker ends
done

echo
echo "screen shots: $build/gui-screenshots/dpi-*"
echo "gui dpi: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

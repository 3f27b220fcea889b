#!/usr/bin/env bash
# The GUI test cases; started by run.sh inside xvfb-run. $1 = build folder.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$1
bin=$build/bin
out=$build/gui-tests
shots=$build/gui-screenshots
rm -rf "$out"
mkdir -p "$out" "$shots"  # shared with the settings dialogs' tests

export WINEPREFIX=$build/wineprefix-gui WINEARCH=win64 WINEDEBUG=-all LC_ALL= LANG=ja_JP.UTF-8
IM=/usr/bin  # ImageMagick's convert and import

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   - $*"; }
fail() { failed=$((failed + 1)); echo "FAIL - $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
note() { echo "     $*"; }

# ------------------------------------------------------------------ the prefix
# Its own prefix (not the one ctest uses), with a virtual desktop so that
# captions are drawn in screen shots, and a browser that only logs what it is
# asked to open.
"$root/scripts/wine-prefix" "$WINEPREFIX"
browser_log=$out/browser.log
cat >"$out/browser.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$browser_log"
EOF
chmod +x "$out/browser.sh"
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$out/browser.sh" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
wineserver -w

# -------------------------------------------------------------------- helpers
probe() { wine "$bin/larkspur-gui-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
fixture() { python3 "$here/fixture.py" "$@"; }

wait_for_window() {  # wait_for_window TITLE [SECONDS]
  local deadline=$((SECONDS + ${2:-15}))
  while [ $SECONDS -lt $deadline ]; do
    probe window "$1" >/dev/null && return 0
    sleep 0.2
  done
  return 1
}
window_count() { probe count "$1"; }
wait_gone() {  # wait_gone TITLE SECONDS
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(window_count "$1")" = 0 ] && return 0
    sleep 0.1
  done
  return 1
}

main_title="Larkspur Free!"
app_pid=
start_app() {  # start_app FOLDER [stderr file]: starts larkspur.exe there
  (cd "$1" && exec wine "$bin/larkspur.exe" >/dev/null 2>"${2:-/dev/null}") &
  app_pid=$!
  wait_for_window "$main_title" 60 || return 1
  read -r win_x win_y win_w win_h client_w client_h client_x client_y \
    <<<"$(probe window "$main_title")"
  sleep 0.5  # first paint
}
stop_app() {  # asks the window to close; the program's exit code is returned
  probe close "$main_title" >/dev/null
  local code=0
  wait "$app_pid" || code=$?
  app_pid=
  return $code
}
click() {  # click X Y in the main window's client area
  xdotool mousemove $((client_x + $1)) $((client_y + $2)) click 1
}
click_control() {  # click the centre of control ID of window TITLE
  local x y w h
  read -r x y w h <<<"$(probe control "$1" "$2")" || return 1
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}
screenshot() {  # screenshot NAME [TITLE]: the whole desktop, or one window
  local file=$shots/$1.png
  "$IM/import" -window root -crop 1024x768+0+0 +repage "$out/screen.png" 2>/dev/null
  if [ $# -ge 2 ]; then
    local x y w h
    read -r x y w h _ <<<"$(probe window "$2")"
    "$IM/convert" "$out/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$file"
  else
    cp "$out/screen.png" "$file"
  fi
}
# Share of the pixels of a client rectangle that have exactly colour RRGGBB,
# in percent, from the last screen shot.
colour_percent() {  # colour_percent X Y W H RRGGBB
  local count
  count=$("$IM/convert" "$out/screen.png" -crop "${3}x${4}+$((client_x + $1))+$((client_y + $2))" \
    +repage -format %c histogram:info:- | awk -v c="#$5" 'toupper($3) == toupper(c) { sub(":", "", $1); print $1 }')
  echo $(( ${count:-0} * 100 / ($3 * $4) ))
}
# The name box of slot i (0-based): 16 half-width characters of the 14-pixel
# font at the slot's text position.
slot_box() {
  local i=$1 xs=(120 240 359)
  echo "${xs[$((i / 10))]} $((30 + 19 * (i % 10))) 110 14"
}
marked_percent() { colour_percent $(slot_box "$1") 58F791; }
white_percent() { colour_percent $(slot_box "$1") FFFFFF; }
status_text() { probe text "サーバー接続中" 10; }
records_sum() { cat "$1"/LKset/*.stf 2>/dev/null | md5sum; }
browser_calls() { [ -f "$browser_log" ] && wc -l <"$browser_log" || echo 0; }
wait_browser_calls() {  # wait_browser_calls N SECONDS
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(browser_calls)" -ge "$1" ] && return 0
    sleep 0.2
  done
  return 1
}
last_browser_path() { fixture url-path "$(tail -n 1 "$browser_log")"; }
opens_page() {  # opens_page DESCRIPTION SECONDS PATH_END COMMAND...
  # Runs the command, then checks that the browser is asked for one more page
  # within SECONDS and that its path ends in PATH_END. Returns 1 when the
  # browser was not asked at all.
  local what=$1 seconds=$2 ending=$3 calls
  shift 3
  calls=$(browser_calls)
  "$@"
  if wait_browser_calls $((calls + 1)) "$seconds"; then
    check "$what" bash -c '[[ "$1" == *"$2" ]]' _ "$(last_browser_path)" "$ending"
  else
    fail "$what"
    return 1
  fi
}

servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

# ------------------------------------------------- start-up and the window
echo "# start-up"
work=$out/startup
mkdir -p "$work"
if start_app "$work"; then
  pass "the main window appears"
  check "folders set, LKset and pop3mail are created" \
    test -d "$work/set" -a -d "$work/LKset" -a -d "$work/pop3mail"
  note "window at ($win_x, $win_y), ${win_w}x${win_h}, client ${client_w}x${client_h}"
  check "the window is 497 x 313" test "$win_w" = 497 -a "$win_h" = 313
  check "the window is centred on the 1024 x 768 desktop at (263, 227)" \
    test "$win_x" = 263 -a "$win_y" = 227
  check "the client area holds the 490 x 287 background" \
    test "$client_w" -ge 490 -a "$client_h" -ge 287
  screenshot main-window-empty "$main_title"

  # A second copy ends at once with 0 and leaves the first as it was.
  second_start=$SECONDS
  (cd "$work" && timeout 20 wine "$bin/larkspur.exe" >/dev/null 2>&1)
  second_code=$?
  check "a second start exits with 0" test "$second_code" = 0
  check "a second start ends at once" test $((SECONDS - second_start)) -le 5
  check "the first copy is still the only one" test "$(window_count "$main_title")" = 1
  check "the first copy has not moved" \
    test "$(probe window "$main_title" | cut -d' ' -f1-4)" = "$win_x $win_y $win_w $win_h"

  probe minimize "$main_title" >/dev/null
  sleep 1
  check "the window can be minimised" \
    test "$(probe window "$main_title" | cut -d' ' -f3-4)" != "$win_w $win_h"
  probe restore "$main_title" >/dev/null
  sleep 1
  check "minimised and restored, the window keeps its place and size" \
    test "$(probe window "$main_title" | cut -d' ' -f1-4)" = "$win_x $win_y $win_w $win_h"

  stop_app
  check "closing the window ends the program with 0" test $? = 0
else
  fail "the main window appears"
fi

# ------------------------------------------------------------ the list panel
echo "# list panel"
work=$out/panel
mkdir -p "$work"
long_name="週刊ソフト表示テスト長い名前です"  # > 16 bytes, with 0x5C trail bytes
for n in $(seq -w 1 21); do
  mark=0; [ "$n" = 21 ] && mark=1
  fixture list "$work" "リスト$n" "[list$n]" "$mark" page
done
fixture list "$work" "$long_name" "[soft]" 1 page
# Presentation order (the reverse of the directory order): slot 0 the long
# name, slot 1 リスト21 ... slot 21 リスト01.
if start_app "$work"; then
  screenshot main-window-lists "$main_title"
  screenshot panel-screen
  check "slot 0 (new mail) is drawn on the green ground" test "$(marked_percent 0)" -ge 20
  check "slot 1 (new mail) is drawn on the green ground" test "$(marked_percent 1)" -ge 20
  check "slot 2 (no new mail) has no green ground" test "$(marked_percent 2)" = 0
  check "slot 2 shows its name (not blank)" test "$(white_percent 2)" -lt 100
  # The long name shows its first 16 bytes: 8 full-width characters of 14
  # pixels, so its ground ends at x 231, before the column gap.
  check "a long name is cut at 16 bytes" \
    test "$(colour_percent 225 30 7 14 58F791)" -gt 0 -a "$(colour_percent 233 30 6 14 58F791)" = 0

  before=$(records_sum "$work")
  # Gaps between rows and columns, left of the first column, above the first
  # row, and x = 359, where the third column's text starts but its hit area
  # does not.
  for point in "125 45" "125 48" "233 35" "239 35" "351 35" "359 35" "119 35" "125 29" "472 35" "125 216"; do
    click $point
  done
  sleep 1.5
  check "clicks in the gaps open nothing" test "$(browser_calls)" = 0
  check "clicks in the gaps change no record" test "$(records_sum "$work")" = "$before"

  # Only the release counts: pressed on the background, released on slot 0's
  # top-left corner (the bounds are inclusive).
  xdotool mousemove $((client_x + 300)) $((client_y + 240)) mousedown 1 \
    mousemove $((client_x + 120)) $((client_y + 30)) mouseup 1
  if wait_browser_calls 1 10; then
    path=$(last_browser_path)
    note "browser asked for $path"
    check "a press elsewhere released on the marked name opens its index page" \
      bash -c '[[ "$1" == *"LKset/$2/web/index.htm" ]]' _ "$path" "$long_name"
  else
    fail "a click on the marked name opens its index page"
  fi
  check "the click clears new_mail in that list's record" \
    test "$(fixture new-mail "$work" "$long_name")" = 0
  check "the other marked list keeps new_mail" test "$(fixture new-mail "$work" リスト21)" = 1
  sleep 0.5
  screenshot main-window-after-click "$main_title"
  screenshot panel-screen
  check "slot 0 is no longer green" test "$(marked_percent 0)" = 0
  check "slot 1 is still green" test "$(marked_percent 1)" -ge 20
  # The bottom-right corner of slot 21 (x 471, row 1 of column 2).
  opens_page "a click on slot 21 opens リスト01's page" 10 "LKset/リスト01/web/index.htm" click 471 63
  # The help button opens the help page that comes with the program.
  mkdir -p "$work/help"
  cp "$root"/resources/help/* "$work/help/" 2>/dev/null || echo "<html></html>" >"$work/help/index.html"
  opens_page "the help button opens help\\index.html" 10 "/panel/help/index.html" click 18 267
  # The search page: the system menu's item (Alt+Space, then Up to its last
  # item: the size item, disabled, has the mnemonic S as well) and Ctrl+F, no
  # button. Each starts with the window active and the pointer on no name.
  search_from_system_menu() {
    click 300 240
    sleep 0.3
    xdotool key alt+space
    sleep 0.5
    screenshot system-menu-search
    xdotool key Up Return
  }
  search_from_ctrl_f() {
    click 300 240
    sleep 0.3
    xdotool key ctrl+f
  }
  if opens_page "the system menu's item opens search\\index.htm" 15 "/panel/search/index.htm" \
    search_from_system_menu; then
    # The index is built on a thread of its own while the page opens.
    check "the search page was made with its index" \
      bash -c 'for _ in $(seq 50); do [ -f "$1" ] && exit 0; sleep 0.2; done; exit 1' _ "$work/search/state.js"
  fi
  opens_page "Ctrl+F opens search\\index.htm" 10 "/panel/search/index.htm" search_from_ctrl_f
  stop_app
else
  fail "the main window appears (list panel)"
fi

# ------------------------------------------- receive job, rebuild, messages
echo "# receive job and rebuild"
work=$out/receive
mkdir -p "$work"
fixture mailbox "$out/mailbox"
(cd "$out" && exec wine "$bin/larkspur-pop3d.exe" --mailbox mailbox --user gui --pass secret \
  --transcript pop3d-transcript.txt >"$out/pop3d.out" 2>"$out/pop3d.err") &
servers+=($!)
port=
for _ in $(seq 1 50); do
  port=$(head -n 1 "$out/pop3d.out" 2>/dev/null | tr -d '\r')
  [ -n "$port" ] && break
  sleep 0.2
done
note "larkspur-pop3d on port ${port:-?}"
fixture account "$work" "127.0.0.1:$port" gui secret
# The installation's seed pages, or stand-ins while there are none.
if compgen -G "$root/resources/set/*.htm" >/dev/null; then
  mkdir -p "$work/set" && cp "$root"/resources/set/*.htm "$work/set/"
else
  fixture seed "$work"
fi
fixture list "$work" 週刊テスト "【週刊テスト】" 0
fixture list "$work" ソフト表示 "[soft]" 0
if [ -n "$port" ] && start_app "$work"; then
  click 290 261  # e-mail check !
  if wait_for_window "サーバー接続中" 10; then
    pass "the receive button opens the progress dialog"
    : >"$out/status-texts.txt"
    shot_taken=0
    deadline=$((SECONDS + 30))
    while [ $SECONDS -lt $deadline ]; do
      text=$(status_text) || break
      if [ -n "$text" ] && ! grep -qxF "$text" "$out/status-texts.txt"; then
        echo "$text" >>"$out/status-texts.txt"
      fi
      if [ $shot_taken = 0 ] && [ "$text" = "他の新着メールが 1 件ありました" ]; then
        screenshot progress-dialog-notice "$main_title"
        shot_taken=1
      fi
      sleep 0.1
    done
    note "status texts seen: $(paste -sd '|' "$out/status-texts.txt")"
    check "the dialog shows the notice of the unmatched mail" \
      grep -qxF "他の新着メールが 1 件ありました" "$out/status-texts.txt"
    check "every status text shown is one of the job's texts" \
      bash -c '! grep -vxE "メールサーバーに接続中・・・|IDとパスワードの認証中・・・|メールボックスを検索中・・・|メールの振り分け処理中・・・|該当するメールを受信中・・・|他の新着メールが 1 件ありました|メールサーバーから切断処理中・・・" "$1"' _ "$out/status-texts.txt"
    check "the dialog closes when the job is done" test "$(window_count "サーバー接続中")" = 0
  else
    fail "the receive button opens the progress dialog"
  fi
  sleep 0.5
  check "two logs are stored" test "$(fixture logs "$work")" = 2
  check "both lists are marked in their records" \
    test "$(fixture new-mail "$work" 週刊テスト)$(fixture new-mail "$work" ソフト表示)" = 11
  screenshot main-window-after-receive "$main_title"
  screenshot panel-screen
  check "after the job both lists show on the green ground" \
    test "$(marked_percent 0)" -ge 20 -a "$(marked_percent 1)" -ge 20

  # Rebuild, answered No: nothing happens.
  menu=$work/LKset/週刊テスト/web/menu.htm
  stamp_before=$(stat -c %Y.%s "$menu" 2>/dev/null)
  click 44 120  # RE-BUILD
  if wait_for_window "確認" 10; then
    pass "the rebuild button asks 確認"
    sleep 0.5  # its first paint
    screenshot message-confirm-rebuild "確認"
    check "the question is the rebuild question" test "$(probe text "確認" 65535)" = \
      "$(printf '全てのHTML文書を一度全て削除して\nログファイルからHTML文書を再編成します。\nよろしいですか？')"
    probe press "確認" 7 >/dev/null  # No
    wait_gone "確認" 5
    sleep 1
    check "after No no notice follows" test "$(window_count "お知らせ")" = 0
    check "after No the pages are untouched" test "$(stat -c %Y.%s "$menu" 2>/dev/null)" = "$stamp_before"
  else
    fail "the rebuild button asks 確認"
  fi
  rm -f "$work/LKset/ソフト表示/web/menu.htm"
  click 44 120
  if wait_for_window "確認" 10; then
    probe press "確認" 6 >/dev/null  # Yes
    if wait_for_window "お知らせ" 20; then
      pass "Yes rebuilds and shows お知らせ"
      sleep 0.5  # its first paint
      check "the notice lies above the main window" test "$(probe above "お知らせ" "$main_title")" = yes
      screenshot message-rebuild-done "お知らせ"
      check "the notice says all pages were rebuilt" \
        test "$(probe text "お知らせ" 65535)" = "全てのHTML文書を再編成しました"
      probe press "お知らせ" 2 >/dev/null || true
      probe press "お知らせ" 1 >/dev/null || true
      wait_gone "お知らせ" 5
      sleep 0.5
      check "the rebuild made the deleted link page again" test -f "$work/LKset/ソフト表示/web/menu.htm"
      check "each list has its one log page again" \
        test "$(ls "$work"/LKset/*/web/ | grep -c '^[0-9].*\.htm$')" = 2
      screenshot panel-screen
      check "the rebuild keeps the marks" test "$(marked_percent 0)" -ge 20 -a "$(marked_percent 1)" -ge 20
    else
      fail "Yes rebuilds and shows お知らせ"
    fi
  else
    fail "the rebuild button asks 確認 (second time)"
  fi
  stop_app
else
  fail "the receive test starts (server and window)"
fi

# --------------------------------------- cancel, one job, drawing resources
echo "# cancel and one job at a time"
work=$out/cancel
mkdir -p "$work"
: >"$out/stall.log"
python3 "$here/stall_pop3.py" --log "$out/stall.log" --lifetime 200 >"$out/stall.out" &
servers+=($!)
port=
for _ in $(seq 1 50); do
  port=$(head -n 1 "$out/stall.out" 2>/dev/null)
  [ -n "$port" ] && break
  sleep 0.1
done
fixture account "$work" "127.0.0.1:$port" gui secret
fixture list "$work" 全部 "" 0  # an empty search text matches every message
gdi_log=$out/gdi-trace.log
# Wine's GDI trace gives the process's count of live GDI objects after every
# allocation and release; GetGuiResources is not implemented under Wine.
if [ -n "$port" ] && WINEDEBUG=-all,+pid,+gdi start_app "$work" "$gdi_log"; then
  read -r _ _ app_process <<<"$(probe gdi)"
  app_hex=$(printf '%04x' "${app_process:-0}")
  gdi_count() {  # the process's GDI object count after its last change
    grep -a "^$app_hex:.*gdi_handle" "$gdi_log" | tail -n 1 | sed -E 's#.* ([0-9]+)/[0-9]+$#\1#'
  }
  gdi_idle_before=$(gdi_count)
  run_stalled_job() {  # opens the dialog and waits for the scan's status
    click 290 261
    wait_for_window "サーバー接続中" 10 || return 1
    local deadline=$((SECONDS + 15))
    while [ $SECONDS -lt $deadline ]; do
      [ "$(status_text)" = "メールボックスを検索中・・・" ] && return 0
      sleep 0.2
    done
    return 1
  }
  if run_stalled_job; then
    pass "a job stalled in its scan shows メールボックスを検索中・・・"
    screenshot progress-dialog-scan "サーバー接続中"
    screenshot progress-dialog-over-main
    connects=$(grep -c CONNECT "$out/stall.log")
    click 300 150  # the panel: activates the main window
    sleep 1
    check "a click on the main window leaves the dialog in front" \
      test "$(probe above "サーバー接続中" "$main_title")" = yes
    click 290 261                                          # a second click
    xdotool mousemove $((client_x + 290)) $((client_y + 261)) click --repeat 2 --delay 80 1
    sleep 2
    check "further receive clicks open no second dialog" test "$(window_count "サーバー接続中")" = 1
    check "further receive clicks start no second job" \
      test "$(grep -c CONNECT "$out/stall.log")" = "$connects"
    # The other commands stay usable while the job runs.
    click 44 120  # RE-BUILD
    if wait_for_window "確認" 10; then
      pass "the rebuild button works while a job runs"
      probe press "確認" 7 >/dev/null  # No
      wait_gone "確認" 5
    else
      fail "the rebuild button works while a job runs"
    fi
    sleep 3  # about 15 timer ticks
    check "the progress dialog stays above the main window" \
      test "$(probe above "サーバー接続中" "$main_title")" = yes
    screenshot progress-dialog-after-question
    click_control "サーバー接続中" 1
    cancel_start=$(date +%s%N)
    wait_gone "サーバー接続中" 5
    cancel_ms=$((($(date +%s%N) - cancel_start) / 1000000))
    note "dialog gone ${cancel_ms} ms after the cancel click"
    check "cancel closes the dialog at once" test "$cancel_ms" -lt 1000
    sleep 3
    check "no log is written after the cancel" test "$(fixture logs "$work")" = 0
    check "no message is retrieved after the cancel" bash -c '! grep -q "^RETR" "$1"' _ "$out/stall.log"
    check "the window still answers after the cancel" wait_for_window "$main_title" 2
    gdi_idle_after_one=$(gdi_count)

    # A second, longer job: the object count must not grow with the ticks.
    if run_stalled_job; then
      pass "after the cancelled worker ended, a new job starts"
      sleep 8  # about 30 more ticks
      click_control "サーバー接続中" 1
      wait_gone "サーバー接続中" 5
      sleep 1
      gdi_idle_after_two=$(gdi_count)
      note "GDI objects: idle $gdi_idle_before, after one job $gdi_idle_after_one, after two $gdi_idle_after_two"
      check "no GDI object is left behind per job or per tick" \
        test -n "$gdi_idle_after_two" -a "$gdi_idle_after_two" = "$gdi_idle_after_one"
    else
      fail "after the cancelled worker ended, a new job starts"
    fi

    # Esc in the dialog cancels the job as its button does.
    sleep 3  # the cancelled worker ends
    if run_stalled_job; then
      xdotool key Escape
      if wait_gone "サーバー接続中" 5; then
        pass "Esc in the progress dialog closes it"
      else
        fail "Esc in the progress dialog closes it"
        click_control "サーバー接続中" 1
        wait_gone "サーバー接続中" 5
      fi
      sleep 2
      check "no message is retrieved after Esc" bash -c '! grep -q "^RETR" "$1"' _ "$out/stall.log"
      check "no log is written after Esc" test "$(fixture logs "$work")" = 0
      check "the window still answers after Esc" wait_for_window "$main_title" 2
    else
      fail "a job for the Esc case starts"
    fi

    # A job of the command-line tool holds the folder: the receive button
    # says so instead of doing nothing.
    # The tool is started again while it is refused for the window's own
    # cancelled worker, which may not have ended yet.
    connects=$(grep -c CONNECT "$out/stall.log")
    cli_pid=
    deadline=$((SECONDS + 20))
    while [ $SECONDS -lt $deadline ] && [ "$(grep -c CONNECT "$out/stall.log")" -le "$connects" ]; do
      if [ -z "$cli_pid" ] || ! kill -0 "$cli_pid" 2>/dev/null; then
        (cd "$work" && exec wine "$bin/larkspur-cli.exe" receive >/dev/null 2>&1) &
        cli_pid=$!
      fi
      sleep 0.2
    done
    click 290 261
    if wait_for_window "注意" 10; then
      refusal=$(probe text "注意" 65535)  # a message box's text control
      check "a receive refused for another process's job says why" \
        test "${refusal#*受信処理が実行中です}" != "$refusal"
      screenshot receive-refused-notice "注意"
      probe press "注意" 1 >/dev/null
      wait_gone "注意" 5
      check "a refused receive opens no progress dialog" test "$(window_count "サーバー接続中")" = 0
    else
      fail "a receive refused for another process's job says why"
    fi
    kill "$cli_pid" 2>/dev/null
    wait "$cli_pid" 2>/dev/null
  else
    fail "a job stalled in its scan shows メールボックスを検索中・・・"
  fi
  stop_app
  check "the program ends with 0 after cancelled jobs" test $? = 0
else
  fail "the cancel test starts (server and window)"
fi

echo
echo "screen shots: $shots"
echo "gui: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

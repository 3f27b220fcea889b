#!/usr/bin/env bash
# The settings dialog cases; started by run.sh inside xvfb-run.
# $1 = build folder, $2 = the probe executable.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$1
probe_exe=$2
bin=$build/bin
out=$build/gui-dialogs
shots=$build/gui-screenshots
mkdir -p "$out" "$shots"

IM=/usr/bin  # ImageMagick (/usr/local/bin/convert is something else)

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   - $*"; }
fail() { failed=$((failed + 1)); echo "FAIL - $*"; }
expect() {  # expect DESCRIPTION ACTUAL EXPECTED
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1"; echo "       got:      [$2]"; echo "       expected: [$3]"; fi
}
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# -------------------------------------------------------------------- helpers
P() { wine "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; }
files() { python3 "$here/files.py" "$@"; }

count() { P count "$1"; }
wait_window() {  # wait_window TITLE [SECONDS]
  local deadline=$((SECONDS + ${2:-10}))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(count "$1")" != 0 ] && [ -n "$(count "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}
wait_gone() {  # wait_gone TITLE [SECONDS]
  local deadline=$((SECONDS + ${2:-10}))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(count "$1")" = 0 ] && return 0
    sleep 0.1
  done
  return 1
}
# Stays away for SECONDS: for what must not appear.
stays_away() {  # stays_away TITLE SECONDS
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(count "$1")" != 0 ] && return 1
    sleep 0.2
  done
  return 0
}
click_at() { xdotool mousemove "$1" "$2" click 1; sleep 0.15; }
click_control() {  # click_control TITLE ID
  local x y w h
  read -r x y w h <<<"$(P control "$1" "$2")" || return 1
  [ -n "$h" ] || return 1
  click_at $((x + w / 2)) $((y + h / 2))
}
click_line() {  # click_line TITLE LIST_BOX_ID INDEX
  local x y
  read -r x y <<<"$(P line "$1" "$2" "$3")" || return 1
  [ -n "$y" ] || return 1
  click_at "$x" "$y"
}
paste_into() {  # paste_into TITLE ID TEXT: replaces the edit's text by Ctrl+V
  P clipboard "$3" || return 1
  click_control "$1" "$2" || return 1
  xdotool key --delay 30 End shift+Home BackSpace ctrl+v
  sleep 0.1
}
type_into() {  # type_into TITLE ID TEXT: replaces the edit's text by typing
  click_control "$1" "$2" || return 1
  xdotool key --delay 30 End shift+Home BackSpace
  [ -z "$3" ] || xdotool type --delay 25 "$3"
  sleep 0.1
}
key() { xdotool key "$1"; sleep 0.3; }
items() { P items "$1" "$2" | paste -sd '|'; }
line_index() {  # line_index TITLE ID TEXT: the 0-based index of that line
  P items "$1" "$2" | grep -n -x -F "$3" | head -1 | cut -d: -f1 | awk '{print $1 - 1}'
}
text() { P text "$1" "$2"; }

# The message box under CAPTION: its text and buttons, as the probe shows them
# ("TEXT/buttons 1"); empty when none appears.
message() {  # message CAPTION
  wait_window "$1" 5 || { echo ""; return; }
  P message "$1" | paste -sd '/'
}
# Answers the message box under CAPTION with button ID (1 OK, 6 Yes, 7 No).
answer() {  # answer CAPTION ID
  click_control "$1" "$2" && wait_gone "$1" 5
}
# One message box: caption, text and buttons checked, its owner checked, then
# answered with ANSWER; with SHOT, a screen shot of it first.
expect_message() {  # expect_message DESCRIPTION OWNER CAPTION TEXT BUTTONS ANSWER [SHOT]
  local got
  got=$(message "$3")
  expect "$1: \"$3\" box" "$got" "$4/buttons $5"
  if [ -n "$got" ]; then
    expect "$1: box owned by $2" "$(P owner "$3")" "$2"
    [ $# -lt 7 ] || screenshot "$7" "$3"
    answer "$3" "$6" || fail "$1: box does not close"
  fi
}

screenshot() {  # screenshot NAME TITLE: the window with its frame and caption
  local x y w h
  read -r x y w h _ <<<"$(P window "$2")"
  "$IM/import" -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$1.png" 2>/dev/null
}

# Pixels of the main window's list panel on the light green ground of a list
# with new mail, from a fresh screen shot.
green_pixels() {
  local cx cy
  read -r _ _ _ _ _ _ cx cy <<<"$(P window "$main_title")"
  "$IM/import" -window root -crop "360x200+$((cx + 115))+$((cy + 25))" +repage "$out/panel.png" 2>/dev/null
  "$IM/convert" "$out/panel.png" -format %c histogram:info:- |
    awk 'toupper($3) == "#58F791" { sub(":", "", $1); n += $1 } END { print n + 0 }'
}

main_title="Larkspur Free!"
app_pid=
start_app() {  # start_app FOLDER
  (cd "$1" && exec wine "$bin/larkspur.exe" >/dev/null 2>&1) &
  app_pid=$!
  wait_window "$main_title" 60 || return 1
  sleep 0.5
}
stop_app() {  # closes the main window, which ends the program
  P close "$main_title" >/dev/null
  if ! wait_gone "$main_title" 5; then kill "$app_pid" 2>/dev/null; fi
  wait "$app_pid" 2>/dev/null
  app_pid=
}
open_dialog() {  # open_dialog BUTTON_ID TITLE
  click_control "$main_title" "$1" && wait_window "$2" 10
}

# Texts the program shows, as UTF-8.
NOTICE="お知らせ"
CAUTION="注意"
CONFIRM="確認"
FAILURE="失敗"
FILL_EVERY_FIELD="全てに入力してください。"
NOTHING_SELECTED="リストからアカウントは選択されていません。"

# ======================================================== the account dialog
account_cases() {
  POP="POP3の設定"
  folder=$out/account
  rm -rf "$folder"
  mkdir -p "$folder"
  echo "# account dialog (I_POP_DIALOG)"
  if start_app "$folder" && open_dialog 103 "$POP"; then
    pass "the POP button opens \"$POP\""
    expect "account dialog owned by the main window" "$(P owner "$POP")" "$main_title"
    expect "account dialog: caption and modal frame, no system menu" \
      "$(printf '%08x' $((0x$(P style "$POP") & 0x80CF00C0)))" "80c000c0"
    P layout "$POP" >"$out/layout-pop.txt"
    check "account dialog: controls, texts and rectangles as laid out" \
      files check-layout 242 230 "$here/layout-pop.txt" <"$out/layout-pop.txt"
    expect "no account: empty list box" "$(items "$POP" 3)" ""
    expect "both extended-mail boxes start unchecked" "$(P checked "$POP" 14)$(P checked "$POP" 16)" "00"

    # Three fields typed, the password left out: refused, the fields stay.
    # The server field takes the TLS form (pop3s://) as it is.
    type_into "$POP" 4 "myacct"
    type_into "$POP" 5 "pop3s://pop.example.jp"
    type_into "$POP" 6 "user1"
    click_control "$POP" 8
    expect_message "empty password" "$POP" "$CAUTION" "$FILL_EVERY_FIELD" 1 1
    expect "refusal keeps the typed fields" "$(text "$POP" 4)|$(text "$POP" 5)|$(text "$POP" 6)" \
      "myacct|pop3s://pop.example.jp|user1"
    expect "refusal writes no record" "$(ls "$folder/pop3mail" 2>/dev/null)" ""

    # A name the file system refuses, and a character Shift_JIS cannot hold:
    # each is said so, nothing is written, and every field stays as typed.
    type_into "$POP" 4 "my:acct"
    type_into "$POP" 7 "secret"
    click_control "$POP" 8
    got=$(message "$CAUTION")
    check "a refused account name is said so" test "${got#このアカウント名はファイル名に使えません。}" != "$got"
    [ -z "$got" ] || answer "$CAUTION" 1 || fail "refused name: box does not close"
    expect "refused name keeps every field, the password too" \
      "$(text "$POP" 4)|$(text "$POP" 5)|$(text "$POP" 6)|$(text "$POP" 7)" \
      "my:acct|pop3s://pop.example.jp|user1|secret"
    type_into "$POP" 4 "myacct"
    paste_into "$POP" 5 "pop.example.jp😀"
    click_control "$POP" 8
    expect_message "a server name Shift_JIS cannot hold" "$POP" "$CAUTION" \
      "「POP3サーバー名」にShift_JISで保存できない文字が含まれています。\\nその文字を除いてから、もう一度どうぞ。" 1 1
    expect "neither refusal writes a record" "$(ls "$folder/pop3mail" 2>/dev/null)" ""
    expect "the unwritable text stays for correction" "$(text "$POP" 5)" "pop.example.jp😀"
    type_into "$POP" 5 "pop3s://pop.example.jp"
    type_into "$POP" 7 ""

    type_into "$POP" 7 'pa$s w0rd'
    screenshot account-dialog-typed "$POP"
    click_control "$POP" 8
    check "registration shows no message" stays_away "$CAUTION" 1
    expect "record written byte for byte" "$(files show-account "$folder" myacct)" \
      '1028|myacct|pop3s://pop.example.jp|user1|pa$s w0rd|0'
    expect "new fields emptied after registration" \
      "$(text "$POP" 4)|$(text "$POP" 5)|$(text "$POP" 6)|$(text "$POP" 7)" "|||"
    expect "list box refilled with the account" "$(items "$POP" 3)" "myacct"

    # A second account, even with every field empty: the one-account notice.
    click_control "$POP" 8
    expect_message "second account" "$POP" "$NOTICE" \
      "現バージョンで作成できるアカウントは最大１個です。\\n\\n変更する場合は一度削除してください。" 1 1 \
      account-one-account-notice
    type_into "$POP" 4 "other"
    click_control "$POP" 8
    expect_message "second account with a name typed" "$POP" "$NOTICE" \
      "現バージョンで作成できるアカウントは最大１個です。\\n\\n変更する場合は一度削除してください。" 1 1
    expect "one-account refusal keeps the field" "$(text "$POP" 4)" "other"
    click_control "$POP" 16
    click_control "$POP" 9
    expect "クリア empties the new fields and unticks the box" \
      "$(text "$POP" 4)|$(P checked "$POP" 16)" "|0"

    # Delete with no line selected.
    click_control "$POP" 10
    expect_message "delete without selection" "$POP" "$NOTICE" "$NOTHING_SELECTED" 1 1
    click_control "$POP" 15
    expect_message "変更 without selection" "$POP" "$NOTICE" "$NOTHING_SELECTED" 1 1

    # Selecting shows the record in the left group.
    click_line "$POP" 3 0
    expect "selection shows server, user and password" \
      "$(text "$POP" 11)|$(text "$POP" 12)|$(text "$POP" 13)" 'pop3s://pop.example.jp|user1|pa$s w0rd'
    expect "selection shows extended mail off" "$(P checked "$POP" 14)" "0"
    screenshot account-dialog-selected "$POP"

    # Extended mail on and off again for the registered account, with no
    # password typed: only the options bytes change, then none at all.
    record=$folder/pop3mail/myacct.stf
    cp "$record" "$out/myacct-before.stf"
    click_control "$POP" 14
    click_control "$POP" 15
    check "変更 shows no message" stays_away "$FAILURE" 1
    expect "変更 sets the bit" "$(files show-account "$folder" myacct)" \
      '1028|myacct|pop3s://pop.example.jp|user1|pa$s w0rd|1'
    expect "変更 leaves every other byte" "$(cmp -l "$out/myacct-before.stf" "$record" | awk '{print $1}')" "1025"
    click_line "$POP" 3 0
    expect "the account is shown with extended mail on" "$(P checked "$POP" 14)" "1"
    screenshot account-dialog-extended "$POP"
    click_control "$POP" 14
    click_control "$POP" 15
    check "turned off, the record is the one first written" cmp -s "$out/myacct-before.stf" "$record"
    expect "turned off, the box shows it" "$(P checked "$POP" 14)" "0"

    # Deletion: No keeps the record, Yes deletes it.
    click_control "$POP" 10
    expect_message "delete, answered No" "$POP" "$CONFIRM" "本当に削除してもよろしいですか？" "6 7" 7
    check "No keeps the record" test -f "$folder/pop3mail/myacct.stf"
    click_line "$POP" 3 0
    click_control "$POP" 10
    expect_message "delete, answered Yes" "$POP" "$CONFIRM" "本当に削除してもよろしいですか？" "6 7" 6
    check "Yes deletes the record" test ! -e "$folder/pop3mail/myacct.stf"
    expect "after deletion: list box and shown fields empty" \
      "$(items "$POP" 3)#$(text "$POP" 11)|$(text "$POP" 12)|$(text "$POP" 13)" "#||"

    # A new account with the box ticked.
    type_into "$POP" 4 "ext"
    type_into "$POP" 5 "pop.example.jp"
    type_into "$POP" 6 "user2"
    type_into "$POP" 7 "pw"
    click_control "$POP" 16
    screenshot account-dialog-new-extended "$POP"
    click_control "$POP" 8
    expect "ticked at registration: the bit is set" "$(files show-account "$folder" ext)" \
      "1028|ext|pop.example.jp|user2|pw|1"
    expect "registration unticks the new box" "$(P checked "$POP" 16)" "0"
    click_line "$POP" 3 0
    expect "the new account shows extended mail on" "$(P checked "$POP" 14)" "1"
    click_control "$POP" 10
    expect_message "delete the extended account" "$POP" "$CONFIRM" "本当に削除してもよろしいですか？" "6 7" 6
    expect "deletion unticks the shown box" "$(P checked "$POP" 14)" "0"

    # Enter does nothing; Escape is "完了".
    click_control "$POP" 4
    key Return
    check "Enter leaves the account dialog open" test "$(count "$POP")" = 1
    key Escape
    check "Escape closes the account dialog" wait_gone "$POP" 5
  else
    fail "the POP button opens \"$POP\""
  fi
  stop_app
}

# =========================================================== the list dialog
list_cases() {
  LK="リストの作成"
  folder=$out/lists
  rm -rf "$folder"
  mkdir -p "$folder"
  echo "# list dialog (I_LK_DIALOG)"
  # 26 lists, one with a Japanese name and one with unseen mail: the test
  # registers the 29th and the 30th.
  for i in $(seq -w 1 26); do files list "$folder" "list$i" "[l$i]" 1 0; done
  files list "$folder" "週刊テスト" "【週刊】" 0 0
  files list "$folder" "marked" "[m]" 1 1
  # Lists with a page are shown in the main window's panel.
  for name in 週刊テスト marked list01; do
    mkdir -p "$folder/LKset/$name/web"
    printf 'page\n' >"$folder/LKset/$name/web/index.htm"
  done
  # list03 has logs, pages and a folder made by hand.
  mkdir -p "$folder/LKset/list03/web" "$folder/LKset/list03/handmade"
  files log "$folder" list03 19990505090503_1.log "[l03] one"
  printf 'page\n' >"$folder/LKset/list03/web/index.htm"
  printf 'menu\n' >"$folder/LKset/list03/web/menu.htm"
  printf 'keep\n' >"$folder/LKset/list03/handmade/keep.txt"
  # Presentation order: the reverse of the directory order (names compared
  # upper-cased; the Japanese name sorts last).
  expected_lists="週刊テスト|marked|$(seq -w 26 -1 1 | sed 's/^/list/' | paste -sd '|')"
  start_app "$folder"
  check "before: the panel shows the marked list" test "$(green_pixels)" -gt 0
  screenshot main-before-list-dialog "$main_title"
  if open_dialog 104 "$LK"; then
    pass "the LIST button opens \"$LK\""
    expect "list dialog owned by the main window" "$(P owner "$LK")" "$main_title"
    expect "list dialog: caption and modal frame, no system menu" \
      "$(printf '%08x' $((0x$(P style "$LK") & 0x80CF00C0)))" "80c000c0"
    P layout "$LK" >"$out/layout-lk.txt"
    check "list dialog: controls, texts and rectangles as laid out" \
      files check-layout 241 186 "$here/layout-lk.txt" <"$out/layout-lk.txt"
    expect "list box in presentation order" "$(items "$LK" 5)" "$expected_lists"
    expect "both boxes start unchecked" "$(P checked "$LK" 100)$(P checked "$LK" 200)" "00"

    # Refused names.
    refused="/.:,;*?<>|”は使えません。"
    for name in a.b x:y; do
      type_into "$LK" 3 "$name"
      type_into "$LK" 4 "[r]"
      click_control "$LK" 9
      expect_message "name $name" "$LK" "$CAUTION" "$refused" 1 1 "list-refused-name-${name/:/-}"
      check "name $name: no record, no folder" \
        test ! -e "$folder/LKset/$name.stf" -a ! -e "$folder/LKset/$name"
      expect "name $name: the typed fields stay" "$(text "$LK" 3)|$(text "$LK" 4)" "$name|[r]"
    done
    click_control "$LK" 7
    expect "クリア empties the new fields" "$(text "$LK" 3)|$(text "$LK" 4)" "|"

    # Empty search text.
    type_into "$LK" 3 "newlist"
    click_control "$LK" 9
    expect_message "empty search text" "$LK" "$CAUTION" "$FILL_EVERY_FIELD" 1 1
    check "empty search text writes nothing" test ! -e "$folder/LKset/newlist.stf"

    # The 29th list, with a Japanese name and search text typed through the
    # clipboard; ソ and 表 end in the byte of a backslash and are no refused
    # characters. Mail is deleted from the server (box unchecked).
    paste_into "$LK" 3 "ソフト表"
    paste_into "$LK" 4 "【ソフト】"
    click_control "$LK" 9
    check "Japanese name: registration shows no message" stays_away "$CAUTION" 1
    expect "Japanese name: record, mail deleted from the server" \
      "$(files show-list "$folder" "ソフト表")" "320|【ソフト】|1|0|0"
    check "Japanese name: list folder made" test -d "$folder/LKset/ソフト表"
    expected_lists=$(echo "$expected_lists" | sed 's/^週刊テスト|/週刊テスト|ソフト表|/')
    expect "Japanese name: in the list box" "$(items "$LK" 5)" "$expected_lists"

    # The 30th list, leaving mail on the server.
    type_into "$LK" 3 "newlist"
    type_into "$LK" 4 "[news]"
    click_control "$LK" 200
    click_control "$LK" 9
    check "registration shows no message" stays_away "$CAUTION" 1
    expect "record: search text, kept on the server, no mail" \
      "$(files show-list "$folder" newlist)" "320|[news]|0|0|0"
    check "list folder made" test -d "$folder/LKset/newlist"
    expect "new fields and box cleared" "$(text "$LK" 3)|$(text "$LK" 4)|$(P checked "$LK" 200)" "||0"
    expect "list box refilled with the new list" "$(items "$LK" 5)" \
      "$(echo "$expected_lists" | sed 's/|marked|/|newlist|marked|/')"

    # 30 lists: the limit, whatever is typed.
    click_control "$LK" 9
    expect_message "31st list, fields empty" "$LK" "$CAUTION" "現バージョンではこれ以上登録できません。" 1 1
    type_into "$LK" 3 "extra"
    type_into "$LK" 4 "[x]"
    click_control "$LK" 9
    expect_message "31st list" "$LK" "$CAUTION" "現バージョンではこれ以上登録できません。" 1 1
    check "the limit writes nothing" test ! -e "$folder/LKset/extra.stf"
    expect "the limit keeps the typed fields" "$(text "$LK" 3)|$(text "$LK" 4)" "extra|[x]"
    screenshot list-dialog "$LK"

    # Selecting and changing "marked": search text and box shown, the change
    # replaces the record and clears its mark.
    click_line "$LK" 5 "$(line_index "$LK" 5 marked)"
    expect "selection shows the search text, box clear (mail deleted)" \
      "$(text "$LK" 2)|$(P checked "$LK" 100)" "[m]|0"
    type_into "$LK" 2 "[m2]"
    click_control "$LK" 100
    click_control "$LK" 11
    expect_message "change, answered No" "$LK" "$CONFIRM" "上書きして保存します。\\nよろしいですか？" "6 7" 7
    expect "No keeps the record" "$(files show-list "$folder" marked)" "320|[m]|1|1|0"
    click_control "$LK" 11
    expect_message "change, answered Yes" "$LK" "$CONFIRM" "上書きして保存します。\\nよろしいですか？" "6 7" 6
    expect "change writes the whole record, mark cleared" \
      "$(files show-list "$folder" marked)" "320|[m2]|0|0|0"
    click_line "$LK" 5 0
    expect "Japanese list selected: its search text, box checked" \
      "$(text "$LK" 2)|$(P checked "$LK" 100)" "【週刊】|1"

    # Deleting list03: its files and empty folders go, the folder made by hand
    # (and so the list folder) stays, the record goes.
    click_line "$LK" 5 "$(line_index "$LK" 5 list03)"
    click_control "$LK" 6
    expect_message "delete list03" "$LK" "$CONFIRM" \
      "このマガジンの受信した内容も全て削除されます。\\n本当に削除してもよろしいですか？" "6 7" 6 \
      list-delete-confirmation
    check "list03: record deleted" test ! -e "$folder/LKset/list03.stf"
    check "list03: log and pages deleted, web folder removed" \
      test ! -e "$folder/LKset/list03/19990505090503_1.log" -a ! -e "$folder/LKset/list03/web"
    check "list03: hand-made subfolder survives" test -f "$folder/LKset/list03/handmade/keep.txt"
    expect "list03 gone from the list box" "$(P items "$LK" 5 | grep -c '^list03$')" "0"
    expect "selected fields cleared" "$(text "$LK" 2)|$(P checked "$LK" 100)" "|0"
    click_control "$LK" 6
    expect_message "delete without selection" "$LK" "$NOTICE" "$NOTHING_SELECTED" 1 1

    # No cancel command: Escape and Enter do nothing; "完了" closes.
    click_control "$LK" 3
    key Escape
    key Return
    check "Escape and Enter leave the list dialog open" test "$(count "$LK")" = 1
    click_control "$LK" 8
    check "完了 closes the list dialog" wait_gone "$LK" 5
    sleep 0.3
    screenshot main-after-list-dialog "$main_title"
    check "after 完了 the panel shows no mark (the change cleared it)" test "$(green_pixels)" = 0
  else
    fail "the LIST button opens \"$LK\""
  fi
  stop_app
}

# ======================================================= the deletion dialog
log_cases() {
  DEL="ログの削除"
  folder=$out/logs
  rm -rf "$folder"
  mkdir -p "$folder"
  echo "# log deletion dialog (I_DEL_DIALOG)"
  files list "$folder" alpha "[a]" 1 0
  files list "$folder" beta "[b]" 1 0
  files log "$folder" alpha 19990505090501_1.log "[a] Vol.1"
  files log "$folder" alpha 19990505090502_2.log "[a] Vol.10"
  files log "$folder" alpha 19990505090503_3.log "[a] 第三号のお知らせ"
  files log "$folder" alpha 19990505090504_4.log "[a] Vol.1"
  files log "$folder" beta 19990505090505_5.log "[b] only"
  # A subject longer than the 254 bytes shown, cut inside a double-byte
  # character: it still names its log.
  long_subject="[b]$(printf 'あ%.0s' $(seq 150))"
  files log "$folder" beta 19990505090506_6.log "$long_subject"
  if start_app "$folder" && open_dialog 107 "$DEL"; then
    pass "the DELETE button opens \"$DEL\""
    expect "deletion dialog owned by the main window" "$(P owner "$DEL")" "$main_title"
    expect "deletion dialog: caption and modal frame, no system menu" \
      "$(printf '%08x' $((0x$(P style "$DEL") & 0x80CF00C0)))" "80c000c0"
    P layout "$DEL" >"$out/layout-del.txt"
    check "deletion dialog: controls, texts and rectangles as laid out" \
      files check-layout 287 338 "$here/layout-del.txt" <"$out/layout-del.txt"
    expect "lists in presentation order, no logs" "$(items "$DEL" 5)#$(items "$DEL" 4)" "beta|alpha#"

    # Enter (Clear) and Escape (Delete) do nothing: no notice, no rebuild later.
    click_line "$DEL" 5 1
    click_line "$DEL" 4 0
    key Return
    key Escape
    check "Enter and Escape leave the dialog open and show nothing" stays_away "$NOTICE" 1
    expect "Enter and Escape keep the lists and the logs" "$(items "$DEL" 5)#$(P selected "$DEL" 4)" \
      "beta|alpha#0"

    # The picture, copied at (302, 12) of the client area.
    read -r _ _ _ _ _ _ cx cy <<<"$(P window "$DEL")"
    "$IM/import" -window root -crop "183x77+$((cx + 302))+$((cy + 12))" +repage "$out/picture.png" 2>/dev/null
    "$IM/convert" "$here/../../../resources/app/DELBMP.bmp" "$out/delbmp.png"
    expect "DELBMP drawn whole at (302, 12)" \
      "$("$IM/compare" -metric AE "$out/picture.png" "$out/delbmp.png" null: 2>&1)" "0"

    # The logs of alpha, newest first; choosing a log and deleting by subject.
    click_line "$DEL" 5 1
    expect "alpha's logs by first line, newest first" "$(items "$DEL" 4)" \
      "[a] Vol.1|[a] 第三号のお知らせ|[a] Vol.10|[a] Vol.1"
    screenshot deletion-dialog "$DEL"
    click_control "$DEL" 2
    expect_message "Delete with no log selected" "$DEL" "$NOTICE" "削除するファイルが選択されていません。" 1 1
    "$IM/import" -window root -crop "183x77+$((cx + 302))+$((cy + 12))" +repage "$out/picture2.png" 2>/dev/null
    expect "DELBMP painted again after the notice" \
      "$("$IM/compare" -metric AE "$out/picture2.png" "$out/delbmp.png" null: 2>&1)" "0"
    click_line "$DEL" 4 0
    click_control "$DEL" 2
    check "deleting shows no message" stays_away "$FAILURE" 1
    expect "both logs titled [a] Vol.1 deleted, Vol.10 kept" "$(cd "$folder/LKset/alpha" && ls | paste -sd '|')" \
      "19990505090502_2.log|19990505090503_3.log"
    expect "log list refilled" "$(items "$DEL" 4)#$(P selected "$DEL" 4)" "[a] 第三号のお知らせ|[a] Vol.10#-1"
    click_control "$DEL" 2
    expect_message "second Delete" "$DEL" "$NOTICE" "削除するファイルが選択されていません。" 1 1

    # Choosing another list forgets the chosen log.
    click_line "$DEL" 4 0
    click_line "$DEL" 5 0
    expect "beta's logs shown, the long subject first" "$(P items "$DEL" 4 | sed -n 2p)#$(P items "$DEL" 4 | wc -l)" \
      "[b] only#2"
    click_control "$DEL" 2
    expect_message "Delete after choosing another list" "$DEL" "$NOTICE" \
      "削除するファイルが選択されていません。" 1 1
    check "beta's log kept" test -f "$folder/LKset/beta/19990505090505_5.log"
    click_line "$DEL" 4 0
    click_control "$DEL" 2
    check "deleting the long subject shows no message" stays_away "$FAILURE" 1
    expect "the log with the long subject deleted, the other kept" \
      "$(cd "$folder/LKset/beta" && ls | paste -sd '|')" "19990505090505_5.log"

    # Clear reloads the lists with nothing chosen.
    click_control "$DEL" 1
    expect "クリア: lists reloaded, nothing chosen, no logs" \
      "$(items "$DEL" 5)#$(P selected "$DEL" 5)#$(items "$DEL" 4)" "beta|alpha#-1#"

    # Done after Delete: the rebuild asks first.
    click_control "$DEL" 3
    check "完了 closes the deletion dialog" wait_gone "$DEL" 5
    got=$(message "$CONFIRM")
    check "after Delete, 完了 leads to the rebuild confirmation" test -n "$got"
    expect "rebuild confirmation owned by the main window" "$(P owner "$CONFIRM")" "$main_title"
    screenshot rebuild-confirmation "$CONFIRM"
    answer "$CONFIRM" 6
    check "the confirmed rebuild runs and reports" wait_window "$NOTICE" 15
    answer "$NOTICE" 1

    # Done without Delete: no rebuild.
    if open_dialog 107 "$DEL"; then
      click_line "$DEL" 5 1
      click_line "$DEL" 4 0
      click_control "$DEL" 3
      check "完了 without Delete closes the dialog" wait_gone "$DEL" 5
      check "完了 without Delete runs no rebuild" stays_away "$CONFIRM" 2
    else
      fail "the deletion dialog opens a second time"
    fi
  else
    fail "the DELETE button opens \"$DEL\""
  fi
  stop_app
}

# No list registered: the notice, then an empty dialog.
no_list_cases() {
  folder=$out/nolists
  rm -rf "$folder"
  mkdir -p "$folder"
  if start_app "$folder"; then
    click_control "$main_title" 107
    got=$(message "$NOTICE")
    expect "no list records: notice" "$got" "登録リストファイルを読み込めません。/buttons 1"
    answer "$NOTICE" 1
    if wait_window "$DEL" 5; then
      expect "no list records: both list boxes empty" "$(items "$DEL" 5)#$(items "$DEL" 4)" "#"
      click_control "$DEL" 3
      wait_gone "$DEL" 5
      check "no list records, no Delete: no rebuild" stays_away "$CONFIRM" 1
    else
      fail "no list records: the dialog opens after the notice"
    fi
  fi
  stop_app
}

# DIALOG_CASES picks some of the groups (all by default).
for group in ${DIALOG_CASES:-account list log no_list}; do
  "${group}_cases"
done

echo "dialogs: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Runs the POP3 client against a real dovecot: starts dovecot as an ordinary
# process on 127.0.0.1 and a free high port with the sample Maildir of
# tests/dovecot/messages, runs the given test program against it, stops it
# and checks that the message the test deleted is gone from the Maildir.
#
#   tests/dovecot/run-test.sh BUILD/bin/retrieval_dovecot_test
#   tests/dovecot/run-test.sh --tls [--emulator CMD --trust-tool EXE] PROGRAM
#
# --tls: certificates are made for the run (make-certs.sh) and dovecot also
# speaks TLS (dovecot-tls.conf.in): implicit TLS on a second port, STLS on
# the plain one. The test CA is trusted through SSL_CERT_FILE; a Windows
# program (run through --emulator, normally scripts/wine-run) trusts it
# through the CurrentUser ROOT store, where --trust-tool puts it for the run.
# The TLS test keeps every message on the server; the script checks instead
# that no user named "never-..." reached dovecot's authentication and that
# the good logins went over TLS.
#
# --own-mailbox: the Maildir starts empty; the test fills it itself (its path
# is in LARKSPUR_DOVECOT_MAILDIR, messages go into its new/ folder) and checks
# what is left itself.
#
# Exit 77 (ctest: skipped) when dovecot is not installed. LARKSPUR_SHOW_LOG=1
# prints dovecot's log also after a passing run.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tls=0
own_mailbox=0
emulator=()
trust_tool=
while [ $# -gt 1 ]; do
  case $1 in
    --tls) tls=1; shift ;;
    --own-mailbox) own_mailbox=1; shift ;;
    --emulator) emulator=("$2"); shift 2 ;;
    --trust-tool) trust_tool=$2; shift 2 ;;
    *) break ;;
  esac
done
test_program=${1:?usage: run-test.sh [--tls [--emulator CMD --trust-tool EXE]] TEST_PROGRAM}
dovecot=${DOVECOT:-/usr/sbin/dovecot}

if [ ! -x "$dovecot" ]; then
  echo "SKIP: $dovecot is not installed (Debian package dovecot-pop3d)"
  exit 77
fi

dir=$(mktemp -d /tmp/larkspur-dovecot.XXXXXX)
chmod 755 "$dir"
pid=
trusted=0
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  if [ "$trusted" = 1 ]; then "${emulator[@]}" "$trust_tool" remove >/dev/null 2>&1; fi
  rm -rf "$dir"
}
trap cleanup EXIT

# As root, the mail and login processes need ordinary users; otherwise
# everything runs as the calling user.
if [ "$(id -u)" = 0 ]; then
  mail_user=nobody
  internal_user=$(id -u dovecot >/dev/null 2>&1 && echo dovecot || echo nobody)
  login_user=$(id -u dovenull >/dev/null 2>&1 && echo dovenull || echo nobody)
else
  mail_user=$(id -un)
  internal_user=$mail_user
  login_user=$mail_user
fi
uid=$(id -u "$mail_user")
gid=$(id -g "$mail_user")

maildir="$dir/mail/larkspur"
mkdir -p "$maildir/cur" "$maildir/new" "$maildir/tmp" "$dir/home"
n=0
for file in "$here"/messages/*.eml; do
  [ "$own_mailbox" = 1 ] && break
  n=$((n + 1))
  cp "$file" "$maildir/cur/$((1700000000 + n)).M${n}P1.larkspur:2,"
done
chown -R "$uid:$gid" "$dir/mail" "$dir/home"
echo "larkspur:{PLAIN}sekret:$uid:$gid::$dir/home::" > "$dir/passwd"

if [ "$tls" = 1 ]; then
  "$here/make-certs.sh" "$dir/tls" || { echo "FAIL: no test certificates"; exit 1; }
fi

started=0
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  tls_port=$((port + 1))
  if [ "$tls" = 1 ]; then
    # auth_verbose logs every authentication attempt with its user name.
    { grep -v '^ssl = no$' "$here/dovecot.conf.in"; echo "auth_verbose = yes"
      cat "$here/dovecot-tls.conf.in"; } > "$dir/dovecot.conf.in"
  else
    cp "$here/dovecot.conf.in" "$dir/dovecot.conf.in"
  fi
  sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$port|g" -e "s|@TLS_PORT@|$tls_port|g" \
      -e "s|@INTERNAL_USER@|$internal_user|g" -e "s|@LOGIN_USER@|$login_user|g" \
      "$dir/dovecot.conf.in" > "$dir/dovecot.conf"
  "$dovecot" -F -c "$dir/dovecot.conf" &
  pid=$!
  for _ in $(seq 50); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then started=1; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ "$started" = 1 ] && break
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
done
if [ "$started" != 1 ]; then
  echo "FAIL: dovecot did not start"; cat "$dir/dovecot.log" 2>/dev/null
  exit 1
fi
echo "dovecot $("$dovecot" --version) on 127.0.0.1:$port"

extra_env=()
if [ "$tls" = 1 ]; then
  extra_env=(LARKSPUR_DOVECOT_TLS_PORT="$tls_port" SSL_CERT_FILE="$dir/tls/ca.pem")
  if [ -n "$trust_tool" ]; then
    trusted=1
    "${emulator[@]}" "$trust_tool" add "Z:${dir//\//\\}\\tls\\ca.pem" ||
      { echo "FAIL: the test CA could not be trusted"; exit 1; }
  fi
fi
env "${extra_env[@]}" LARKSPUR_DOVECOT_MAILDIR="$maildir" LARKSPUR_DOVECOT_SERVER="127.0.0.1:$port" LARKSPUR_DOVECOT_USER=larkspur \
  LARKSPUR_DOVECOT_PASSWORD=sekret "${emulator[@]}" "$test_program"
result=$?

kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
if [ "$result" = 0 ] && [ "$tls" = 1 ]; then
  if grep -n "never-" "$dir/dovecot.log"; then
    echo "FAIL: a refused TLS session still sent its login"; result=1
  else
    # The TLS test receives once in clear text and three times over TLS,
    # each receive over three connections, all in the same mode.
    tls_logins=$(grep "Login: user=<larkspur>" "$dir/dovecot.log" | grep -c ", TLS,")
    plain_logins=$(grep "Login: user=<larkspur>" "$dir/dovecot.log" | grep -vc ", TLS,")
    if [ "$tls_logins" != 9 ] || [ "$plain_logins" != 3 ]; then
      echo "FAIL: $tls_logins logins over TLS and $plain_logins without, expected 9 and 3"
      result=1
    fi
  fi
elif [ "$result" = 0 ] && [ "$own_mailbox" = 0 ]; then
  left=$(find "$maildir/cur" "$maildir/new" -type f | wc -l)
  if [ "$left" != $((n - 1)) ]; then
    echo "FAIL: $left messages left in the Maildir, expected $((n - 1))"; result=1
  elif grep -rl "Plain ASCII notice" "$maildir/cur" "$maildir/new" >/dev/null; then
    echo "FAIL: the deleted message is still in the Maildir"; result=1
  fi
fi
[ "$result" = 0 ] && [ -n "${LARKSPUR_SHOW_LOG:-}" ] && cat "$dir/dovecot.log"
[ "$result" = 0 ] || { echo "--- dovecot.log"; cat "$dir/dovecot.log"; }
exit "$result"

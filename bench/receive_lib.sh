# Sourced by the receive benchmarks (not executable, so bench/run does not
# run it). Dovecot as an ordinary process on a free loopback port, as the
# dovecot protocol test starts it, serving the user "bench" (password
# "sekret") one Maildir; and the median of timings.
#
#   bench_dovecot_start DIR [tls]   start it; every file under DIR
#   bench_dovecot_stop              stop it (for the caller's EXIT trap)
#   bench_fill_maildir FOLDER RUN   empty the Maildir and put every FOLDER/*.eml
#                                   in it, in name order (RUN: new file names)
#   bench_median T...               the median of the numbers, 2 decimals
#   bench_set_aside PATH            move PATH out of the way (see below)
#   bench_discard DIR               remove DIR, or leave it to bench/run
#
# bench_dovecot_start sets $bench_aside (DIR/aside), $maildir (DIR/mail/bench, empty, owned by
# $uid:$gid), $port, and $tls (1 when "tls" was asked for and
# the certificates could be made: POP3 inside TLS on $tls_port, the CA in
# DIR/tls/ca.pem). It exits 77 when dovecot is not installed, 1 when it does
# not start.
# What a run leaves is set aside under DIR/aside, not deleted, and goes with
# DIR at the end. On ext4 without a journal a new file skips, one by one,
# every inode of its group freed in the last minutes: thousands of files
# deleted just before a timed run would make each file that run creates cost
# more, which no reader's receive pays.
bench_set_aside() {
  [ -e "$1" ] || return 0
  mkdir -p "$bench_aside"
  mv "$1" "$(mktemp -d "$bench_aside/XXXXXX")/"
}
# bench/run removes, once every benchmark is done, what each left in
# $LARKSPUR_BENCH_TRASH, so that no benchmark runs just after another one
# deleted its thousands of files.
bench_discard() {
  if [ -n "${LARKSPUR_BENCH_TRASH:-}" ] && [ -d "$LARKSPUR_BENCH_TRASH" ]; then
    mv "$1" "$(mktemp -d "$LARKSPUR_BENCH_TRASH/XXXXXX")/"
  else
    rm -rf "$1"
  fi
}
bench_dovecot_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/dovecot" && pwd)
bench_dovecot_pid=

bench_dovecot_stop() {
  if [ -n "$bench_dovecot_pid" ]; then
    kill "$bench_dovecot_pid" 2>/dev/null || true
    wait "$bench_dovecot_pid" 2>/dev/null || true
    bench_dovecot_pid=
  fi
}

bench_dovecot_start() {
  local dir=$1 want_tls=${2:-} dovecot=${DOVECOT:-/usr/sbin/dovecot} tests=$bench_dovecot_tests
  local mail_user internal_user login_user attempt started=0
  [ -x "$dovecot" ] || { echo "bench: dovecot not installed" >&2; exit 77; }
  if [ "$(id -u)" = 0 ]; then
    mail_user=nobody
    internal_user=$(id -u dovecot >/dev/null 2>&1 && echo dovecot || echo nobody)
    login_user=$(id -u dovenull >/dev/null 2>&1 && echo dovenull || echo nobody)
  else
    mail_user=$(id -un); internal_user=$mail_user; login_user=$mail_user
  fi
  uid=$(id -u "$mail_user"); gid=$(id -g "$mail_user")
  maildir=$dir/mail/bench
  bench_aside=$dir/aside
  mkdir -p "$maildir/cur" "$maildir/new" "$maildir/tmp" "$dir/home"
  chown -R "$uid:$gid" "$dir/mail" "$dir/home"
  echo "bench:{PLAIN}sekret:$uid:$gid::$dir/home::" > "$dir/passwd"

  tls=0
  if [ "$want_tls" = tls ] && command -v openssl >/dev/null &&
     "$tests/make-certs.sh" "$dir/tls" >/dev/null 2>&1; then
    tls=1
  fi

  for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    tls_port=$((port + 1))
    if [ "$tls" = 1 ]; then
      { grep -v '^ssl = no$' "$tests/dovecot.conf.in"; cat "$tests/dovecot-tls.conf.in"; } \
        > "$dir/dovecot.conf.in"
    else
      cp "$tests/dovecot.conf.in" "$dir/dovecot.conf.in"
    fi
    sed -e "s|@DIR@|$dir|g" -e "s|@PORT@|$port|g" -e "s|@TLS_PORT@|$tls_port|g" \
        -e "s|@INTERNAL_USER@|$internal_user|g" -e "s|@LOGIN_USER@|$login_user|g" \
        "$dir/dovecot.conf.in" > "$dir/dovecot.conf"
    "$dovecot" -F -c "$dir/dovecot.conf" &
    bench_dovecot_pid=$!
    for _ in $(seq 50); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then started=1; break; fi
      kill -0 "$bench_dovecot_pid" 2>/dev/null || break
      sleep 0.1
    done
    [ "$started" = 1 ] && break
    bench_dovecot_stop
  done
  [ "$started" = 1 ] || { echo "bench: dovecot did not start" >&2; exit 1; }
}

bench_fill_maildir() {
  local file n=0
  rm -rf "$maildir"/cur/* "$maildir"/new/*
  for file in "$1"/*.eml; do
    n=$((n + 1))
    cp "$file" "$maildir/cur/$((1700000000 + n)).M${n}P$2.bench:2,"
  done
  chown -R "$uid:$gid" "$maildir"
}

bench_median() {
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {m=a[int((NR+1)/2)]; if (NR%2==0) m=(a[NR/2]+a[NR/2+1])/2; printf "%.2f", m}'
}

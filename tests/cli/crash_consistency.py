#!/usr/bin/env python3
"""Kills larkspur-cli at random moments of receive jobs that delete what they
store, then runs one receive to its end, and checks that nothing was lost or
damaged:

- every message the server deleted has its log;
- every record has its full size, every log holds its whole message;
- every log has exactly one page, whole, and exactly one link line;
- every web folder holds nothing but pages (no temporary file, no spare);
- the search index finds every log exactly once, as a fresh index does.

With --extended the account has extended mail handling and one list keeps
its mail on the server; then also:

- every message of a list has its log after the last receive;
- no message is stored more than once per kill.

With --import the same messages come as mbox files instead (a new file each
round, half the messages with Message-ID and Date, half without), and every
job is `import` of the whole folder of files, killed at random moments; then
also every message has its log and none is stored twice at all.

  crash_consistency.py PATH/TO/larkspur-cli PATH/TO/larkspur-pop3d [ROUNDS] [SEED] [--extended|--import]

Exits 0 on success, 1 with the first faults found, 77 when it cannot run.
"""
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

LISTS = {"D": "[crash]", "E": "[other]"}
KEEPING = {"E"}  # lists that keep their mail on the server (with --extended)
NEW_PER_ROUND = 2  # new messages per list and round
RECORD_SIZE = 320
PAGE_TAIL = b"</pre></body></HTML>\n"
SEED_MENU = b"<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n"


def run(cli, work, *args, timeout=60):
    return subprocess.run([cli, "-C", work, *args], capture_output=True, timeout=timeout)


def add_messages(mailbox, counter):
    """Adds NEW_PER_ROUND messages per list; returns the new counter."""
    for prefix in LISTS.values():
        for _ in range(NEW_PER_ROUND):
            counter += 1
            body = "\r\n".join("line %d of message %d" % (i, counter) for i in range(40))
            mail = ("From: crash@example.jp\r\nSubject: %s %04d\r\n\r\n"
                    "token-%04d\r\n%s\r\nend-of-%04d\r\n" % (prefix, counter, counter, body, counter))
            with open(os.path.join(mailbox, "m%04d.eml" % counter), "w") as f:
                f.write(mail)
    return counter


def add_mbox(folder, counter):
    """Adds NEW_PER_ROUND messages per list as one new mbox file (CR LF line
    ends); returns the new counter."""
    first = counter + 1
    text = ""
    for prefix in LISTS.values():
        for _ in range(NEW_PER_ROUND):
            counter += 1
            body = "\n".join("line %d of message %d" % (i, counter) for i in range(40))
            head = ("Message-ID: <%04d@crash.example.jp>\nDate: Mon, %d Jan 2024 10:%02d:00 +0000\n"
                    % (counter, 1 + counter // 60 % 28, counter % 60)) if counter % 2 else ""
            text += ("From crash@example.jp Mon Jan  1 00:00:00 2024\n%sFrom: crash@example.jp\n"
                     "Subject: %s %04d\n\ntoken-%04d\n%s\nend-of-%04d\n\n"
                     % (head, prefix, counter, counter, body, counter))
    with open(os.path.join(folder, "m%04d.mbox" % first), "wb") as f:
        f.write(text.replace("\n", "\r\n").encode())
    return counter


def check(work, mailbox, faults, extended=False, kills=0, counter=0, importing=False):
    lk = os.path.join(work, "LKset")
    for name in os.listdir(lk):
        if name.endswith(".stf"):
            size = os.path.getsize(os.path.join(lk, name))
            if size != RECORD_SIZE:
                faults.append("record %s has %d bytes" % (name, size))
    stored = set()
    duplicates = 0
    for list_name in LISTS:
        in_list = set()
        folder = os.path.join(lk, list_name)
        web = os.path.join(folder, "web")
        logs = sorted(n for n in os.listdir(folder) if n.endswith(".log"))
        try:
            with open(os.path.join(web, "menu.htm"), "rb") as f:
                menu = f.read()
        except OSError as error:
            faults.append("%s: no menu.htm (%s)" % (list_name, error))
            continue
        if not menu.startswith(SEED_MENU.split(b"\n")[0] + b"\n"):
            faults.append("%s: menu.htm lost its head line" % list_name)
        for log in logs:
            with open(os.path.join(folder, log), "rb") as f:
                data = f.read()
            token = re.search(rb"token-(\d{4})", data)
            if not token or (b"end-of-" + token.group(1)) not in data or b"\n\n\n" not in data:
                faults.append("%s/%s is not a whole log" % (list_name, log))
                continue
            number = int(token.group(1))
            stored.add(number)
            if number in in_list:
                duplicates += 1
            in_list.add(number)
            page = log[:-4] + ".htm"
            try:
                with open(os.path.join(web, page), "rb") as f:
                    if not f.read().endswith(PAGE_TAIL):
                        faults.append("%s/web/%s is torn" % (list_name, page))
            except OSError:
                faults.append("%s/%s has no page" % (list_name, log))
            links = menu.count(b"<A HREF=" + page.encode() + b" target=main>")
            if links != 1:
                faults.append("%s/%s has %d link lines" % (list_name, log, links))
        for name in os.listdir(web):
            if not name.lower().endswith(".htm") or name.startswith("~"):
                faults.append("%s/web holds %s" % (list_name, name))
        if extended:
            prefix_index = list(LISTS).index(list_name)
            for number in range(1, counter + 1):
                # add_messages numbers the lists' messages in turn.
                if (number - 1) // NEW_PER_ROUND % len(LISTS) == prefix_index and number not in in_list:
                    faults.append("message %d of %s has no log" % (number, list_name))
    if extended and duplicates > (0 if importing else kills):
        faults.append("%d messages stored twice after %d kills" % (duplicates, kills))
    deleted = os.path.join(mailbox, "deleted")
    for name in os.listdir(deleted) if os.path.isdir(deleted) else []:
        number = int(re.search(r"(\d{4})", name).group(1))
        if number not in stored:
            faults.append("message %d was deleted on the server but has no log" % number)


def check_index(cli, work, faults):
    """The search index after the last receive: "token-" (in every log) finds
    every log once, and the same words find the same as a fresh index."""
    logs = set()
    for list_name in LISTS:
        folder = os.path.join(work, "LKset", list_name)
        logs |= {"%s/%s" % (list_name, n[:-4]) for n in os.listdir(folder) if n.endswith(".log")}

    def found(folder, *words):
        out = run(cli, folder, "search", "--", *words).stdout.decode().splitlines()
        return [line.split("\t")[0] + "/" + line.split("\t")[2].rsplit("\\", 1)[-1][:-4] for line in out]

    every = found(work, "token-")
    if len(every) != len(set(every)) or set(every) != logs:
        faults.append("the index finds %d logs (%d distinct) of %d" % (len(every), len(set(every)), len(logs)))
    fresh = work + "-fresh"
    shutil.copytree(work, fresh)
    shutil.rmtree(os.path.join(fresh, "search"), ignore_errors=True)
    for words in (["token-"], ["line", "message"], ["end-of-0001"], ["crash"]):
        if sorted(found(work, *words)) != sorted(found(fresh, *words)):
            faults.append("the index answers %s otherwise than a fresh one" % " ".join(words))
    shutil.rmtree(fresh, ignore_errors=True)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    importing = "--import" in sys.argv
    extended = "--extended" in sys.argv or importing
    args = [arg for arg in sys.argv[1:] if arg not in ("--extended", "--import")]
    cli, pop3d = args[0], args[1]
    rounds = int(args[2]) if len(args) > 2 else 30
    seed = int(args[3]) if len(args) > 3 else int(time.time())
    rng = random.Random(seed)
    top = tempfile.mkdtemp(prefix="lkcrash.")
    work, mailbox = os.path.join(top, "work"), os.path.join(top, "mailbox")
    os.makedirs(os.path.join(work, "set"))
    os.makedirs(mailbox)
    with open(os.path.join(work, "set", "index.htm"), "wb") as f:
        f.write(b"<HTML>index</HTML>\n")
    with open(os.path.join(work, "set", "menu.htm"), "wb") as f:
        f.write(SEED_MENU)
    servers = []

    def serve():
        """(Re)starts the server over the mailbox as it is now, and points
        the account at it (the server reads its mailbox when it starts)."""
        for old in servers:
            old.kill()
            old.wait()
        servers.clear()
        server = subprocess.Popen([pop3d, "--mailbox", mailbox], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        servers.append(server)
        port = int(server.stdout.readline())
        run(cli, work, "account", "delete", "acct", "--yes")
        run(cli, work, "account", "add", "acct", "127.0.0.1:%d" % port, "u", "p",
            *(["--extended"] if extended else []))

    try:
        for name, search in LISTS.items():
            keep = ["--keep"] if extended and name in KEEPING else []
            run(cli, work, "list", "add", name, search, *keep)

        # An import reads the files in the mailbox folder; the server stays
        # empty (serve() still makes the account an import never needs).
        job_args = ["import", mailbox] if importing else ["receive"]
        add = add_mbox if importing else add_messages
        counter = add(mailbox, 0)
        serve()
        started = time.monotonic()
        first = run(cli, work, *job_args)
        duration = time.monotonic() - started
        if first.returncode != 0:
            print("FAIL: the first receive failed:", first.stderr.decode(errors="replace"))
            return 1
        # A receive leaves a missing index to the first search; later ones
        # keep it in step.
        run(cli, work, "search", "--", "token-")
        kills = 0
        for _ in range(rounds):
            counter = add(mailbox, counter)
            serve()
            job = subprocess.Popen([cli, "-C", work, *job_args],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            began = time.monotonic()
            time.sleep(rng.uniform(0, duration * 1.5))
            if job.poll() is None:
                job.send_signal(signal.SIGKILL)
                kills += 1
            elif importing:
                # Each import reads every file again: the kills follow the
                # longest job seen, so they land inside the work.
                duration = max(duration, time.monotonic() - began)
            job.wait()
        serve()
        last = run(cli, work, *job_args)
        faults = []
        if last.returncode != 0:
            faults.append("the last receive exited %d: %s" %
                          (last.returncode, last.stderr.decode(errors="replace").strip()))
        check(work, mailbox, faults, extended, kills, counter, importing)
        check_index(cli, work, faults)
        print("%sseed %d: %d rounds, %d killed mid-job, one job %.2f s" %
              ("import, " if importing else "extended, " if extended else "", seed, rounds, kills,
               duration))
        if faults:
            for fault in faults[:20]:
                print("FAIL:", fault)
            print("(work folder kept in %s)" % top)
            return 1
        shutil.rmtree(top, ignore_errors=True)
        print("PASS")
        return 0
    finally:
        for server in servers:
            server.kill()
            server.wait()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Fixtures of the receive benchmark.

  receive_fixture.py mail DIR          100 messages of about 8 KB, *.eml
  receive_fixture.py magazines DIR     1,000 such messages of 30 magazines,
                                       subjects "[Mag00] ..." to "[Mag29] ..."
  receive_fixture.py mbox FILE COUNT   COUNT such messages of the 30 magazines as
                                       one mbox (each with a Date a minute apart)
  receive_fixture.py lists DIR         a fresh working folder: the 30 magazine
                                       lists, no logs yet
  receive_fixture.py work DIR SERVER   a working folder: 30 lists holding
                                       1,000 logs each, with their pages,
                                       and the account for SERVER
"""
import base64
import os
import struct
import sys

LISTS = 30
LOGS_PER_LIST = 1000
MESSAGES = 100
MAGAZINE_MESSAGES = 1000
MESSAGE_BYTES = 8 * 1024


def sjis(text):
    return text.encode("cp932")


def jis(text):
    return text.encode("iso2022_jp")


def search_text(i):
    return "[bench%02d]" % i


def magazine_text(i):
    return "[Mag%02d]" % i


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_mail(folder, count=MESSAGES, tag=search_text):
    paragraph = [
        "今週のお知らせをお届けします。詳しくは下記のページをご覧ください。",
        "  https://bench.example.jp/news/%03d.html",
        "ご質問は support@bench.example.jp までお寄せください。",
        "",
    ]
    for n in range(count):
        subject = tag(n % LISTS) + " 新しい号 No.%03d" % n
        word = "=?ISO-2022-JP?B?" + base64.b64encode(jis(subject)).decode() + "?="
        head = ("From: bench@example.jp\r\nTo: reader@example.jp\r\n"
                "Subject: %s\r\nMessage-ID: <%d@bench.example.jp>\r\n"
                "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
                "Content-Transfer-Encoding: 7bit\r\n\r\n" % (word, n)).encode("ascii")
        body = b""
        while len(head) + len(body) < MESSAGE_BYTES:
            for line in paragraph:
                body += jis(line.replace("%03d", "%03d" % n)) + b"\r\n"
        write(os.path.join(folder, "%04d.eml" % n), head + body)


def magazine_message(n):
    """Message n of the magazine corpus (CR LF line ends, about 8 KB)."""
    paragraph = [
        "今週のお知らせをお届けします。詳しくは下記のページをご覧ください。",
        "  https://bench.example.jp/news/%03d.html",
        "ご質問は support@bench.example.jp までお寄せください。",
        "",
    ]
    subject = magazine_text(n % LISTS) + " 新しい号 No.%03d" % n
    word = "=?ISO-2022-JP?B?" + base64.b64encode(jis(subject)).decode() + "?="
    minute = n  # one issue a minute from 2020-01-01 00:00 UTC
    date = "%02d %s %d %02d:%02d:00 +0900" % (
        1 + minute // 1440 % 28, ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep",
                                  "Oct", "Nov", "Dec"][minute // (1440 * 28) % 12],
        2020 + minute // (1440 * 28 * 12), minute // 60 % 24, minute % 60)
    head = ("From: bench@example.jp\r\nTo: reader@example.jp\r\nDate: %s\r\n"
            "Subject: %s\r\nMessage-ID: <%d@bench.example.jp>\r\n"
            "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
            "Content-Transfer-Encoding: 7bit\r\n\r\n" % (date, word, n)).encode("ascii")
    body = b""
    while len(head) + len(body) < MESSAGE_BYTES:
        for line in paragraph:
            body += jis(line.replace("%03d", "%03d" % n)) + b"\r\n"
    return head + body


def make_mbox(path, count):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        for n in range(count):
            f.write(b"From bench@example.jp Mon Jan  1 00:00:00 2024\r\n" + magazine_message(n) + b"\r\n")


def make_lists(folder):
    seed_menu = b"<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n"
    write(os.path.join(folder, "set", "menu.htm"), seed_menu)
    write(os.path.join(folder, "set", "index.htm"), b"<HTML><FRAMESET></FRAMESET></HTML>")
    for i in range(LISTS):
        record = sjis(magazine_text(i)).ljust(256, b"\0") + struct.pack("<ii", 1, 0) + b"\0" * 56
        write(os.path.join(folder, "LKset", "mag%02d.stf" % i), record)


def page(title):
    return sjis("<HTML><HEAD><TITLE>%s</TITLE></HEAD><BODY><PRE>本文</PRE></BODY></HTML>" % title)


def make_account(folder, server):
    account = b"".join(field.encode("ascii").ljust(256, b"\0")
                       for field in ("bench", server, "bench", "sekret")) + b"\0" * 4
    write(os.path.join(folder, "pop3mail", "bench.stf"), account)


def make_work(folder, server):
    seed_menu = b"<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n"
    write(os.path.join(folder, "set", "menu.htm"), seed_menu)
    write(os.path.join(folder, "set", "index.htm"), b"<HTML><FRAMESET></FRAMESET></HTML>")
    make_account(folder, server)
    for i in range(LISTS):
        name = "list%02d" % i
        record = sjis(search_text(i)).ljust(256, b"\0") + struct.pack("<ii", 1, 0) + b"\0" * 56
        write(os.path.join(folder, "LKset", name + ".stf"), record)
        lines = []
        for k in range(LOGS_PER_LIST):
            # One log a day from 2020 on: unique, sortable names.
            stamp = "2020%02d%02d%02d%02d%02d" % (1 + k // 28 % 12, 1 + k % 28, 7, k % 60, i)
            base = "%s_1" % stamp
            subject = search_text(i) + " 過去の号 No.%04d" % k
            log = sjis(subject) + b"\n\n\nSubject: x\n\n" + sjis("本文 %d\n" % k) * 40
            write(os.path.join(folder, "LKset", name, base + ".log"), log)
            write(os.path.join(folder, "LKset", name, "web", base + ".htm"), page(subject))
            lines.append(b"<A HREF=" + base.encode() + b".htm target=main>" + sjis(subject) +
                         b"</A><P>\n")
        lines.reverse()  # descending link text
        web = os.path.join(folder, "LKset", name, "web")
        write(os.path.join(web, "menu.htm"),
              b"<HTML><BODY><CENTER>\n" + b"".join(lines) + b"</CENTER></BODY></HTML>\n")
        write(os.path.join(web, "index.htm"), b"<HTML><FRAMESET></FRAMESET></HTML>")
        write(os.path.join(web, "down.htm"), b"<HTML></HTML>")


if __name__ == "__main__":
    if sys.argv[1] == "mail":
        make_mail(sys.argv[2])
    elif sys.argv[1] == "magazines":
        make_mail(sys.argv[2], MAGAZINE_MESSAGES, magazine_text)
    elif sys.argv[1] == "mbox":
        make_mbox(sys.argv[2], int(sys.argv[3]))
    elif sys.argv[1] == "lists":
        make_lists(sys.argv[2])
    elif sys.argv[1] == "account":
        make_account(sys.argv[2], sys.argv[3])
    else:
        make_work(sys.argv[2], sys.argv[3])

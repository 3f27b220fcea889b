#!/usr/bin/env python3
"""Working folders for the GUI tests: records, pages and mail, written byte
for byte as the program stores them (Shift_JIS names and texts).

  fixture.py list DIR NAME SEARCH NEW_MAIL [page]   a list record (and a page)
  fixture.py account DIR SERVER USER PASSWORD       the account record
  fixture.py new-mail DIR NAME                      prints the record's new_mail
  fixture.py mailbox DIR                            three messages as .eml files
  fixture.py seed DIR                               minimal seed pages in DIR\set
  fixture.py logs DIR                               prints how many logs are stored
  fixture.py url-path TEXT                          a file:// address as a plain path

NAME and texts are given in UTF-8; file names on disk are UTF-8, as Wine
makes them from the program's UTF-16 names.
"""
import base64
import os
import struct
import sys
import urllib.parse

LIST_RECORD_SIZE = 320
ACCOUNT_RECORD_SIZE = 1028
NEW_MAIL_OFFSET = 260


def field(text, width=256):
    data = text.encode("cp932")
    assert len(data) < width
    return data.ljust(width, b"\0")


def make_list(folder, name, search, new_mail, page=False):
    lkset = os.path.join(folder, "LKset")
    os.makedirs(lkset, exist_ok=True)
    record = field(search) + struct.pack("<ii", 0, int(new_mail)) + b"\0" * 56
    assert len(record) == LIST_RECORD_SIZE
    with open(os.path.join(lkset, name + ".stf"), "wb") as out:
        out.write(record)
    if page:
        web = os.path.join(lkset, name, "web")
        os.makedirs(web, exist_ok=True)
        with open(os.path.join(web, "index.htm"), "wb") as out:
            out.write(b"<HTML><BODY>index</BODY></HTML>\n")


def make_account(folder, server, user, password):
    accounts = os.path.join(folder, "pop3mail")
    os.makedirs(accounts, exist_ok=True)
    record = field("gui") + field(server) + field(user) + field(password) + b"\0" * 4
    assert len(record) == ACCOUNT_RECORD_SIZE
    with open(os.path.join(accounts, "gui.stf"), "wb") as out:
        out.write(record)


def new_mail(folder, name):
    with open(os.path.join(folder, "LKset", name + ".stf"), "rb") as source:
        record = source.read()
    return struct.unpack_from("<i", record, NEW_MAIL_OFFSET)[0]


def encoded_word(text):
    raw = text.encode("iso2022_jp")
    return "=?ISO-2022-JP?B?" + base64.b64encode(raw).decode("ascii") + "?="


def make_mailbox(folder):
    os.makedirs(folder, exist_ok=True)
    mails = [
        ("01.eml", encoded_word("【週刊テスト】第1号"), "今週のお知らせです。\nhttp://example.jp/\n"),
        ("02.eml", "[soft] release notes", "Version 1.0 is out.\n"),
        ("03.eml", "hello from a friend", "Not a magazine.\n"),
    ]
    for file_name, subject, body in mails:
        lines = [
            "From: sender@example.jp",
            "To: reader@example.jp",
            "Subject: " + subject,
            "MIME-Version: 1.0",
            "Content-Type: text/plain; charset=ISO-2022-JP",
            "",
        ]
        data = ("\r\n".join(lines) + "\r\n").encode("ascii")
        data += body.replace("\n", "\r\n").encode("iso2022_jp")
        with open(os.path.join(folder, file_name), "wb") as out:
            out.write(data)


def make_seed_pages(folder):
    """Stand-ins for the installation's seed pages: a frame page and an
    empty link page whose first line is the head line."""
    seed = os.path.join(folder, "set")
    os.makedirs(seed, exist_ok=True)
    pages = {
        "index.htm": b"<HTML><FRAMESET cols=\"30%,*\"><FRAME src=menu.htm name=menu>"
                     b"<FRAME src=down.htm name=main></FRAMESET></HTML>\n",
        "menu.htm": b"<HTML><BODY><CENTER>\n</CENTER></BODY></HTML>\n",
    }
    for name, data in pages.items():
        with open(os.path.join(seed, name), "wb") as out:
            out.write(data)


def count_logs(folder):
    total = 0
    for root, _dirs, files in os.walk(os.path.join(folder, "LKset")):
        total += sum(1 for f in files if f.endswith(".log"))
    return total


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "list" and len(argv) in (6, 7):
        make_list(argv[2], argv[3], argv[4], argv[5], page=len(argv) == 7)
    elif command == "account" and len(argv) == 6:
        make_account(argv[2], argv[3], argv[4], argv[5])
    elif command == "new-mail" and len(argv) == 4:
        print(new_mail(argv[2], argv[3]))
    elif command == "mailbox" and len(argv) == 3:
        make_mailbox(argv[2])
    elif command == "seed" and len(argv) == 3:
        make_seed_pages(argv[2])
    elif command == "logs" and len(argv) == 3:
        print(count_logs(argv[2]))
    elif command == "url-path" and len(argv) == 3:
        print(urllib.parse.unquote(argv[2].strip()))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

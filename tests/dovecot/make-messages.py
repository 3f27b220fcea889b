#!/usr/bin/env python3
"""Writes the sample messages of the dovecot test (messages/*.eml): Japanese
mail in ISO-2022-JP with encoded-word subjects, a folded subject, a raw JIS
subject, and bodies with lines that begin with dots. Run it again only to
change the samples; the output is committed."""
import base64
import os

here = os.path.dirname(os.path.abspath(__file__))


def jis(text):
    return text.encode("iso-2022-jp")


def word(text, charset="ISO-2022-JP", letter="B"):
    return f"=?{charset}?{letter}?".encode() + base64.b64encode(jis(text)) + b"?="


def message(subject_lines, body_lines, number):
    head = [
        b"From: editor@example.jp",
        b"To: reader@example.jp",
        b"Date: Mon, 7 Dec 2026 09:%02d:00 +0900" % number,
        b"Message-ID: <sample-%d@example.jp>" % number,
        b"MIME-Version: 1.0",
        b"Content-Type: text/plain; charset=ISO-2022-JP",
        b"Content-Transfer-Encoding: 7bit",
    ]
    lines = head[:2] + subject_lines + head[2:] + [b""] + body_lines
    return b"\n".join(lines) + b"\n"


samples = {
    "01-weekly.eml": message(
        [b"Subject: " + word("週刊ラークスパー 第12号")],
        [jis("こんにちは。今週の話題です。"), b".leading dot", b".", b"..", jis("以上")],
        1),
    "02-folded.eml": message(
        [b"Subject: " + word("長いお知らせの件名は"), b" " + word("二行に折り返されます"),
         b"\t" + word("三行目まで")],
        [jis("折り返しの試験です。")],
        2),
    "03-raw.eml": message(
        [b"Subject: [ml] " + jis("生のJIS件名")],
        [jis("本文もJISです。"), b"...three dots"],
        3),
    "04-plain.eml": message(
        [b"Subject: Plain ASCII notice"],
        [b"This one is deleted by the test."],
        4),
    "05-lower.eml": message(
        [b"Subject: " + word("小文字の文字集合", charset="iso-2022-jp", letter="b")],
        [jis("小文字の b でも読めます。")],
        5),
}

os.makedirs(os.path.join(here, "messages"), exist_ok=True)
for name, data in samples.items():
    with open(os.path.join(here, "messages", name), "wb") as out:
        out.write(data)

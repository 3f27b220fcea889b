#!/usr/bin/env python3
"""Working-folder files for the settings dialog GUI tests, written and read
byte for byte as larkspur.exe stores them (Shift_JIS texts, little-endian
integers). Names and texts are given and printed in UTF-8; on disk Wine makes
the program's names UTF-8.

  files.py list DIR NAME SEARCH DELETE_FROM_SERVER NEW_MAIL  a list record
  files.py log DIR LIST FILE SUBJECT                        a log: subject line, body
  files.py show-list DIR NAME     "size|search|delete_from_server|new_mail|reserved"
  files.py show-account DIR NAME  "size|account|server|user|password|options"
  files.py check-layout W H LAYOUT  compares the probe's layout (stdin) of a dialog
                                  W x H dialog units with LAYOUT; prints mismatches
"""
import os
import struct
import sys

LIST_RECORD_SIZE = 320
ACCOUNT_RECORD_SIZE = 1028


def field(text, width=256):
    data = text.encode("cp932")
    assert len(data) < width
    return data.ljust(width, b"\0")


def text_of(data):
    return data.split(b"\0", 1)[0].decode("cp932", errors="replace")


def make_list(folder, name, search, delete_from_server, new_mail):
    lkset = os.path.join(folder, "LKset")
    os.makedirs(os.path.join(lkset, name), exist_ok=True)
    record = field(search) + struct.pack("<ii", int(delete_from_server), int(new_mail)) + b"\0" * 56
    assert len(record) == LIST_RECORD_SIZE
    with open(os.path.join(lkset, name + ".stf"), "wb") as out:
        out.write(record)


def make_log(folder, list_name, file_name, subject):
    path = os.path.join(folder, "LKset", list_name, file_name)
    with open(path, "wb") as out:
        out.write(subject.encode("cp932") + b"\n" + "本文です。\n".encode("cp932"))


def show_list(folder, name):
    path = os.path.join(folder, "LKset", name + ".stf")
    if not os.path.exists(path):
        return "missing"
    data = open(path, "rb").read()
    padded = data.ljust(LIST_RECORD_SIZE, b"\0")
    delete, new_mail = struct.unpack_from("<ii", padded, 256)
    reserved_zero = "0" if padded[264:320] == b"\0" * 56 else "x"
    return f"{len(data)}|{text_of(padded[:256])}|{delete}|{new_mail}|{reserved_zero}"


def show_account(folder, name):
    path = os.path.join(folder, "pop3mail", name + ".stf")
    if not os.path.exists(path):
        return "missing"
    data = open(path, "rb").read()
    padded = data.ljust(ACCOUNT_RECORD_SIZE, b"\0")
    texts = [text_of(padded[i:i + 256]) for i in (0, 256, 512, 768)]
    options = struct.unpack_from("<i", padded, 1024)[0]
    return "|".join([str(len(data))] + texts + [str(options)])


# Kinds of control in a layout description: window class and what its style must
# show (mask, value).
KINDS = {
    "group": ("Button", 0xF, 0x7),          # BS_GROUPBOX
    "label": ("Static", 0x1F, 0x0),         # SS_LEFT
    "list": ("ListBox", 0x3, 0x1),          # LBS_NOTIFY, no LBS_SORT
    "edit": ("Edit", 0xA0, 0x80),           # ES_AUTOHSCROLL, not masked
    "masked": ("Edit", 0xA0, 0xA0),         # ES_AUTOHSCROLL | ES_PASSWORD
    "button": ("Button", 0xF, 0x0),         # BS_PUSHBUTTON, never the default
    "check": ("Button", 0xF, 0x3),          # BS_AUTOCHECKBOX
}


def dialog_units_to_pixels(value, base, divisor):
    return (value * base + divisor // 2) // divisor  # MulDiv, rounded


def check_layout(width_du, height_du, spec_path, lines):
    """The dialog's controls, in creation order, against the layout lines
    "ID KIND X Y W H [TEXT]" in dialog units. The base units come from the
    client size; a list box may be shorter by less than one line (it keeps
    to whole lines)."""
    client = lines[0].split()
    client_w, client_h = int(client[1]), int(client[2])
    base_x = next((b for b in range(1, 40) if dialog_units_to_pixels(int(width_du), b, 4) == client_w), None)
    base_y = next((b for b in range(1, 60) if dialog_units_to_pixels(int(height_du), b, 8) == client_h), None)
    problems = []
    if base_x is None or base_y is None:
        return [f"client {client_w}x{client_h} fits no base units for {width_du}x{height_du}"]
    actual = [line.split(" ", 7) for line in lines[1:]]
    expected = [line.split(" ", 6) for line in open(spec_path, encoding="utf-8").read().splitlines() if line]
    if len(actual) != len(expected):
        problems.append(f"{len(actual)} controls, expected {len(expected)}")
    for got, want in zip(actual, expected):
        control_id, kind = want[0], want[1]
        klass, mask, value = KINDS[kind]
        x, y, w, h = (int(v) for v in want[2:6])
        text = want[6] if len(want) > 6 else ""
        px = [dialog_units_to_pixels(x, base_x, 4), dialog_units_to_pixels(y, base_y, 8),
              dialog_units_to_pixels(w, base_x, 4), dialog_units_to_pixels(h, base_y, 8)]
        gx, gy, gw, gh = (int(v) for v in got[2:6])
        style = int(got[6], 16)
        got_text = got[7] if len(got) > 7 else ""
        where = f"control {control_id} ({kind} {text})"
        if got[0] != control_id or got[1] != klass:
            problems.append(f"{where}: found {got[0]} {got[1]}")
            continue
        if (style & mask) != value:
            problems.append(f"{where}: style {style:08x}")
        height_ok = abs(gh - px[3]) <= 1 or (kind == "list" and 0 <= px[3] - gh < 30)
        if abs(gx - px[0]) > 1 or abs(gy - px[1]) > 1 or abs(gw - px[2]) > 1 or not height_ok:
            problems.append(f"{where}: at {gx},{gy} {gw}x{gh}, expected {px[0]},{px[1]} {px[2]}x{px[3]}")
        if got_text != text:
            problems.append(f"{where}: text '{got_text}'")
    return problems


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "list":
        make_list(*args)
    elif command == "log":
        make_log(*args)
    elif command == "show-list":
        print(show_list(*args))
    elif command == "show-account":
        print(show_account(*args))
    elif command == "check-layout":
        problems = check_layout(args[0], args[1], args[2], sys.stdin.read().splitlines())
        for problem in problems:
            print(problem)
        return 1 if problems else 0
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

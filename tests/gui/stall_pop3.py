#!/usr/bin/env python3
"""A POP3 server for the GUI tests that never finishes a scan.

It accepts any user and password and lists one message, but answers TOP
with nothing at all, so a receive job stays in its scan (status 5) until it
is cancelled. Every command line received is appended to the log file, and
every accepted connection as "CONNECT". The chosen port is printed alone on
the first line of standard output. It ends by itself after --lifetime
seconds.

usage: stall_pop3.py --log FILE [--lifetime SECONDS]
"""
import argparse
import socket
import sys
import threading
import time


def serve(conn, log, lock):
    def note(line):
        with lock, open(log, "a", encoding="latin-1") as out:
            out.write(line + "\n")

    note("CONNECT")
    conn.sendall(b"+OK stall server ready\r\n")
    buffer = b""
    try:
        while True:
            data = conn.recv(4096)
            if not data:
                return
            buffer += data
            while b"\r\n" in buffer:
                line, buffer = buffer.split(b"\r\n", 1)
                text = line.decode("latin-1")
                note(text)
                verb = text.split(" ")[0].upper()
                if verb in ("USER", "PASS", "NOOP"):
                    conn.sendall(b"+OK\r\n")
                elif verb == "LIST":
                    conn.sendall(b"+OK 1 messages\r\n1 120\r\n.\r\n")
                elif verb == "QUIT":
                    conn.sendall(b"+OK bye\r\n")
                    return
                elif verb == "TOP":
                    pass  # stall: the client waits until it gives up or is cancelled
                else:
                    conn.sendall(b"-ERR not here\r\n")
    except OSError:
        return
    finally:
        note("CLOSE")
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--lifetime", type=float, default=240.0)
    args = parser.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    listener.settimeout(0.5)
    print(listener.getsockname()[1], flush=True)

    lock = threading.Lock()
    deadline = time.monotonic() + args.lifetime
    while time.monotonic() < deadline:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(conn, args.log, lock), daemon=True).start()
    listener.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())

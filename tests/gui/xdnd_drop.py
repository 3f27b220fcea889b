#!/usr/bin/env python3
"""Drops files on an X window the way a file manager does (the XDND
protocol, version 5), so that the GUI tests can drop on the window Wine
shows: Wine turns such a drop into WM_DROPFILES for a window that accepts
files. Talks to libX11 through ctypes; needs nothing else.

  xdnd_drop.py X Y PATH...     drops PATH... at screen point X, Y
Exits 0 once the target said it finished, 1 when it refused or did not
answer within ten seconds (or no XdndAware window was there within ten seconds).
"""
import ctypes
import ctypes.util
import os
import sys
import time
import urllib.parse

X = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
X.XOpenDisplay.restype = ctypes.c_void_p
X.XDefaultRootWindow.restype = ctypes.c_ulong
X.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
X.XInternAtom.restype = ctypes.c_ulong
X.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
X.XCreateSimpleWindow.restype = ctypes.c_ulong
X.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 4 + [
    ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
X.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
X.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
X.XPending.argtypes = [ctypes.c_void_p]
X.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
X.XFlush.argtypes = [ctypes.c_void_p]
X.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                              ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
X.XQueryPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 7
X.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                    ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
X.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                 ctypes.c_long, ctypes.c_int, ctypes.c_ulong, ctypes.c_void_p,
                                 ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]

CLIENT_MESSAGE, SELECTION_REQUEST, SELECTION_NOTIFY = 33, 30, 31


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class SelectionRequest(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("owner", ctypes.c_ulong),
                ("requestor", ctypes.c_ulong), ("selection", ctypes.c_ulong),
                ("target", ctypes.c_ulong), ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class SelectionNotify(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong),
                ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("client", ClientMessage),
                ("request", SelectionRequest), ("pad", ctypes.c_long * 24)]


def deepest_aware_window(display, root, x, y, aware):
    """The innermost window at (x, y) that carries XdndAware, or 0."""
    window, found = root, 0
    while True:
        child = ctypes.c_ulong(0)
        dx, dy = ctypes.c_int(0), ctypes.c_int(0)
        X.XTranslateCoordinates(display, root, window, x, y, ctypes.byref(dx), ctypes.byref(dy),
                                ctypes.byref(child))
        actual, fmt = ctypes.c_ulong(0), ctypes.c_int(0)
        items, after = ctypes.c_ulong(0), ctypes.c_ulong(0)
        data = ctypes.c_void_p(0)
        X.XGetWindowProperty(display, window, aware, 0, 1, 0, 0, ctypes.byref(actual),
                             ctypes.byref(fmt), ctypes.byref(items), ctypes.byref(after),
                             ctypes.byref(data))
        if actual.value:
            found = window
        if not child.value:
            return found
        window = child.value


def main():
    x, y, paths = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:]
    display = X.XOpenDisplay(None)
    root = X.XDefaultRootWindow(display)
    atom = lambda name: X.XInternAtom(display, name.encode(), 0)
    source = X.XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0)
    selection, uri_list = atom("XdndSelection"), atom("text/uri-list")
    X.XSetSelectionOwner(display, selection, source, 0)
    # Wine marks its window XdndAware once it is mapped; a window just shown
    # may not be yet, so it is looked for again for a few seconds.
    target, deadline = 0, time.monotonic() + 10
    while not target and time.monotonic() < deadline:
        target = deepest_aware_window(display, root, x, y, atom("XdndAware"))
        if not target:
            time.sleep(0.1)
    if not target:
        print("xdnd_drop: no XDND-aware window at %d,%d" % (x, y), file=sys.stderr)
        return 1
    uris = "".join("file://" + urllib.parse.quote(os.path.abspath(p)) + "\r\n" for p in paths)

    def send(name, *data):
        event = Event()
        event.client.type = CLIENT_MESSAGE
        event.client.window = target
        event.client.message_type = atom(name)
        event.client.format = 32
        for i, value in enumerate(data):
            event.client.data[i] = value
        X.XSendEvent(display, target, 0, 0, ctypes.byref(event))
        X.XFlush(display)

    send("XdndEnter", source, 5 << 24, uri_list, 0, 0)
    send("XdndPosition", source, 0, (x << 16) | y, 0, atom("XdndActionCopy"))
    dropped = False
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if not X.XPending(display):
            time.sleep(0.02)
            continue
        event = Event()
        X.XNextEvent(display, ctypes.byref(event))
        if event.type == CLIENT_MESSAGE:
            kind = event.client.message_type
            if kind == atom("XdndStatus") and not dropped:
                if not event.client.data[1] & 1:
                    print("xdnd_drop: the window refused the drop", file=sys.stderr)
                    return 1
                dropped = True
                send("XdndDrop", source, 0, 0)
            elif kind == atom("XdndFinished"):
                return 0
        elif event.type == SELECTION_REQUEST:
            request = event.request
            data = uris.encode()
            X.XChangeProperty(display, request.requestor, request.property, uri_list, 8, 0, data,
                              len(data))
            notify = Event()
            notify_event = SelectionNotify(SELECTION_NOTIFY, 0, 1, None, request.requestor,
                                           request.selection, request.target, request.property,
                                           request.time)
            ctypes.memmove(ctypes.byref(notify), ctypes.byref(notify_event), ctypes.sizeof(notify_event))
            X.XSendEvent(display, request.requestor, 0, 0, ctypes.byref(notify))
            X.XFlush(display)
    print("xdnd_drop: no answer from the window", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())

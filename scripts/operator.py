#!/usr/bin/env python3
"""Plays the operator on the X display in $DISPLAY through the XTEST
extension: `operator.py click X Y`, `operator.py key NAME` (an X key name:
Tab, Return, Escape, F6, ...; "Alt_L+v" holds Alt around v), several of
them in one call."""
import ctypes
import os
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

display = x11.XOpenDisplay(os.environ["DISPLAY"].encode())
if not display:
    sys.exit("no display")


def settle():
    x11.XSync(display, 0)
    time.sleep(0.15)


args = sys.argv[1:]
while args:
    action = args.pop(0)
    if action == "click":
        x, y = int(args.pop(0)), int(args.pop(0))
        xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
        settle()
        xtst.XTestFakeButtonEvent(display, 1, 1, 0)
        xtst.XTestFakeButtonEvent(display, 1, 0, 0)
    elif action == "key":
        # "Alt_L+v": the keys before the last are held down around it.
        codes = [x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))
                 for name in args.pop(0).split("+")]
        for code in codes:
            xtst.XTestFakeKeyEvent(display, code, 1, 0)
        for code in reversed(codes):
            xtst.XTestFakeKeyEvent(display, code, 0, 0)
    else:
        sys.exit("unknown action " + action)
    settle()

#!/usr/bin/python3
"""Lays the station's top-level windows side by side on an X display that has
no window manager (under Xvfb every window opens at 0,0, one over the other),
then prints one line "<window id> <x> <y> <width> <height> <title>" per window,
main window first. Uses libX11 through ctypes; xwininfo lists the windows."""
import ctypes
import re
import subprocess
import sys


def top_windows(title_part):
    tree = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True).stdout
    found = []
    for line in tree.splitlines():
        m = re.match(r'\s*(0x[0-9a-f]+) "(.*)": \(.*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', line)
        if m and title_part in m.group(2):
            found.append((int(m.group(1), 16), m.group(2), int(m.group(3)), int(m.group(4))))
    return found


def main():
    title_part = sys.argv[1] if len(sys.argv) > 1 else "LUMO"
    windows = top_windows(title_part)
    # The main window is the tallest; the pages follow by height (Form3, Form2).
    windows.sort(key=lambda w: -w[3])
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    display = ctypes.c_void_p(x11.XOpenDisplay(None))
    if not display.value:
        print("placewindows: no display", file=sys.stderr)
        return 1
    left = 0
    placed = []
    for wid, title, width, height in windows:
        x11.XMoveWindow(display, ctypes.c_ulong(wid), left, 0)
        placed.append((wid, left, 0, width, height, title))
        left += width + 10
    x11.XSync(display, 0)
    x11.XCloseDisplay(display)
    for wid, x, y, width, height, title in placed:
        print(f"0x{wid:x} {x} {y} {width} {height} {title}")
    return 0 if placed else 1


if __name__ == "__main__":
    sys.exit(main())

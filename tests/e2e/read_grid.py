#!/usr/bin/python3
"""Reads the grid of a running station from outside, through the desktop's
accessibility bus, as a screen reader would: prints one line
"<accessible name>\t<text>" for every cell of the named application."""
import sys
import time

import pyatspi


def cells(app_name):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.name != app_name:
            continue
        found = []
        stack = [app]
        while stack:
            node = stack.pop()
            for child in node:
                if child is None:
                    continue
                if child.getRoleName() == "text" and child.name:
                    text = child.queryText()
                    found.append((child.name, text.getText(0, text.characterCount)))
                stack.append(child)
        return found
    return []


def main():
    app_name = sys.argv[1]
    deadline = time.time() + float(sys.argv[2] if len(sys.argv) > 2 else 10)
    found = []
    while time.time() < deadline and not found:
        found = cells(app_name)
        if not found:
            time.sleep(0.3)
    for name, text in sorted(found):
        print(f"{name}\t{text}")
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())

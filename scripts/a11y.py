#!/usr/bin/python3
"""Drives the running Vornic window through the accessibility bus (AT-SPI),
as a screen reader would; works the same under X and Wayland. Needs the
program started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on the same session
bus.

  a11y.py window              waits until the main window shows
  a11y.py page N              selects page N (0 Login Info, 1 Music Folders,
                              2 Activity Monitor) and waits until it shows
  a11y.py press NAME          presses the button called NAME

Exits 1 with a message when the thing does not come within 20 s.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
import pyatspi  # noqa: E402


def wait_for(what, check, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            result = check()
        except Exception:  # the tree changes under us while windows come and go
            result = None
        if result:
            return result
        time.sleep(0.1)
    sys.exit(f"a11y: timed out waiting for {what}")


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def find(root, role, name=None):
    for node in walk(root):
        if node.getRole() == role and (name is None or node.name == name):
            return node
    return None


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def main_window():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None or app.name != "Vornic":
            continue
        for j in range(app.childCount):
            window = app.getChildAtIndex(j)
            if (window.name == "Vornic" and showing(window) and
                    find(window, pyatspi.ROLE_PAGE_TAB_LIST) is not None):
                return window
    return None


def select_page(index):
    tabs = find(wait_for("the main window", main_window), pyatspi.ROLE_PAGE_TAB_LIST)
    page = tabs.getChildAtIndex(index)
    page.queryAction().doAction(0)
    # The tab list is named after the page it shows.
    wait_for(f"page {index}", lambda: tabs.name == page.name)


def press(name):
    button = wait_for(f"the {name} button",
                      lambda: find(main_window(), pyatspi.ROLE_PUSH_BUTTON, name))
    button.queryAction().doAction(0)


def main(args):
    if args[:1] == ["window"]:
        wait_for("the main window", main_window)
    elif args[:1] == ["page"] and len(args) == 2:
        select_page(int(args[1]))
    elif args[:1] == ["press"] and len(args) == 2:
        press(args[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])

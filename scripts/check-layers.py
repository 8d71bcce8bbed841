#!/usr/bin/env python3
"""Checks the folder layers over every source file.

Each folder may include only its own headers and those of the folders below
it (the table below), and only platform/ may include an operating-system
header. Tests may also include the test helpers and the developer tools.
Prints each offending line and exits 1 when there is one.

    scripts/check-layers.py [ROOT]      default: the repository
"""
import pathlib
import re
import sys

# Folder -> the folders it may include besides itself, bottom to top.
BELOW = {
    "platform": [],
    "app": ["platform"],
    "media": ["app", "platform"],
    "db": ["media", "app", "platform"],
}
for peer in ("scan", "playmon", "server", "musicid"):
    BELOW[peer] = ["db", "media", "app", "platform"]
BELOW["ui"] = ["scan", "playmon", "server", "musicid"] + BELOW["scan"]
BELOW["shell"] = ["ui"] + BELOW["ui"]
PROGRAM = set(BELOW)

# Developer tools, benchmarks and tests sit beside the program. Tools never
# use the top layer; benchmarks and end-to-end tests may use anything.
BELOW["tools"] = sorted(PROGRAM - {"shell"})
BELOW["bench"] = sorted(PROGRAM | {"tools", "tests"})
TEST_EXTRA = ["tests", "tools"]
TEST_SPECIAL = {
    "support": ["app", "platform"],
    "e2e": sorted(PROGRAM),
    "data": [],
}

# Headers of the operating system (POSIX, Linux and system libraries); the
# C and C++ standard headers are not among them.
OS_HEADER = re.compile(
    r"(unistd|fcntl|dirent|pthread|dlfcn|poll|netdb|ifaddrs|pwd|grp|spawn|termios|sched"
    r"|semaphore|syslog|glob|fnmatch|libgen|signal|mqueue|aio|utime|wordexp|paths|utmp"
    r"|sys/.*|netinet/.*|arpa/.*|net/.*|linux/.*|asm/.*|bits/.*|systemd/.*|dbus/.*)\.h")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = {".h", ".hh", ".hpp", ".cc", ".cpp", ".c"}


def allowed_for(parts):
    """The folders a file at `parts` (path components) may include."""
    top = parts[0]
    if top == "tests":
        sub = parts[1] if len(parts) > 2 else "support"
        folders = TEST_SPECIAL.get(sub, [sub] + BELOW.get(sub, []))
        return set(folders) | set(TEST_EXTRA)
    return {top} | set(BELOW.get(top, []))


def check(root):
    faults = []
    paths = [p for top in sorted(set(BELOW) | {"tests"}) for p in sorted((root / top).rglob("*"))]
    for path in paths:
        rel = path.relative_to(root)
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        allowed = allowed_for(rel.parts)
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, name = match.groups()
            where = f"{rel}:{number}: {line.strip()}"
            if quote == "<":
                if rel.parts[0] in PROGRAM and rel.parts[0] != "platform" and OS_HEADER.fullmatch(name):
                    faults.append(f"{where}: only platform/ includes operating-system headers")
            elif "/" in name:
                folder = name.split("/", 1)[0]
                if folder not in allowed:
                    layer = "/".join(rel.parts[:2]) if rel.parts[0] == "tests" else rel.parts[0]
                    faults.append(f"{where}: {layer}/ may not include {folder}/")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    faults = check(root.resolve())
    for fault in faults:
        print(fault)
    if faults:
        print(f"check-layers: {len(faults)} forbidden include(s)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

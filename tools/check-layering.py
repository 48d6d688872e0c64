#!/usr/bin/env python3
"""Fails when a source file includes a header its folder may not use.

Usage: check-layering.py [SOURCE_DIR]

Every #include "..." line of every source and header is resolved the way the compiler finds it
(beside the including file first, then below the include/ folders of the tree, then in any folder
whose files end the name) and the header is given to the folder it lies in. The platform layer's
rooms use only the rooms below them; the libraries above the platform layer use only the folders
before them; a program folder's headers are its own (benchmarks aside). Tests may use the fixtures
as well, and a program's tests the simulated driver. Includes that name no file of the tree
(system headers, generated files) are not judged.
"""

import os
import re
import sys
import tempfile

ROOMS = ["core", "files", "processes", "devices", "prefpane", "coregraphics", "testing"]
SERVICE_ROOMS = ["platform/core", "platform/files", "platform/processes", "platform/devices"]
LIBRARIES = SERVICE_ROOMS + ["platform/prefpane", "platform/coregraphics", "recordbase",
                             "settings", "loginitems"]
PROGRAMS = ["driver", "agent", "pane", "panehost", "tester", "loginwindow", "uninstaller", "tools",
            "bench"]

# Which folders each folder may include from, besides its own.
MAY_USE = {
    "platform/core": [],
    "platform/files": ["platform/core"],
    "platform/processes": ["platform/core", "platform/files"],
    "platform/devices": ["platform/core", "platform/files"],
    "platform/prefpane": [],
    "platform/coregraphics": [],
    "platform/testing": SERVICE_ROOMS,
    "recordbase": SERVICE_ROOMS,
    "settings": SERVICE_ROOMS + ["recordbase"],
    "loginitems": SERVICE_ROOMS + ["recordbase", "settings"],
}
for program in PROGRAMS:
    MAY_USE[program] = LIBRARIES
FIXTURES = "platform/testing"
# Benchmarks measure the programs themselves, in a world the fixtures build.
MAY_USE["bench"] = LIBRARIES + PROGRAMS + [FIXTURES]
# A program's tests may run the simulated driver in the test process.
SIMULATED_DRIVER = "driver"

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c", ".inc")
SKIPPED_FOLDERS = {".git", "stage", "screenshots"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def folder_of(relpath):
    """The folder (room or top-level folder) a path of the tree belongs to, or None."""
    parts = relpath.split("/")
    if parts[0] == "platform" and len(parts) > 2 and parts[1] in ROOMS:
        return "platform/" + parts[1]
    if parts[0] in MAY_USE and len(parts) > 1:
        return parts[0]
    return None


def is_test(relpath):
    return "/tests/" in "/" + relpath


def source_files(top):
    for folder, subfolders, files in os.walk(top):
        subfolders[:] = sorted(s for s in subfolders
                               if s not in SKIPPED_FOLDERS and not s.startswith("build"))
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.relpath(os.path.join(folder, name), top)


def header_index(sources):
    """Where an include names a header: 'platform/Files.h' -> the files below include/ folders
    ('platform/files/include/platform/Files.h'); any other name -> the headers whose path ends in
    it, for folders that offer their src/ folder to others."""
    public, anywhere = {}, {}
    for relpath in sources:
        marker = relpath.find("/include/")
        if marker >= 0:
            public.setdefault(relpath[marker + len("/include/"):], []).append(relpath)
        parts = relpath.split("/")
        for i in range(1, len(parts)):
            anywhere.setdefault("/".join(parts[i:]), []).append(relpath)
    return public, anywhere


def violations(top, sources):
    sources = list(sources)
    known = set(sources)
    public, anywhere = header_index(sources)
    found = []
    for relpath in sources:
        user = folder_of(relpath)
        if user is None:
            continue
        allowed = set(MAY_USE[user]) | {user}
        if is_test(relpath):
            allowed.add(FIXTURES)
            if user in PROGRAMS:
                allowed.add(SIMULATED_DRIVER)
        with open(os.path.join(top, relpath), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                name = m.group(1)
                beside = os.path.normpath(os.path.join(os.path.dirname(relpath), name))
                if beside in known:
                    targets = [beside]
                else:
                    targets = public.get(name) or anywhere.get(name, [])
                owners = {folder_of(t) for t in targets} - {None}
                if owners and not owners & allowed:
                    owner = sorted(owners)[0]
                    found.append(f'{relpath}:{number}: includes "{name}" of {owner}, which '
                                 f'{user} may not use')
    return found


def check_the_check():
    """A planted wrong include must be found, or this check proves nothing."""
    with tempfile.TemporaryDirectory() as top:
        files = {
            "platform/core/include/platform/MacTypes.h": "",
            "platform/files/include/platform/Files.h": '#include "platform/MacTypes.h"\n',
            "platform/core/src/Planted.cpp": '#include "platform/Files.h"\n',
            "agent/include/agent/Agent.h": "",
            "settings/src/Planted.cpp": '#include "agent/Agent.h"\n',
            "panehost/PaneHostWindow.h": "",
            "platform/devices/src/Planted.cpp": '#include "PaneHostWindow.h"\n',
            "platform/devices/src/Fine.cpp": '#include "platform/Files.h"\n#include <vector>\n',
        }
        for relpath, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(top, relpath)), exist_ok=True)
            with open(os.path.join(top, relpath), "w") as f:
                f.write(text)
        found = violations(top, source_files(top))
        expected = ['platform/core/src/Planted.cpp:1: includes "platform/Files.h" of '
                    'platform/files, which platform/core may not use',
                    'platform/devices/src/Planted.cpp:1: includes "PaneHostWindow.h" of '
                    'panehost, which platform/devices may not use',
                    'settings/src/Planted.cpp:1: includes "agent/Agent.h" of agent, which '
                    'settings may not use']
        if found != expected:
            print("check-layering: the planted wrong includes were not reported as expected:",
                  *found, sep="\n  ", file=sys.stderr)
            return False
    return True


def main():
    top = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                          os.path.join(os.path.dirname(__file__), ".."))
    if not check_the_check():
        return 2
    found = violations(top, source_files(top))
    for line in found:
        print(line, file=sys.stderr)
    if found:
        print(f"check-layering: {len(found)} include(s) against the layering", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

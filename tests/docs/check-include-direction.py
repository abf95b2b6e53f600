#!/usr/bin/env python3
"""No include points from a lower layer of the tree to a higher one.

The layers, lowest first (docs/architecture.md shows the same list):

  platform -> snmp, download, datafile -> collect, oidgen, plot -> ui -> app, cli, exporter, programs

A file may include its own layer and the layers below it. datafile is the data-file format in
collect/ (DataFileFormat, ColumnsSidecar), which the plot reads without the collector; the
programs are render/, tools/ and bench/. Every include that points up is reported with its
line. Exit 1 on any.

Usage: check-include-direction.py SOURCE_ROOT
"""
import os
import re
import sys

LAYERS = (
    ("platform",),
    ("snmp", "download", "datafile"),
    ("collect", "oidgen", "plot"),
    ("ui",),
    ("app", "cli", "exporter", "render", "tools", "bench"),
)
# Files of a folder that sit in another layer than the folder.
PARTS = {
    "collect/DataFileFormat": "datafile",
    "collect/ColumnsSidecar": "datafile",
}
# Known includes that point up, each with why it stays for now.
KNOWN = {
    ("oidgen/ReadOidDlg.cpp", "ui/CGifAnimator.h"):
        "the Generate OID dialog shows ui's busy animation",
}
SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
LEVEL = {name: level for level, names in enumerate(LAYERS) for name in names}


def layer_of(path):
    unit = os.path.splitext(path)[0]
    return PARTS.get(unit, path.split("/", 1)[0])


def main(root):
    wrong = []
    for folder in sorted(LEVEL):
        for base, dirs, names in os.walk(os.path.join(root, folder)):
            dirs[:] = sorted(d for d in dirs if not d.startswith("build"))
            for name in sorted(names):
                if not name.endswith(SUFFIXES):
                    continue
                path = os.path.relpath(os.path.join(base, name), root)
                here = layer_of(path)
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        there = layer_of(target)
                        if there not in LEVEL or (path, target) in KNOWN:
                            continue
                        if LEVEL[there] > LEVEL[here]:
                            wrong.append(f"{path}:{number}: {here} includes {target} of {there}, a higher layer")
    for text in wrong:
        print(text)
    if wrong:
        print(f"{len(wrong)} include(s) point up a layer; the layers, lowest first: "
              + " -> ".join(", ".join(names) for names in LAYERS))
        return 1
    print("every include points at its own layer or one below")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))

#!/usr/bin/env python3
"""No file of the tree includes a file that includes it back.

A file here is a source unit: X.h and X.cpp together (the unit of a class), so that
a.cpp including b.h while b.cpp includes a.h counts as a circle, as it does for a reader.
Every circle, direct or longer, is reported with the path that closes it. Exit 1 on any.

Usage: check-include-cycles.py SOURCE_ROOT
"""
import os
import re
import sys

FOLDERS = ("app", "snmp", "oidgen", "collect", "download", "ui", "plot", "render", "cli", "exporter",
           "platform", "tools", "tests", "bench")
SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def unit_of(path):
    return os.path.splitext(path)[0]


def graph(root):
    files = []
    for folder in FOLDERS:
        for base, dirs, names in os.walk(os.path.join(root, folder)):
            dirs[:] = sorted(d for d in dirs if not d.startswith("build"))
            for name in sorted(names):
                if name.endswith(SUFFIXES):
                    files.append(os.path.relpath(os.path.join(base, name), root))
    known = set(files)
    edges = {}
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for target in INCLUDE.findall(text):
            # "folder/X.h" from the root, or "X.h" beside the including file.
            candidates = (target, os.path.normpath(os.path.join(os.path.dirname(path), target)))
            found = next((c for c in candidates if c in known), None)
            if found is None:
                continue
            a, b = unit_of(path), unit_of(found)
            if a != b:
                edges.setdefault(a, set()).add(b)
    return edges


def cycles(edges):
    """Every strongly connected component of more than one unit, with one circle in it."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = [0]

    def strong(v):
        # Iterative Tarjan: include graphs can be deep.
        work = [(v, iter(sorted(edges.get(v, ()))))]
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        while work:
            node, it = work[-1]
            advanced = False
            for w in it:
                if w not in index:
                    index[w] = low[w] = counter[0]
                    counter[0] += 1
                    stack.append(w)
                    on_stack.add(w)
                    work.append((w, iter(sorted(edges.get(w, ())))))
                    advanced = True
                    break
                if w in on_stack:
                    low[node] = min(low[node], index[w])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    w = stack.pop()
                    on_stack.discard(w)
                    component.append(w)
                    if w == node:
                        break
                if len(component) > 1:
                    found.append(sorted(component))

    for v in sorted(edges):
        if v not in index:
            strong(v)
    return found


def circle(edges, component):
    """A shortest path from the component's first unit back to itself, inside the component."""
    members = set(component)
    start = component[0]
    previous = {start: None}
    queue = [start]
    while queue:
        node = queue.pop(0)
        for w in sorted(edges.get(node, ())):
            if w not in members:
                continue
            if w == start:
                path = [node]
                while previous[path[-1]] is not None:
                    path.append(previous[path[-1]])
                return list(reversed(path)) + [start]
            if w not in previous:
                previous[w] = node
                queue.append(w)
    return component


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    edges = graph(root)
    found = cycles(edges)
    for component in found:
        print("files include each other: " + " -> ".join(circle(edges, component)))
    if found:
        return 1
    print("no include circles among %d source units" % len(set(edges) | {w for s in edges.values() for w in s}))
    return 0


if __name__ == "__main__":
    sys.exit(main())

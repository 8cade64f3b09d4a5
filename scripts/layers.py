#!/usr/bin/env python3
"""The layers' rules, checked on the sources: every include stays in its own layer or goes to
one below it, no module (a .h/.cpp pair) takes part in a circle of includes, and no source,
tests included, is longer than 600 lines. Prints what breaks a rule and exits with 1; silent and
0 when all hold. The compiler enforces the first rule too (each library sees only its own
include folders and those of the libraries it links); this check also covers the files of one
library and says which line of which file is wrong."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Each folder and the folders its files may include from, lowest layer first.
LAYERS = {
    # One library: the platform seam (sys/) and the code that reaches the system through it.
    "TESSELCORE": ["TESSELCORE", "TESSELCORE/sys"],
    "TESSELCORE/sys": ["TESSELCORE/sys", "TESSELCORE"],
    # The Type2 encoder (type2enc): the builder's and the tools', never the programs'.
    "TESSELCORE/encoder": ["TESSELCORE/encoder", "TESSELCORE", "TESSELCORE/sys"],
    "formats": ["formats", "TESSELCORE", "TESSELCORE/sys"],
    "install/engine": ["install/engine", "formats", "TESSELCORE", "TESSELCORE/sys"],
    "uninstall/engine": ["uninstall/engine", "install/engine", "formats", "TESSELCORE",
                         "TESSELCORE/sys"],
    "install/win32": ["install/win32", "uninstall/engine", "install/engine", "formats",
                      "TESSELCORE", "TESSELCORE/sys"],
    "install": ["install", "install/win32", "uninstall/engine", "install/engine", "formats",
                "TESSELCORE", "TESSELCORE/sys"],
    "uninstall": ["uninstall", "install/win32", "uninstall/engine", "install/engine", "formats",
                  "TESSELCORE", "TESSELCORE/sys"],
    "ffspack": ["ffspack", "formats", "TESSELCORE/encoder", "TESSELCORE", "TESSELCORE/sys"],
}
LINE_LIMIT = 600
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def sources(folder):
    path = os.path.join(ROOT, folder)
    return sorted(os.path.join(folder, name) for name in os.listdir(path)
                  if name.endswith((".cpp", ".h")))


def main():
    problems = []
    home = {}  # header name -> its folder
    files = {}
    for folder in LAYERS:
        for source in sources(folder):
            files[source] = folder
            name = os.path.basename(source)
            if name.endswith(".h"):
                if name in home:
                    problems.append(f"{source}: a header of this name is in {home[name]} too")
                home[name] = folder
    edges = {}
    for source, folder in files.items():
        module = os.path.splitext(source)[0]
        with open(os.path.join(ROOT, source), encoding="utf-8", errors="replace") as text:
            lines = text.read().split("\n")
        if len(lines) - 1 > LINE_LIMIT:
            problems.append(f"{source}: {len(lines) - 1} lines (at most {LINE_LIMIT})")
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            name = os.path.basename(match.group(1))
            target = home.get(name)
            if target is None:
                continue  # a generated or third-party header
            if target not in LAYERS[folder]:
                problems.append(f"{source}:{number}: includes {target}/{name}, "
                                f"which {folder} may not use")
            other = os.path.join(target, os.path.splitext(name)[0])
            if other != module:
                edges.setdefault(module, set()).add(other)
    problems += circles(edges)
    problems += long_sources(set(files))
    for problem in problems:
        print(f"layers: {problem}")
    return 1 if problems else 0


def long_sources(checked):
    """The line bound on the sources outside the layers too: tests, benchmarks, fuzz targets,
    examples and tools (the build trees left out)."""
    found = []
    for folder, dirs, names in os.walk(ROOT):
        dirs[:] = sorted(d for d in dirs if not d.startswith((".", "build")))
        for name in sorted(names):
            source = os.path.relpath(os.path.join(folder, name), ROOT)
            if not name.endswith((".cpp", ".h")) or source in checked:
                continue
            with open(os.path.join(ROOT, source), encoding="utf-8", errors="replace") as text:
                count = text.read().count("\n")
            if count > LINE_LIMIT:
                found.append(f"{source}: {count} lines (at most {LINE_LIMIT})")
    return found


def circles(edges):
    """The modules that include one another round a circle (Tarjan's strongly connected
    components), one line each."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(edges.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                found.append("a circle of includes: " + " -> ".join(sorted(group)))

    sys.setrecursionlimit(10000)
    for node in sorted(edges):
        if node not in index:
            visit(node)
    return found


if __name__ == "__main__":
    sys.exit(main())

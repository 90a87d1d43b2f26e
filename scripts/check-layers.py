#!/usr/bin/env python3
"""Refuses an include that reaches up a layer.

    scripts/check-layers.py [SOURCE_ROOT]

Every folder with sources belongs to one layer; a file may include headers of
its own layer and of the layers below it, never of a layer above. The outside
libraries are kept apart further: each includes only itself and the
libraries it is built on. A folder that no layer claims is refused too, so
that a new folder gets its place on purpose. Exits 1 and names every
offending include; the build runs this before it compiles the libraries.
"""
import os
import re
import sys

# Lowest first. A file belongs to the longest folder that names it.
LAYERS = [
    ("common", ["outside/common"]),
    ("foundation", ["foundation", "controls"]),
    ("device library", ["outside/Kestrine"]),
    ("project", ["authoring"]),
    ("engine", ["BurnCtrl", "media", "outside/Pollard", "outside/Sondrel"]),
    ("services", ["app", "analysis"]),
    ("windows", ["foundation/ui", "authoring/ui", "BurnCtrl/ui", "media/ui", "analysis/ui", "app/ui"]),
    ("programs", ["cli", "outside/Tamsin", "data/skingen", "shellext", "updater", "tests", "bench", "fuzz"]),
]

# The outside libraries see nothing of the system but each other.
OUTSIDE = {
    "outside/common": {"outside/common"},
    "outside/Kestrine": {"outside/common", "outside/Kestrine"},
    "outside/Pollard": {"outside/common", "outside/Kestrine", "outside/Pollard"},
    "outside/Sondrel": {"outside/common", "outside/Kestrine", "outside/Sondrel"},
}

# Where a bare include ("Name.h") is looked for after the including folder:
# the include folders the outside libraries give their users.
BARE_ROOTS = ["outside/common", "outside/Kestrine", "outside/Pollard", "outside/Sondrel"]

SKIP = re.compile(r"^(build[^/]*|\.git|\.ci|scripts|data/(Lang|Skin|help|sample)[^/]*)(/|$)")
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(rel):
    """The declared folder that holds `rel` (longest match), and its rank."""
    best = None
    for rank, (_, folders) in enumerate(LAYERS):
        for f in folders:
            if rel == f or rel.startswith(f + "/"):
                if best is None or len(f) > len(best[0]):
                    best = (f, rank)
    return best


def resolve(root, including, name):
    here = os.path.dirname(including)
    for base in [here, ""] + BARE_ROOTS:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None  # a system, Qt or generated header


def check(root):
    problems = []
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root)
        rel_dir = "" if rel_dir == "." else rel_dir
        dirnames[:] = sorted(d for d in dirnames if not SKIP.match(os.path.join(rel_dir, d)))
        for name in sorted(filenames):
            if not SOURCE.search(name):
                continue
            rel = os.path.join(rel_dir, name)
            if SKIP.match(rel):
                continue
            owner = folder_of(rel)
            if owner is None:
                problems.append(f"{rel}: its folder belongs to no layer (declare it in scripts/check-layers.py)")
                continue
            with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for included in INCLUDE.findall(text):
                target = resolve(root, rel, included)
                if target is None:
                    continue
                theirs = folder_of(target)
                if theirs is None:
                    continue
                if owner[0] in OUTSIDE and theirs[0] not in OUTSIDE[owner[0]]:
                    problems.append(f"{rel} includes {target}: {owner[0]} is a library of its own "
                                    f"and may use only {', '.join(sorted(OUTSIDE[owner[0]]))}")
                elif theirs[1] > owner[1]:
                    problems.append(f"{rel} includes {target}: the {LAYERS[owner[1]][0]} layer may not "
                                    f"include the {LAYERS[theirs[1]][0]} layer above it")
    return problems


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    problems = check(root)
    for p in problems:
        print(f"check-layers: {p}", file=sys.stderr)
    if problems:
        print(f"check-layers: {len(problems)} include(s) against the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Refuses an include that reaches up a layer.

    scripts/check-layers.py [SOURCE_ROOT]

Every folder with sources belongs to one layer; a file may include headers of
its own layer and of the layers below it, never of a layer above. The outside
libraries are kept apart further: each includes only itself and the
libraries it is built on. A folder that no layer claims is refused too, so
that a new folder gets its place on purpose. Folders of one layer may use
each other, but never in a circle: two folders that include each other are
one folder in all but name, and neither can be built or tested without the
other. Exits 1 and names every offending include and every circle; the
build runs this before it compiles the libraries.

Includes in quotes and in angle brackets are both followed: an angle-bracket
include that names a file of the tree is that file, whatever the spelling.
"""
import os
import re
import sys

# Lowest first. A file belongs to the longest folder that names it.
LAYERS = [
    ("common", ["outside/common"]),
    ("foundation", ["foundation"]),
    ("device library", ["outside/Kestrine"]),
    ("project", ["authoring"]),
    ("engine", ["BurnCtrl", "media", "outside/Pollard", "outside/Sondrel"]),
    # The projects both fronts burn (audio CD, Video CD, DVD-Video): jobs
    # made of the engine's steps.
    ("jobs", ["jobs"]),
    ("services", ["app", "analysis"]),
    # controls/ is the library of Qt widgets the windows are drawn with.
    ("windows", ["controls", "foundation/ui", "authoring/ui", "BurnCtrl/ui", "media/ui", "analysis/ui", "app/ui"]),
    ("programs", ["cli", "outside/Tamsin", "data/skingen", "shellext", "updater", "tests", "bench", "fuzz"]),
]

# The outside libraries see nothing of the system but each other.
OUTSIDE = {
    "outside/common": {"outside/common"},
    "outside/Kestrine": {"outside/common", "outside/Kestrine"},
    "outside/Pollard": {"outside/common", "outside/Kestrine", "outside/Pollard"},
    "outside/Sondrel": {"outside/common", "outside/Kestrine", "outside/Sondrel"},
}

# Programs that link only part of the system: the highest layer each may
# include. The Tamsin generator writes its resources with the project's own
# structure writers and links the project library, nothing above it.
LINKS_UP_TO = {
    "outside/Tamsin": "project",
}

# Circles between folders of one layer that are known and not yet broken,
# each as the set of its folders, with why it is let through. Keep it empty.
KNOWN_CYCLES = []

# Where a bare include ("Name.h") is looked for after the including folder:
# the include folders the outside libraries give their users.
BARE_ROOTS = ["outside/common", "outside/Kestrine", "outside/Pollard", "outside/Sondrel"]

SKIP = re.compile(r"^(build[^/]*|\.git|\.ci|scripts|data/(Lang|Skin|help|sample)[^/]*)(/|$)")
# Sources, headers and the fragments included into them (.inc tables,
# .ipp/.tpp template bodies). A file of any other name that some source
# includes is read as well.
SOURCE = re.compile(r"\.(c|cc|cxx|cpp|c\+\+|h|hh|hxx|hpp|h\+\+|inc|ipp|tpp|ixx)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"\n]+)"|<([^>\n]+)>)', re.M)


def folder_of(rel):
    """The declared folder that holds `rel` (longest match), and its rank."""
    best = None
    for rank, (_, folders) in enumerate(LAYERS):
        for f in folders:
            if rel == f or rel.startswith(f + "/"):
                if best is None or len(f) > len(best[0]):
                    best = (f, rank)
    return best


def resolve(root, including, name, angled):
    """The file of the tree an include names, or None (a system, Qt or
    generated header). A quoted name is looked for beside the including file
    first; an angle-bracket name only in the include folders."""
    bases = ([] if angled else [os.path.dirname(including)]) + [""] + BARE_ROOTS
    for base in bases:
        candidate = os.path.normpath(os.path.join(base, name))
        if candidate.startswith(".."):
            continue
        if os.path.isfile(os.path.join(root, candidate)) and not SKIP.match(candidate):
            return candidate
    return None


def layer_of(folder):
    return next(rank for rank, (_, folders) in enumerate(LAYERS) if folder in folders)


def may_include(owner, theirs):
    """None when `owner` may include `theirs` (both (folder, rank)), else why not."""
    if owner[0] in OUTSIDE:
        if theirs[0] not in OUTSIDE[owner[0]]:
            return (f"{owner[0]} is a library of its own and may use only "
                    f"{', '.join(sorted(OUTSIDE[owner[0]]))}")
        return None
    if theirs[1] > owner[1]:
        return f"the {LAYERS[owner[1]][0]} layer may not include the {LAYERS[theirs[1]][0]} layer above it"
    limit = LINKS_UP_TO.get(owner[0])
    if limit is not None and theirs[1] > [name for name, _ in LAYERS].index(limit):
        return f"{owner[0]} links only the {limit} layer and those below it"
    return None


def cycles(edges):
    """The strongly connected groups of more than one folder (Tarjan)."""
    index, low, stack, on, groups = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return groups


def sources(root):
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root)
        rel_dir = "" if rel_dir == "." else rel_dir
        dirnames[:] = sorted(d for d in dirnames if not SKIP.match(os.path.join(rel_dir, d)))
        for name in sorted(filenames):
            rel = os.path.join(rel_dir, name)
            if SOURCE.search(name) and not SKIP.match(rel):
                yield rel


def check(root):
    problems = []
    # folder -> folder -> the first include seen that makes the edge
    edges = {}
    pending = list(sources(root))
    seen = set(pending)
    while pending:
        rel = pending.pop(0)
        owner = folder_of(rel)
        if owner is None:
            problems.append(f"{rel}: its folder belongs to no layer (declare it in scripts/check-layers.py)")
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for quoted, angled in INCLUDE.findall(text):
            target = resolve(root, rel, quoted or angled, angled=bool(angled))
            if target is None:
                continue
            if target not in seen:
                # An included file is part of what includes it, whatever its name.
                seen.add(target)
                pending.append(target)
            theirs = folder_of(target)
            if theirs is None:
                continue
            why = may_include(owner, theirs)
            if why:
                problems.append(f"{rel} includes {target}: {why}")
            elif theirs[0] != owner[0]:
                edges.setdefault(owner[0], {}).setdefault(theirs[0], f"{rel} includes {target}")
    known = [set(c) for c in KNOWN_CYCLES]
    for group in cycles(edges):
        if set(group) in known:
            continue
        links = "; ".join(edges[a][b] for a in group for b in sorted(edges[a]) if b in group)
        layer = LAYERS[layer_of(group[0])][0]
        problems.append(f"{' and '.join(group)} include each other in a circle within the {layer} layer: {links}")
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

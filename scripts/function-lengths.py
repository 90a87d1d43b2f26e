#!/usr/bin/env python3
"""Lists the functions of C++ sources by length, longest first.

usage: function-lengths.py [--over N] PATH...

PATH is a file or a folder (searched for .cpp and .h). A function's length
counts its lines from the first line of its signature to its closing brace,
both included. Functions are found with a brace counter, not a compiler:
comments, string and character literals are skipped, namespace, class and
struct bodies are looked into, and every other brace at that level that
follows a parameter list opens a function (lambdas inside a function count
towards it). With --over N only the functions longer than N lines are listed
and the exit status is 1 when there are any, so that a check can use it.
"""

import os
import re
import signal
import sys

TRANSPARENT = re.compile(r'^(?:template\s*<.*>\s*)?(?:namespace\b|class\b|struct\b|union\b|extern\s*"C")')


def strip(text):
    """The text with comments and literals blanked out, line breaks kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == '_')):
            k = text.find('(', i + 2)
            delim = ')' + text[i + 2:k] + '"'
            j = text.find(delim, k)
            j = n if j < 0 else j + len(delim)
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c in '"\'':
            # A digit separator (1'000) is no literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum() \
                    and text[i - 1].isdigit():
                out.append(' ')
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            j = min(n, j + 1)
            out.append(' ' * (j - i))
            i = j
        elif c == '#' and (i == 0 or text[i - 1] == '\n'):
            # Preprocessor lines, with their continuations.
            j = i
            while True:
                e = text.find('\n', j)
                if e < 0:
                    e = n
                    break
                if text[e - 1] != '\\':
                    break
                j = e + 1
            out.append(re.sub(r'[^\n]', ' ', text[i:e]))
            i = e
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def function_name(header):
    depth = 0
    for k, c in enumerate(header):
        if c == '(' and depth == 0:
            m = re.search(r'([\w:~<>,\s]*?)(operator\s*\S+|[\w:~]+)\s*$', header[:k])
            return m.group(2) if m else header[:k].strip()
        if c == '<':
            depth += 1
        elif c == '>':
            depth = max(0, depth - 1)
    return header.strip()


def functions(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        text = strip(f.read())
    found = []
    stack = []  # per open brace: 'open' (looked into), 'function', 'other'
    header_start = 0
    line = 1
    function_open = None  # (name, first line, depth)
    for i, c in enumerate(text):
        if c == '\n':
            line += 1
        elif c in ';{}':
            looking = all(kind == 'open' for kind in stack)
            if c == '{':
                kind = 'other'
                if looking:
                    header = text[header_start:i]
                    stripped = header.strip()
                    if TRANSPARENT.match(stripped) and '(' not in stripped.split('{')[0]:
                        kind = 'open'
                    elif '(' in stripped and '=' not in stripped[:stripped.find('(')] \
                            and not re.match(r'^(enum|typedef|using)\b', stripped):
                        kind = 'function'
                        begin = header_start + len(header) - len(header.lstrip())
                        first = line - text[begin:i].count('\n')
                        function_open = (function_name(stripped), first, len(stack))
                stack.append(kind)
            elif c == '}':
                if stack:
                    kind = stack.pop()
                    if kind == 'function' and function_open and function_open[2] == len(stack):
                        found.append((line - function_open[1] + 1, function_open[0], path, function_open[1]))
                        function_open = None
            if all(kind == 'open' for kind in stack):
                header_start = i + 1
        elif c == ':' and all(kind == 'open' for kind in stack):
            # Access labels (public:) end a header; a scope (::) or an
            # initialiser list does not.
            before = text[header_start:i].strip()
            if before in ('public', 'private', 'protected', 'signals', 'public slots', 'private slots',
                          'protected slots', 'Q_SIGNALS', 'Q_SLOTS'):
                header_start = i + 1
    return found


def main(argv):
    over = None
    paths = []
    args = iter(argv[1:])
    for a in args:
        if a == '--over':
            over = int(next(args))
        elif a in ('-h', '--help'):
            print(__doc__)
            return 0
        else:
            paths.append(a)
    files = []
    for p in paths:
        if os.path.isdir(p):
            for root, _, names in os.walk(p):
                files += [os.path.join(root, n) for n in names if n.endswith(('.cpp', '.h'))]
        else:
            files.append(p)
    rows = []
    for f in sorted(files):
        rows += functions(f)
    rows.sort(key=lambda r: (-r[0], r[2], r[3]))
    if over is not None:
        rows = [r for r in rows if r[0] > over]
    for length, name, path, first in rows:
        print(f'{length:5d}  {name}  {path}:{first}')
    return 1 if over is not None and rows else 0


if __name__ == '__main__':
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quietly ends when piped into head
    sys.exit(main(sys.argv))

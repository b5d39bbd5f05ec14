#!/usr/bin/env bash
# Checks that every function defined under the given folders is at most
# LIMIT lines long, counted from the line of its name to its closing brace.
# Prints each one that is longer, with its file, line and length, and exits 1
# when there is one.
#
#   check-function-length.sh [LIMIT [DIR...]]    (default: 60, the src/ beside this script)
#
# The C++ is read by a small scanner rather than a compiler, so it needs no
# build: comments, string and character literals and preprocessor lines are
# blanked, then each brace block is classed by the text before it. A block
# after a parameter list, outside every other function, is a function (a
# lambda or a local class counts towards the function around it);
# namespaces, classes, enums, initializer lists and braces inside
# parentheses are not.
set -euo pipefail

limit=${1:-60}
shift || true
if [ "$#" -eq 0 ]; then
    set -- "$(cd "$(dirname "$0")/../src" && pwd)"
fi

exec python3 - "$limit" "$@" <<'PYTHON'
import os
import re
import sys

limit = int(sys.argv[1])
roots = sys.argv[2:]


def blank(text):
    """The text with comments, literals and preprocessor lines made spaces,
    line ends kept."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == '#':
            # A preprocessor line, with its continuations.
            while i < n and text[i] != '\n':
                if text[i] == '\\' and i + 1 < n and text[i + 1] == '\n':
                    out.append(' \n')
                    i += 2
                    continue
                out.append(' ')
                i += 1
            continue
        if c == '\n':
            out.append(c)
            line_start = True
            i += 1
            continue
        if c in ' \t':
            out.append(c)
            i += 1
            continue
        line_start = False
        if text.startswith('//', i):
            while i < n and text[i] != '\n':
                out.append(' ')
                i += 1
        elif text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == '_')):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(')' + m.group(1) + '"', i) if m else -1
            end = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
        elif c in '"\'':
            if c == "'" and i > 0 and text[i - 1].isalnum():
                out.append(' ')  # a digit separator
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            out.append(' ' * (min(j + 1, n) - i))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return ''.join(out)


TYPE = re.compile(r'\b(namespace|class|struct|union|enum)\b')
CONTROL = re.compile(r'^\s*(if|for|while|switch|catch|do|else|try)\b')


def functions(text):
    """(name, first line, last line) of each function defined in the text."""
    found = []
    stack = []    # per open brace: True when it opens a function
    header = []   # the text since the last ; { or } at paren depth 0
    header_start = None
    parens = 0
    line = 1
    start_line = None  # the line of the name of the function being read
    for c in text:
        if c == '\n':
            line += 1
        if c == '(':
            parens += 1
        elif c == ')':
            parens -= 1
        if parens > 0 or c not in '{};':
            if not c.isspace() and header_start is None:
                header_start = line
            header.append((c, line))
            continue
        head = ''.join(ch for ch, _ in header)
        if c == '{':
            inside = any(stack)
            is_function = (not inside and '(' in head and not TYPE.search(head.split('(')[0])
                           and not CONTROL.match(head) and '=' not in head.split('(')[0]
                           and not head.rstrip().endswith('='))
            if is_function:
                # The name is the identifier before the first parenthesis.
                first = head.index('(')
                m = re.search(r'(~?[A-Za-z_][A-Za-z_0-9]*)\s*(\(\s*\))?\s*$', head[:first])
                name = m.group(1) if m else '?'
                offset = m.start(1) if m else 0
                start_line = header[offset][1] if header else line
                found.append([name, start_line, None])
            stack.append(is_function)
        elif c == '}':
            if stack:
                was_function = stack.pop()
                if was_function:
                    for entry in reversed(found):
                        if entry[2] is None:
                            entry[2] = line
                            break
        header = []
        header_start = None
    return found


failures = 0
for root in roots:
    paths = []
    if os.path.isfile(root):
        paths = [root]
    else:
        for folder, _, files in os.walk(root):
            paths += [os.path.join(folder, f) for f in files if f.endswith(('.h', '.cpp'))]
    for path in sorted(paths):
        with open(path, encoding='utf-8', errors='replace') as f:
            text = blank(f.read())
        for name, first, last in functions(text):
            if last is None:
                continue
            length = last - first + 1
            if length > limit:
                print(f'{path}:{first}: {name} is {length} lines long (at most {limit})')
                failures += 1
if failures:
    print(f'{failures} function(s) longer than {limit} lines')
    sys.exit(1)
PYTHON

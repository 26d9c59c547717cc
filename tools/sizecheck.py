#!/usr/bin/python3
"""Counts what the size rules forbid below a source folder: include loops
(between units, a unit being X.h with X.cpp), functions over 60 lines
(from the line of the signature to the closing brace) and .cpp files over
400 lines. Usage: tools/sizecheck.py [SRC_DIR] (src by default)."""
import os, re, sys

root = sys.argv[1] if len(sys.argv) > 1 else 'src'
FUNC_MAX, FILE_MAX = 60, 400

files = []
for d, _, names in os.walk(root):
    files += [os.path.join(d, n) for n in names if n.endswith(('.h', '.cpp'))]

def unit(path):
    return os.path.splitext(os.path.relpath(path, root))[0]

# Include loops: strongly connected components of the unit graph.
graph = {}
for f in files:
    u = unit(f)
    graph.setdefault(u, set())
    for m in re.finditer(r'#include "([^"]+)\.h"', open(f, encoding='utf-8').read()):
        if m.group(1) != u and os.path.exists(os.path.join(root, m.group(1) + '.h')):
            graph[u].add(m.group(1))
index, low, stack, on, sccs = {}, {}, [], set(), []
def strong(v):
    index[v] = low[v] = len(index); stack.append(v); on.add(v)
    for w in graph.get(v, ()):
        if w not in index:
            strong(w); low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        comp = []
        while True:
            w = stack.pop(); on.discard(w); comp.append(w)
            if w == v: break
        if len(comp) > 1: sccs.append(sorted(comp))
sys.setrecursionlimit(10000)
for v in list(graph):
    if v not in index: strong(v)

# Long functions: outermost bodies whose brace follows ")" (with qualifiers)
# at namespace or class level. Strings, characters and comments are blanked.
def blank(text):
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i); j = n if j < 0 else j
            out.append(' ' * (j - i)); i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2); j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j])); i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(')' + m.group(1) + '"', i) + len(m.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end])); i = end
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            out.append(c + ' ' * (j - i - 1) + c); i = j + 1
        else:
            out.append(c); i += 1
    return ''.join(out)

longFuncs, longFiles = [], []
for f in sorted(files):
    raw = open(f, encoding='utf-8').read()
    lines = raw.count('\n')
    if f.endswith('.cpp') and lines > FILE_MAX:
        longFiles.append((lines, f))
    # Preprocessor lines are no part of a signature.
    text = re.sub(r'(?m)^[ \t]*#.*$', lambda m: ' ' * len(m.group()), blank(raw))
    stack, last = [], 0   # stack of (kind, startLine, name)
    for m in re.finditer(r'[{};]', text):
        ch, pos = m.group(), m.start()
        head = text[last:pos]
        if ch == '{':
            inFunc = any(k != 'scope' for k, _, _ in stack)
            h = re.sub(r'\s+', ' ', head).strip()
            if re.search(r'\b(namespace|class|struct|union|enum)\b[^()]*$', h) or h.startswith('extern'):
                kind = 'scope'
            elif not inFunc and re.search(r'\)\s*(const|noexcept|override|final|mutable|->[^{]*|\s)*$', h) \
                    and not re.match(r'(if|for|while|switch|catch)\b', h) and '=' not in h.split('(')[0]:
                kind = 'func'
            else:
                kind = 'block'
            start = text.count('\n', 0, last + len(head) - len(head.lstrip())) + 1
            name = re.findall(r'([\w:~]+)\s*\(', h)
            stack.append((kind, start, name[0] if name else h[:40]))
        elif ch == '}' and stack:
            kind, start, name = stack.pop()
            if kind == 'func':
                n = text.count('\n', 0, pos) + 1 - start + 1
                if n > FUNC_MAX:
                    longFuncs.append((n, f, name))
        last = pos + 1

print(f'include loops: {len(sccs)}')
for c in sccs: print('  ' + ' <-> '.join(c))
print(f'functions over {FUNC_MAX} lines: {len(longFuncs)}')
for n, f, name in sorted(longFuncs, reverse=True): print(f'  {n:4} {f} {name}')
print(f'.cpp files over {FILE_MAX} lines: {len(longFiles)}')
for n, f in sorted(longFiles, reverse=True): print(f'  {n:4} {f}')

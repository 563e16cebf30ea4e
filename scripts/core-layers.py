#!/usr/bin/env python3
"""Checks the core's layering: no folder of src/core includes a folder that includes it back, and no
chain of includes is longer than seven files (a file stands one level above everything it includes).
Prints each folder with the folders it includes, lowest first."""
import os
import re
import sys

CORE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src')
DEEPEST = 7
INCLUDE = re.compile(r'^\s*#\s*include\s+"(core/[^"]+)"', re.M)

includes = {}
for folder, _, names in os.walk(os.path.join(CORE, 'core')):
    for name in names:
        if name.endswith(('.h', '.cpp')):
            path = os.path.relpath(os.path.join(folder, name), CORE)
            with open(os.path.join(CORE, path), encoding='utf-8') as source:
                includes[path] = [found for found in INCLUDE.findall(source.read()) if found != path]

folders = {}
for path, found in includes.items():
    here = os.path.dirname(path)
    folders.setdefault(here, set()).update(os.path.dirname(f) for f in found if os.path.dirname(f) != here)


def level(node, graph, seen=()):
    """One above the highest of what node includes; None when node includes itself through others."""
    if node in seen:
        return None
    below = [level(other, graph, seen + (node,)) for other in graph.get(node, ()) if other in graph]
    return None if None in below else 1 + max(below, default=0)


failed = False
for folder in sorted(folders, key=lambda f: (level(f, folders) or 99, f)):
    found = level(folder, folders)
    print(f"{folder}: {'in a loop' if found is None else 'level ' + str(found)}; includes {', '.join(sorted(folders[folder])) or 'nothing'}")
    failed |= found is None
deepest = max(includes, key=lambda p: level(p, includes) or 99)
print(f'longest chain of includes: {level(deepest, includes)} files, from {deepest}')
if failed or (level(deepest, includes) or 99) > DEEPEST:
    print(f'the core must hold no loop between folders and no chain of includes over {DEEPEST} files')
    sys.exit(1)

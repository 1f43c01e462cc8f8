#!/usr/bin/env python3
"""Reads the #include lines of the sources and fails on an edge that the layer table does
not allow (an include that points up the layers, or sideways).

  check_layers.py [--root DIR] [--table FILE]

The table (tests/layers/layers.txt) gives one line per folder: the folder, then the folders
whose headers its files may include. A quoted include is looked up beside the including
file, then from the root; one found in neither place (a third-party or system header) is not
a layer edge. Exit code 0 when every edge is allowed, 1 otherwise, 2 for a bad table."""

import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCES = ('.h', '.hpp', '.c', '.cpp', '.inc')


def read_table(path):
    allowed = {}
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.split('#', 1)[0].split()
            if not line:
                continue
            folder, targets = line[0].strip('/'), [t.strip('/') for t in line[1:]]
            if folder in allowed:
                raise ValueError(f'{path}:{number}: {folder} listed twice')
            allowed[folder] = set(targets)
    for folder, targets in allowed.items():
        for t in targets - set(allowed):
            raise ValueError(f'{path}: {folder} may include {t}, which has no line of its own')
    return allowed


def layer_of(rel, folders):
    """The longest table folder that starts the path rel, or None."""
    best = None
    for folder in folders:
        if rel == folder or rel.startswith(folder + '/'):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument('--root', default=os.path.dirname(os.path.dirname(here)))
    parser.add_argument('--table', default=os.path.join(here, 'layers.txt'))
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    try:
        allowed = read_table(args.table)
    except (OSError, ValueError) as e:
        print(e, file=sys.stderr)
        return 2
    for folder in allowed:
        if not os.path.isdir(os.path.join(root, folder)):
            print(f'{args.table}: folder {folder} does not exist under {root}', file=sys.stderr)
            return 2

    bad = []
    edges = 0
    tops = sorted({f.split('/')[0] for f in allowed})
    for top in tops:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root).replace(os.sep, '/')
                source = layer_of(rel, allowed)
                if source is None:
                    continue
                with open(path, encoding='utf-8', errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        header = m.group(1)
                        beside = os.path.normpath(os.path.join(dirpath, header))
                        if os.path.isfile(beside):
                            target_path = beside
                        elif os.path.isfile(os.path.join(root, header)):
                            target_path = os.path.join(root, header)
                        else:
                            continue
                        target_rel = os.path.relpath(target_path, root).replace(os.sep, '/')
                        target = layer_of(target_rel, allowed)
                        if target is None:
                            bad.append(f'{rel}:{number}: includes {target_rel}, '
                                       f'which belongs to no layer')
                            continue
                        edges += 1
                        if target not in allowed[source]:
                            bad.append(f'{rel}:{number}: {source} -> {target} ({header}) '
                                       f'is not allowed by the layer table')
    for line in bad:
        print(line)
    if bad:
        print(f'{len(bad)} include(s) break the layers', file=sys.stderr)
        return 1
    print(f'{edges} includes checked, all point down the layers')
    return 0


if __name__ == '__main__':
    sys.exit(main())

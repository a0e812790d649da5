#!/usr/bin/env python3
"""Checks that every source of src/ includes only its own layer and those below
it (core < network < order < cage < census < io < series < app), and that the
Python bindings include no header of src/app. Prints each upward include and
exits with 1 when there is one."""
import pathlib
import re
import sys

LAYERS = ["core", "network", "order", "cage", "census", "io", "series", "app"]
INCLUDE = re.compile(r'\s*#\s*include\s+"(\w+)/')


def upward(root):
    for path in sorted((root / "src").glob("*/*")) + sorted((root / "python" / "src").glob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = path.parent.name
        top = LAYERS.index("series") if layer == "src" else LAYERS.index(layer)
        for number, line in enumerate(path.read_text().splitlines(), 1):
            m = INCLUDE.match(line)
            if m and m.group(1) in LAYERS and LAYERS.index(m.group(1)) > top:
                yield "%s:%d: %s" % (path.relative_to(root), number, line.strip())


if __name__ == "__main__":
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = list(upward(root))
    for f in found:
        print("includes upward:", f)
    sys.exit(1 if found else 0)

#!/usr/bin/env python3
"""Checks that every include in src/ and tools/ points down the layer list.

The list is the README's Layout, top to bottom: a file may include its own
folder and any folder below it, never one above. A backend sits above the
object-model interface it implements; the exported header includes nothing,
so it sits at the bottom and every layer may use its record types.
Prints each include that points up and exits 1 if there is one.
"""
import pathlib
import re
import sys

LAYERS = ["tools/zelsync", "src", "src/backend", "src/records", "src/tracker", "src/store",
          "src/formats", "src/local", "src/outlook/com", "src/object_model", "src/platform",
          "include"]
ROOT = pathlib.Path(__file__).resolve().parent.parent
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """The index of the deepest layer folder holding PATH (relative to ROOT)."""
    parts = [i for i, layer in enumerate(LAYERS)
             if path == layer or path.startswith(layer + "/")]
    return max(parts, key=lambda i: len(LAYERS[i])) if parts else None


def target_of(source, name):
    """Where an include resolves: next to SOURCE, then under src/ or include/."""
    for base in (source.parent, ROOT / "src", ROOT / "include"):
        if (base / name).is_file():
            return (base / name).resolve().relative_to(ROOT).as_posix()
    return None


def main():
    upward = []
    for source in sorted(p for top in ("src", "tools/zelsync") for p in (ROOT / top).rglob("*")
                         if p.suffix in (".cc", ".h")):
        own = layer_of(source.relative_to(ROOT).as_posix())
        for name in INCLUDE.findall(source.read_text(encoding="utf-8")):
            target = target_of(source, name)
            if target is None:
                upward.append(f"{source.relative_to(ROOT)}: \"{name}\" is not in the tree")
            elif layer_of(target) < own:
                upward.append(f"{source.relative_to(ROOT)}: \"{name}\" points up to {target}")
    print("\n".join(upward) if upward else "every include points down the layer list")
    return 1 if upward else 0


if __name__ == "__main__":
    sys.exit(main())

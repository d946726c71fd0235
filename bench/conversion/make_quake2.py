#!/usr/bin/env python3
"""Writes the trees of a Quake 2 installation of the real size for the conversion benchmark.

Usage: make_quake2.py MANIFEST FOLDER
FOLDER/pak0 gets one file for each manifest entry (about 180 MB in all, about 75 MB of it in
the folders that go into pak0.pk3), FOLDER/pak1 the two tag pictures and FOLDER/pak2 the two
weapon skins.
"""
import os
import random
import sys

rng = random.Random(2026)
# Repetitive runs compress well, random ones not at all, like real textures and sounds.
PATTERN = bytes(range(48)) * 2000

# Typical sizes by extension, in bytes (low, high).
SIZES = {
    ".wal": (8_000, 42_000), ".wav": (20_000, 110_000), ".pcx": (4_000, 70_000),
    ".tga": (150_000, 250_000), ".md2": (30_000, 170_000), ".bsp": (900_000, 2_000_000),
    ".sp2": (100, 400), ".dm2": (200_000, 600_000), ".cfg": (200, 2_000),
}


def contents(size):
    parts, left = [], size
    while left > 0:
        n = min(left, rng.choice((2048, 4096, 8192)))
        parts.append(os.urandom(n) if rng.random() < 0.5 else PATTERN[:n])
        left -= n
    return b"".join(parts)


def write(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(contents(size))


def main():
    manifest, folder = sys.argv[1], sys.argv[2]
    total = 0
    for line in open(manifest, encoding="ascii").read().split("\n"):
        entry = line.strip().lstrip("\\")
        if not entry:
            continue
        low, high = SIZES.get(os.path.splitext(entry)[1].lower(), (1_000, 8_000))
        size = rng.randint(low, high)
        write(os.path.join(folder, "pak0", *entry.split("\\")), size)
        total += size
    for name in ("pics/tag1.pcx", "pics/tag2.pcx"):
        write(os.path.join(folder, "pak1", name), 9_000)
    for name in ("models/weapons/g_blast/base.pcx", "models/weapons/g_flareg/base.pcx"):
        write(os.path.join(folder, "pak2", name), 30_000)
    print(f"pak0 tree: {total / 1e6:.0f} MB")


main()

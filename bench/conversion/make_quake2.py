#!/usr/bin/env python3
"""Writes the trees of a Quake 2 installation of the real size for the conversion benchmark.

Usage: make_quake2.py MANIFEST FOLDER [--real | --small]
FOLDER/pak0 gets one file for each manifest entry (about 180 MB in all, about 75 MB of it in
the folders that go into pak0.pk3; with --small about 15 MB there, of random bytes that hardly
compress, so the cost per file outweighs the cost per byte), FOLDER/pak1 the two tag pictures
and FOLDER/pak2 the two weapon skins. Without --real the contents are generated; with --real they are real game files
of the same kind (pictures, sounds, models, maps) from Debian's OpenArena data (bench/setup.sh
installs it), joined or cut to sizes like the retail archive's.
"""
import argparse
import glob
import os
import random
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from game_bytes import game_like  # noqa: E402

rng = random.Random(2026)

# Typical sizes by extension, in bytes (low, high).
SIZES = {
    ".wal": (8_000, 42_000), ".wav": (20_000, 110_000), ".pcx": (4_000, 70_000),
    ".tga": (150_000, 250_000), ".md2": (30_000, 170_000), ".bsp": (900_000, 2_000_000),
    ".sp2": (100, 400), ".dm2": (200_000, 600_000), ".cfg": (200, 2_000),
}
# The kind of real file that stands in for each Quake 2 kind.
KINDS = {".wal": "image", ".pcx": "image", ".tga": "image", ".wav": "sound", ".md2": "model",
         ".bsp": "map", ".sp2": "model", ".dm2": "map"}
REAL_KINDS = {".tga": "image", ".jpg": "image", ".png": "image", ".wav": "sound",
              ".ogg": "sound", ".md3": "model", ".ase": "model", ".bsp": "map"}


class RealFiles:
    """Members of the OpenArena archives by kind, read as they are needed."""

    def __init__(self):
        self.members = {}
        archives = sorted(glob.glob("/usr/share/games/openarena/*/*.pk3"))
        if not archives:
            sys.exit("no OpenArena data: run bench/setup.sh")
        for path in archives:
            archive = zipfile.ZipFile(path)
            for info in archive.infolist():
                kind = REAL_KINDS.get(os.path.splitext(info.filename)[1].lower(), "other")
                if info.file_size > 0:
                    self.members.setdefault(kind, []).append((archive, info))
        for members in self.members.values():
            rng.shuffle(members)
        self.next = {kind: 0 for kind in self.members}

    def contents(self, kind, size):
        kind = kind if kind in self.members else "other"
        parts, left = [], size
        while left > 0:
            archive, info = self.members[kind][self.next[kind] % len(self.members[kind])]
            self.next[kind] += 1
            data = archive.read(info)[:left]
            parts.append(data)
            left -= len(data)
        return b"".join(parts)


# The top folders whose files go into pak0.pk3.
PACKED = ("env", "models", "pics", "sound", "sprites")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("manifest", metavar="MANIFEST", help="core/conversion/src/pak0_manifest.txt")
    parser.add_argument("folder", metavar="FOLDER", help="the folder to write the trees into")
    parser.add_argument("--real", action="store_true", help="real game files, not generated")
    parser.add_argument("--small", action="store_true",
                        help="about 15 MB going into pak0.pk3, the rest random bytes")
    arguments = parser.parse_args()
    manifest, folder = arguments.manifest, arguments.folder
    real = RealFiles() if arguments.real else None
    small = arguments.small

    def write(path, size, extension, random_bytes=False):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            kind = KINDS.get(extension, "other")
            if random_bytes:
                f.write(os.urandom(size))
            else:
                f.write(real.contents(kind, size) if real else game_like(size, rng))

    total = 0
    for line in open(manifest, encoding="ascii").read().split("\n"):
        entry = line.strip().lstrip("\\")
        if not entry:
            continue
        extension = os.path.splitext(entry)[1].lower()
        low, high = SIZES.get(extension, (1_000, 8_000))
        size = rng.randint(low, high)
        packed_small = small and entry.split("\\")[0] in PACKED
        if packed_small:
            size = rng.randint(2_000, 24_000)
        write(os.path.join(folder, "pak0", *entry.split("\\")), size, extension, packed_small)
        total += size
    for name in ("pics/tag1.pcx", "pics/tag2.pcx"):
        write(os.path.join(folder, "pak1", name), 9_000, ".pcx")
    for name in ("models/weapons/g_blast/base.pcx", "models/weapons/g_flareg/base.pcx"):
        write(os.path.join(folder, "pak2", name), 30_000, ".pcx")
    print(f"pak0 tree: {total / 1e6:.0f} MB")


main()

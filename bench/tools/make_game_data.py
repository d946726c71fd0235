#!/usr/bin/env python3
"""Writes a game-like file tree for the tool benchmark: 3307 files, about 180 MB.

Usage: make_game_data.py FOLDER LIST
FOLDER gets the tree; LIST gets 1124 of its paths (about 75 MB), one a line, to add to a zip.
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from game_bytes import game_like  # noqa: E402

rng = random.Random(1997)


def plan():
    files = []
    for i in range(2780):  # textures and pictures, 2-20 KB
        folder = rng.choice(("textures/e1u1", "textures/e2u2", "pics", "models/items", "env"))
        files.append((f"{folder}/t{i:04d}.wal", rng.randint(2_000, 20_000)))
    for i in range(500):  # sounds, 50-300 KB
        folder = rng.choice(("sound/boss3", "sound/weapons", "sound/world", "sound/player"))
        files.append((f"{folder}/s{i:03d}.wav", rng.randint(50_000, 300_000)))
    for i in range(27):  # levels, 1-3.5 MB
        files.append((f"maps/base{i:02d}.bsp", rng.randint(1_000_000, 3_500_000)))
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder", metavar="FOLDER", help="the folder to write the tree into")
    parser.add_argument("list_path", metavar="LIST", help="the file to write the list into")
    arguments = parser.parse_args()
    folder, list_path = arguments.folder, arguments.list_path
    files = plan()
    for name, size in files:
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(game_like(size, rng))
    # The files to zip: textures, sounds and a few levels, as one pk3 of the program gets.
    chosen = files[:880] + files[2780:3014] + files[3280:3290]
    with open(list_path, "w") as f:
        f.write("".join(name + "\n" for name, _ in chosen))
    total = sum(size for _, size in files) / 1e6
    added = sum(size for _, size in chosen) / 1e6
    print(f"{len(files)} files, {total:.0f} MB; {len(chosen)} to add, {added:.0f} MB")


main()

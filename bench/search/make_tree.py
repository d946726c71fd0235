#!/usr/bin/env python3
"""Makes the folder tree of the search bench: one wide folder, deep chains, a bushy rest,
a few .exe files and some real-looking game installations."""
import argparse
import os
import random


def touch(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("dest", metavar="FOLDER", help="the new folder to make the tree in")
    parser.add_argument("total", metavar="FOLDERS", type=int, help="about how many folders")
    arguments = parser.parse_args()
    dest, total = arguments.dest, arguments.total
    random.seed(7)
    os.makedirs(dest)
    made = []

    def mkdir(path):
        os.mkdir(path)
        made.append(path)

    mkdir(f"{dest}/wide")
    for i in range(20000):
        mkdir(f"{dest}/wide/w{i:05d}")

    mkdir(f"{dest}/chains")
    chains = max(1, (total // 5) // 41)
    for c in range(chains):
        path = f"{dest}/chains/c{c:04d}"
        mkdir(path)
        for depth in range(40):
            path = f"{path}/d{depth:02d}"
            mkdir(path)

    mkdir(f"{dest}/bushy")
    frontier = [f"{dest}/bushy"]
    while len(made) < total:
        parent = frontier.pop(0)
        for i in range(6):
            if len(made) >= total:
                break
            mkdir(f"{parent}/b{i}")
            frontier.append(f"{parent}/b{i}")

    # Stray programs and installations (the game folders add a few folders of their own).
    for path in random.sample(made, 30):
        touch(f"{path}/{random.choice(['setup.exe', 'QUAKE2.EXE', 'tool.exe'])}")
    for path in (made[10000], made[-1], f"{dest}/chains/c0000/" + "/".join(f"d{d:02d}" for d in range(40))):
        touch(f"{path}/quake2.exe")
        touch(f"{path}/baseq2/pak0.pak")
    touch(f"{made[-2]}/quake3.exe")
    touch(f"{made[-2]}/baseq3/pak0.pk3")


if __name__ == "__main__":
    main()

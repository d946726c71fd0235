"""Generated file contents that compress like game data."""
import os

# Repetitive runs compress well, random ones not at all, like real textures and sounds.
PATTERN = bytes(range(48)) * 2000


def game_like(size, rng):
    """`size` bytes in runs of 2, 4 or 8 KiB, each random or repetitive, chosen by `rng`."""
    parts, left = [], size
    while left > 0:
        n = min(left, rng.choice((2048, 4096, 8192)))
        parts.append(os.urandom(n) if rng.random() < 0.5 else PATTERN[:n])
        left -= n
    return b"".join(parts)


if __name__ == "__main__":
    raise SystemExit("usage: a module of the benchmark scripts (from game_bytes import game_like)")

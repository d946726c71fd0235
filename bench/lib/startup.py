#!/usr/bin/env python3
"""Prints the median wall milliseconds of RUNS starts of a command, its output discarded.

Usage: startup.py RUNS COMMAND [ARG ...]
Each run is one posix_spawn and wait, so the figure is the command's start-up and work plus
the cost of starting any process here, which /bin/true measured the same way shows.
"""
import argparse
import os
import statistics
import time

parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
parser.add_argument("runs", metavar="RUNS", type=int, help="how many starts")
parser.add_argument("argv", metavar="COMMAND [ARG ...]", nargs=argparse.REMAINDER)
arguments = parser.parse_args()
if not arguments.argv or arguments.runs < 1:
    parser.error("give a number of runs and a command")
runs, argv = arguments.runs, arguments.argv
devnull = os.open(os.devnull, os.O_WRONLY)
actions = [(os.POSIX_SPAWN_DUP2, devnull, 1), (os.POSIX_SPAWN_DUP2, devnull, 2)]
times = []
for _ in range(runs):
    start = time.perf_counter()
    os.waitpid(os.posix_spawn(argv[0], argv, os.environ, file_actions=actions), 0)
    times.append(time.perf_counter() - start)
print(f"{statistics.median(times) * 1000:.2f}")

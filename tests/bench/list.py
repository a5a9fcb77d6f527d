#!/usr/bin/env python3
"""How much `tuvrek-disk list --json` costs over its floor: a shell that runs the same lsblk command.

The two commands run alternately, one run of each at a time, so that a machine growing busier or quieter
weighs on both alike. Printed: the median wall time and page faults of each, the ratio of the medians
(the aim is at most 1.2), and the quartiles of the ratios within each pair of runs, which show how noisy
the machine was. The faults are counted because on a virtual machine each costs microseconds, and they
are most of what starting a program costs.

Usage: list.py <build folder> [pairs of runs]
"""

import os
import re
import statistics
import sys
import time


def run(argv, env, null):
    """Wall milliseconds and minor page faults of one run, with the children it waited for."""
    start = time.perf_counter_ns()
    pid = os.posix_spawnp(argv[0], argv, env, file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
    _, status, usage = os.wait4(pid, 0)
    elapsed = (time.perf_counter_ns() - start) / 1e6
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(argv)} failed")
    return elapsed, usage.ru_minflt


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: list.py <build folder> [pairs of runs]")
    build = sys.argv[1]
    pairs = int(sys.argv[2]) if len(sys.argv) == 3 else 300
    here = os.path.dirname(os.path.abspath(__file__))
    cli = os.path.join(build, "bin", "tuvrek-disk")
    if not os.access(cli, os.X_OK):
        sys.exit(f"no {cli}: build first")

    # The columns the program asks for, so that both sides run the same lsblk.
    with open(os.path.join(here, "..", "..", "core", "include", "tuvrek", "drives.hpp")) as header:
        found = re.search(r'^\s*"(NAME,[A-Z,]*)";$', header.read(), re.MULTILINE)
    if not found:
        sys.exit("no lsblk columns found in core/include/tuvrek/drives.hpp")
    floor = ["sh", "-c", f"lsblk --json --bytes --output {found.group(1)} ; true"]
    ours = [cli, "list", "--json"]

    env = {k: v for k, v in os.environ.items() if not k.startswith("TUVREK_DISK_")}
    null = os.open(os.devnull, os.O_WRONLY)
    run(floor, env, null)
    run(ours, env, null)
    floor_runs, our_runs = [], []
    for _ in range(pairs):
        floor_runs.append(run(floor, env, null))
        our_runs.append(run(ours, env, null))

    floor_ms = statistics.median(t for t, _ in floor_runs)
    our_ms = statistics.median(t for t, _ in our_runs)
    floor_faults = statistics.median(f for _, f in floor_runs)
    our_faults = statistics.median(f for _, f in our_runs)
    quartiles = statistics.quantiles((c[0] / f[0] for f, c in zip(floor_runs, our_runs)), n=4)
    print(f'sh -c "lsblk --json --bytes ...; true": {floor_ms:.2f} ms, {floor_faults:.0f} page faults '
          f"per run (median of {pairs})")
    print(f"tuvrek-disk list --json:               {our_ms:.2f} ms, {our_faults:.0f} page faults per run")
    print(f"ratio: {our_ms / floor_ms:.3f} (aim: <= 1.2); ratios within a pair from {quartiles[0]:.3f} to "
          f"{quartiles[2]:.3f} between the quartiles")


main()

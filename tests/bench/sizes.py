#!/usr/bin/env python3
"""The size of each program of a build, as built and stripped (`strip -o`, so the build keeps its own).

tuvrek-disk carries its C++ runtime and ICU without ICU's data (core/CMakeLists.txt); the aim is under
4 MB stripped, which a data archive linked back in would break by some 30 MB.

Usage: sizes.py <build folder>
"""

import os
import shutil
import subprocess
import sys
import tempfile

AIMS = {"tuvrek-disk": 4_000_000}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: sizes.py <build folder>")
    strip = shutil.which("strip")
    if strip is None:
        sys.exit("no strip on PATH")
    with tempfile.TemporaryDirectory() as scratch:
        for name in ("tuvrek-disk", "brevane"):
            program = os.path.join(sys.argv[1], "bin", name)
            if not os.path.isfile(program):
                print(f"{name}: not built")
                continue
            stripped = os.path.join(scratch, name)
            subprocess.run([strip, "-o", stripped, program], check=True)
            line = (f"{name + ':':13} {os.path.getsize(program) / 1e6:6.1f} MB, "
                    f"stripped {os.path.getsize(stripped) / 1e6:5.2f} MB")
            if name in AIMS:
                line += f" (aim: < {AIMS[name] / 1e6:.0f} MB stripped)"
            print(line)


main()

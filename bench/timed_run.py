#!/usr/bin/python3
"""Runs a command and writes "<wall seconds> <user seconds> <system seconds> <peak KiB>" to a
file, to the microsecond: GNU time gives hundredths, a tenth of a batch that takes a tenth of a
second, and nothing of the CPU of a client that spends less than 10 ms.

Usage: timed_run.py OUTPUT COMMAND [ARGUMENT...]; the command's exit status is its own, and it
keeps this program's standard input, output and error.
"""

import os
import sys
import time


def main():
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    output, command = sys.argv[1], sys.argv[2:]
    start = time.perf_counter()
    pid = os.posix_spawnp(command[0], command, os.environ)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    with open(output, "w") as f:
        f.write("%.6f %.6f %.6f %d\n" % (wall, usage.ru_utime, usage.ru_stime, usage.ru_maxrss))
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main())

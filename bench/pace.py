#!/usr/bin/env python3
"""Writes a file to standard output at a fixed byte rate, as a camera or encoder pipes into
`pelistra record --live`: pace.py FILE BYTES_PER_SECOND SECONDS"""
import os
import sys
import time

TICKS_PER_SECOND = 25  # one write per frame interval


def main():
    path, rate, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
    chunk = max(1, rate // TICKS_PER_SECOND)
    total = int(rate * seconds)
    out = sys.stdout.fileno()
    start = time.monotonic()
    written = 0
    with open(path, "rb") as source:
        while written < total:
            data = source.read(min(chunk, total - written))
            if not data:
                source.seek(0)  # loop the stream; its parameter sets and IDR come round again
                continue
            due = start + written / rate
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            try:
                view = memoryview(data)
                while view:
                    view = view[os.write(out, view):]
            except BrokenPipeError:
                return 1
            written += len(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""What the end-to-end drivers share: the verdicts a case can reach, running a tool, and the command
line every driver takes (`--list`, or `--bin BIN --case NAME` and options of its own), run in a
temporary folder with a machine root of its own.

Exit 0 passed, 1 failed, 77 skipped (ffmpeg is missing, or a case said Skip)."""
import argparse
import ctypes
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def run(cmd, check=True, **kwargs):
    proc = subprocess.run(cmd, capture_output=True, **kwargs)
    if check and proc.returncode != 0:
        raise Failure(f"{' '.join(cmd)}\nexit {proc.returncode}\n{proc.stderr[-3000:]!r}")
    return proc


_IN_CREATE, _IN_MODIFY, _IN_NONBLOCK, _IN_CLOEXEC = 0x100, 0x2, 0o4000, 0o2000000


def wait_for_folder(folder, ready, timeout):
    """Blocks until ready() holds, looking again whenever a file in `folder` changes (inotify), or
    until `timeout` seconds pass; returns ready() at the end."""
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init1(_IN_NONBLOCK | _IN_CLOEXEC)
    if fd < 0:
        return ready()
    try:
        # Watched before the first look, so no change between the look and the wait goes unseen.
        libc.inotify_add_watch(fd, os.fsencode(folder), _IN_CREATE | _IN_MODIFY)
        deadline = time.monotonic() + timeout
        while not ready():
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return ready()
            os.read(fd, 65536)  # only the wake-up matters: ready() looks again
        return True
    finally:
        os.close(fd)


def drive(name, cases, run_case, options=()):
    """Lists the cases or runs one: run_case(args, folder) in an empty folder of its own."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--bin")
    parser.add_argument("--case")
    for option in options:
        parser.add_argument(option)
    args = parser.parse_args()
    if args.list:
        print("\n".join(cases()))
        return 0
    if shutil.which("ffmpeg") is None or shutil.which("ffprobe") is None:
        print("SKIP: ffmpeg is not installed", file=sys.stderr)
        return 77
    with tempfile.TemporaryDirectory(prefix=name + "-") as work:
        # A machine root of its own: nothing registered, so the module beside the program is used.
        os.environ["PELISTRA_ROOT"] = os.path.join(work, ".root")
        folder = os.path.join(work, "case")
        os.mkdir(folder)
        try:
            run_case(args, folder)
        except Skip as skip:
            print(f"SKIP {args.case}: {skip}", file=sys.stderr)
            return 77
        except Failure as failure:
            print(f"FAIL {args.case}: {failure}", file=sys.stderr)
            return 1
    print(f"ok: {args.case}")
    return 0

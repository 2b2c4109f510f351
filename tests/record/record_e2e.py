#!/usr/bin/env python3
"""End-to-end cases of `pelistra record`, each run in processes of its own: the program records
the committed fixtures (or streams made from them), and ffmpeg, run as a black box, decodes the
files and compares them frame by frame with the original streams.

  record_e2e.py --list                                  the case names, one a line
  record_e2e.py --bin BIN --fixtures DIR --case NAME

Exit 0 passed, 1 failed, 77 skipped (ffmpeg is not installed).
"""
import json
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_driver import Failure, drive, expect, run, wait_for_folder  # noqa: E402

# name: (file, --video-format, frames per second)
VIDEO = {
    "h264-aud": ("h264-aud.264", "h264", 25),
    "h264-noaud-slices": ("h264-noaud-slices.264", "h264", 25),
    "h264-bframes": ("h264-bframes.264", "h264", 25),
    "mpeg4": ("mpeg4.m4v", "mpeg4", 25),
    "mjpeg": ("mjpeg.mjpeg", "mjpeg", 25),
    "y4m": ("video.y4m", "y4m", 10),
}
DEMUX = {"h264": ["-f", "h264"], "mpeg4": ["-f", "m4v"], "mjpeg": ["-f", "mjpeg"], "y4m": []}
# ffmpeg decodes MPEG-4 Part 2 tagged "XVID" with the Xvid IDCT and an untagged elementary stream
# with its own; both sides are decoded with the same one.
DECODER = {"mpeg4": ["-idct", "simple"]}
AUDIO = "audio.wav"

BAD_INPUTS = ["empty", "random-bytes", "wav-lying-header", "h264-without-idr",
              "y4m-444", "not-its-format", "missing-file", "output-folder-missing", "output-folder-is-a-file"]


def cases():
    names = []
    for fixture in VIDEO:
        names += [f"format.{fixture}", f"format.{fixture}+audio"]
    names += ["format.wav", "format.test-source", "rotate.size", "rotate.time+audio", "rotate.signal",
              "live.pipe", "sigint"]
    names += [f"bad.{case}" for case in BAD_INPUTS]
    names += ["kill.live"]
    names += [f"limit.{case}" for case in LIMITS]
    names += [f"guard.{case}{y}" for case in GUARDS for y in ("", "+y")]
    names += ["guard.rotated-name-exists", "naming.segment-shorter-than-gop"]
    names += [f"cli.{case}" for case in CLI_CASES]
    return names


class Context:
    def __init__(self, bin_dir, fixtures, work):
        self.pelistra = os.path.join(bin_dir, "pelistra")
        self.fixtures = fixtures
        self.work = work

    def fixture(self, name):
        return os.path.join(self.fixtures, name)

    def path(self, name):
        return os.path.join(self.work, name)

    def record(self, *args, check=True, **kwargs):
        return run([self.pelistra, "record", "-q", *args], check=check, **kwargs)

    def probe(self, path):
        """`pelistra probe --json`: the file must be sound and finished (not broadcast)."""
        proc = run([self.pelistra, "probe", "--json", path], check=False, text=True)
        expect(proc.returncode == 0, f"pelistra probe {path}: exit {proc.returncode}\n{proc.stdout[-2000:]}{proc.stderr}")
        info = json.loads(proc.stdout)
        expect(info["flags"]["broadcast"] is False, f"{path} is still marked broadcast: it was not finished")
        expect(info["packets_present"] == info["packet_count"] > 0, f"{path}: packets {info['packets_present']} "
               f"present, {info['packet_count']} declared")
        return info


def frame_md5s(args):
    """The md5 of every decoded frame; ffmpeg must report no error."""
    proc = run(["ffmpeg", "-nostdin", "-v", "error"] + args + ["-fps_mode", "passthrough", "-f", "framemd5", "-"],
               text=True)
    expect(proc.stderr.strip() == "", f"ffmpeg {' '.join(args)} reported errors:\n{proc.stderr[-3000:]}")
    return [line.split(",")[-1].strip() for line in proc.stdout.splitlines() if line and not line.startswith("#")]


def reference_md5s(path, fmt, fixture=""):
    return frame_md5s(DECODER.get(fixture, []) + DEMUX[fmt] + ["-i", path])


def recorded_md5s(path, fixture=""):
    return frame_md5s(DECODER.get(fixture, []) + ["-i", path, "-map", "0:v"])


def audio_md5(args):
    return run(["ffmpeg", "-nostdin", "-v", "error"] + args + ["-f", "md5", "-"], text=True).stdout.strip()


def video_times(ctx, path):
    """Presentation times (seconds) of the video objects, in file order, as pelistra probe reads them."""
    info = json.loads(run([ctx.pelistra, "probe", "--json", "--frames", path], text=True).stdout)
    return [f["time_ms"] / 1000 for f in info["frames"] if f["stream"] == 8]


def repeated(ctx, fixture, times, name):
    """The fixture's bytes `times` over: a longer stream that ffmpeg decodes as one."""
    data = open(ctx.fixture(VIDEO[fixture][0]), "rb").read()
    path = ctx.path(name)
    with open(path, "wb") as f:
        f.write(data * times)
    return path


def check_parts(parts, reference, fixture=""):
    """Each part decodes from its first frame without error; in order they hold every frame."""
    at = 0
    for part in parts:
        frames = recorded_md5s(part, fixture)
        expect(len(frames) > 0, f"{part} holds no frame")
        expect(frames == reference[at:at + len(frames)],
               f"{part}: its {len(frames)} frames are not frames {at}.. of the original")
        at += len(frames)
    expect(at == len(reference), f"the parts hold {at} frames, the original {len(reference)}")


# --- cases -------------------------------------------------------------------------------------

def case_format(ctx, fixture, audio):
    out = ctx.path("out.asf")
    if fixture == "wav":
        ctx.record("--audio", ctx.fixture(AUDIO), "-o", out)
    elif fixture == "test-source":
        # What `make demo` runs, shorter.
        ctx.record("--duration", "2", "-o", out)
        info = ctx.probe(out)
        expect(len(recorded_md5s(out)) == 50, "two seconds of the test pattern are not 50 frames")
        expect(audio_md5(["-i", out, "-map", "0:a"]) != "", "no tone")
        return
    else:
        file, fmt, fps = VIDEO[fixture]
        args = ["--video", ctx.fixture(file), "--video-format", fmt, "--fps", str(fps), "-o", out]
        if audio:
            args += ["--audio", ctx.fixture(AUDIO)]
        ctx.record(*args)
    ctx.probe(out)
    if fixture != "wav":
        file, fmt, _ = VIDEO[fixture]
        reference = reference_md5s(ctx.fixture(file), fmt, fixture)
        ours = recorded_md5s(out, fixture)
        expect(len(ours) == len(reference), f"{len(ours)} frames recorded, the original has {len(reference)}")
        for i, (a, b) in enumerate(zip(ours, reference)):
            expect(a == b, f"frame {i} differs from the original")
    if audio or fixture == "wav":
        wav = audio_md5(["-i", ctx.fixture(AUDIO)])
        asf = audio_md5(["-i", out, "-map", "0:a"])
        expect(wav == asf, f"audio differs: {asf} against the WAV's {wav}")


def case_rotate_size(ctx):
    # 300 passes of the 4 s fixture: about 24 MB of H.264, with its parameter sets only at the
    # start of each pass, so a file that begins at any other key frame needs them put in front.
    video = repeated(ctx, "h264-aud", 300, "long.264")
    out = ctx.path("size.asf")
    ctx.record("--video", video, "--max-size", "11", "-o", out)
    parts = [out] + sorted(ctx.path(n) for n in os.listdir(ctx.work) if n.startswith("size-"))
    expect(len(parts) >= 2, f"no file switch at the size limit: {parts}")
    for part in parts:
        ctx.probe(part)
    # A file ends only after it passed 95% of the limit (at the next key frame after that).
    for part in parts[:-1]:
        expect(os.path.getsize(part) >= 0.95 * 11 * 1024 * 1024, f"{part} ended early: {os.path.getsize(part)} bytes")
    check_parts(parts, reference_md5s(video, "h264"))


def case_rotate_time(ctx):
    video = repeated(ctx, "h264-aud", 3, "twelve.264")
    out = ctx.path("seg-%02d.asf")
    ctx.record("--video", video, "--audio", ctx.fixture(AUDIO), "--segment-time", "4", "-o", out)
    parts = [ctx.path(f"seg-{i:02d}.asf") for i in range(3)]
    expect(sorted(os.listdir(ctx.work)) == sorted(["twelve.264"] + [os.path.basename(p) for p in parts]),
           f"files: {sorted(os.listdir(ctx.work))}")
    for part in parts:
        ctx.probe(part)
    reference = reference_md5s(video, "h264")
    check_parts(parts, reference)
    # Key frames every second, so each part is exactly four seconds of pictures.
    expect([len(recorded_md5s(p)) for p in parts] == [100, 100, 100], "parts are not 4 s each")
    # Every audio block went into one file or another.
    joined = ctx.path("joined.wav")
    inputs = sum((["-i", p] for p in parts), [])
    filters = "".join(f"[{i}:a]" for i in range(len(parts))) + f"concat=n={len(parts)}:v=0:a=1"
    run(["ffmpeg", "-nostdin", "-v", "error", *inputs, "-filter_complex", filters, "-c:a", "pcm_s16le", joined])
    expect(audio_md5(["-i", joined]) == audio_md5(["-i", ctx.fixture(AUDIO)]), "audio lost at the switches")


def case_rotate_signal(ctx):
    video = repeated(ctx, "h264-aud", 2, "eight.264")
    data = open(video, "rb").read()
    out = ctx.path("sig.asf")
    proc = subprocess.Popen([ctx.pelistra, "record", "-q", "--video", "-", "--video-format", "h264", "-o", out],
                            stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    # The first part ends between key frames; the new file starts at the next one.
    half = len(data) * 3 // 8
    proc.stdin.write(data[:half])
    proc.stdin.flush()
    time.sleep(1.5)
    proc.send_signal(signal.SIGUSR1)
    time.sleep(0.5)
    proc.stdin.write(data[half:])
    proc.stdin.close()
    err = proc.stderr.read()
    expect(proc.wait(timeout=60) == 0, f"exit {proc.returncode}: {err!r}")
    parts = [out, ctx.path("sig-001.asf")]
    expect(all(os.path.exists(p) for p in parts), f"files: {os.listdir(ctx.work)}")
    for part in parts:
        ctx.probe(part)
    first = len(recorded_md5s(parts[0]))
    expect(first % 25 == 0 and 0 < first < 200, f"the switch was not at a key frame ({first} frames before it)")
    check_parts(parts, reference_md5s(video, "h264"))


def access_units(data):
    """The fixture's access units, split in front of each access unit delimiter (NAL type 9)."""
    starts = []
    i = data.find(b"\x00\x00\x01")
    while i >= 0:
        if data[i + 3] & 0x1F == 9:
            starts.append(i - 1 if i > 0 and data[i - 1] == 0 else i)
        i = data.find(b"\x00\x00\x01", i + 3)
    starts.append(len(data))
    return [data[a:b] for a, b in zip(starts, starts[1:])]


def case_live_pipe(ctx):
    units = access_units(open(ctx.fixture("h264-aud.264"), "rb").read())
    expect(len(units) == 100, f"{len(units)} access units in the fixture")
    out = ctx.path("live.asf")
    proc = subprocess.Popen([ctx.pelistra, "record", "-q", "--video", "-", "--video-format", "h264", "--live",
                             "-o", out], stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    pause_at, pause = 50, 1.5
    # 25 pictures a second, and a pause in the middle; each write is followed by the next
    # delimiter's bytes only when the next picture comes, so a picture is complete on arrival of
    # the next one.
    for i, unit in enumerate(units):
        if i == pause_at:
            time.sleep(pause)
        proc.stdin.write(unit)
        proc.stdin.flush()
        time.sleep(0.04)
    proc.stdin.close()
    err = proc.stderr.read()
    expect(proc.wait(timeout=60) == 0, f"exit {proc.returncode}: {err!r}")
    ctx.probe(out)
    expect(recorded_md5s(out) == reference_md5s(ctx.fixture("h264-aud.264"), "h264"), "live frames differ")
    times = video_times(ctx, out)
    expect(len(times) == 100 and times == sorted(times), f"video times {times[:5]}...")
    gaps = [b - a for a, b in zip(times, times[1:])]
    # The pause shows where it happened (a picture is complete when the next one starts).
    biggest = max(range(len(gaps)), key=lambda i: gaps[i])
    expect(gaps[biggest] >= pause * 0.6 and abs(biggest - (pause_at - 1)) <= 2,
           f"the {pause} s pause before picture {pause_at} is not in the times: largest gap {gaps[biggest]:.3f} s "
           f"after picture {biggest}")
    # Pictures that arrived 40 ms apart are not given the pause's length.
    expect(sorted(gaps)[len(gaps) // 2] < 0.2, f"median gap {sorted(gaps)[len(gaps) // 2]:.3f} s")


def case_sigint(ctx):
    out = ctx.path("stopped.asf")
    proc = subprocess.Popen([ctx.pelistra, "record", "-q", "-o", out], stderr=subprocess.PIPE)
    deadline = time.time() + 30
    while time.time() < deadline and not (os.path.exists(out) and os.path.getsize(out) > (1 << 20)):
        time.sleep(0.1)
    expect(os.path.exists(out), "the recording did not start")
    proc.send_signal(signal.SIGINT)
    err = proc.stderr.read()
    expect(proc.wait(timeout=30) == 0, f"exit {proc.returncode} after SIGINT: {err!r}")
    ctx.probe(out)
    frames = recorded_md5s(out)
    expect(len(frames) > 0, "no frame in the stopped recording")


# Bad inputs: (arguments after making the input, words the message must hold, whether a part of
# the recording may exist: it must then be a finished, valid file).
def make_bad(ctx, case):
    p = ctx.path
    if case == "empty":
        open(p("empty.264"), "wb").close()
        return ["--video", p("empty.264")], "empty.264 is empty", False
    if case == "random-bytes":
        random.seed(7)
        open(p("noise.264"), "wb").write(bytes(random.getrandbits(8) for _ in range(200000)).replace(b"\x00", b"\x01"))
        return ["--video", p("noise.264")], "start code", False
    if case == "wav-lying-header":
        data = bytearray(open(ctx.fixture(AUDIO), "rb").read())
        fmt = data.find(b"fmt ")
        data[fmt + 8 + 12:fmt + 8 + 14] = (3).to_bytes(2, "little")  # block align 3 for 16-bit stereo
        open(p("lying.wav"), "wb").write(data)
        return ["--audio", p("lying.wav")], "block alignment", False
    if case == "h264-without-idr":
        data = open(ctx.fixture("h264-aud.264"), "rb").read()
        kept, i = [], data.find(b"\x00\x00\x01")
        while i >= 0:
            j = data.find(b"\x00\x00\x01", i + 3)
            nal = data[i:j if j >= 0 else len(data)]
            if nal[3] & 0x1F != 5:  # every NAL unit but the IDR slices
                kept.append(nal)
            i = j
        open(p("noidr.264"), "wb").write(b"".join(kept))
        return ["--video", p("noidr.264")], "no IDR", False
    if case == "y4m-444":
        data = open(ctx.fixture("video.y4m"), "rb").read()
        header, rest = data.split(b"\n", 1)
        header = b" ".join(w for w in header.split(b" ") if not w.startswith(b"C")) + b" C444"
        open(p("444.y4m"), "wb").write(header + b"\n" + rest)
        return ["--video", p("444.y4m")], "444", False
    if case == "not-its-format":
        return ["--video", ctx.fixture("mjpeg.mjpeg"), "--video-format", "h264"], "H.264", False
    if case == "missing-file":
        return ["--video", p("nothing-here.264")], "nothing-here.264", False
    if case == "output-folder-missing":
        return ["--video", ctx.fixture("h264-aud.264"), "-o", p("no/such/folder/out.asf")], "does not exist", False
    if case == "output-folder-is-a-file":
        open(p("plain"), "wb").close()
        return ["--video", ctx.fixture("h264-aud.264"), "-o", p("plain/out.asf")], "not a folder", False
    raise Failure(f"no bad input {case}")


def case_bad(ctx, case):
    args, words, partial = make_bad(ctx, case)
    out = ctx.path("out.asf")
    if "-o" not in args:
        args = args + ["-o", out]
    before = set(os.listdir(ctx.work))
    proc = ctx.record(*args, check=False, text=True, timeout=60)
    expect(proc.returncode > 0, f"exit {proc.returncode} (a crash is negative, success 0)\n{proc.stderr}")
    message = proc.stderr.strip()
    expect(message.startswith("pelistra record:") and words.lower() in message.lower(),
           f"the message does not say what is wrong (expected {words!r}): {message!r}")
    expect(len(message.splitlines()) <= 2, f"more than a clear message: {message!r}")
    made = set(os.listdir(ctx.work)) - before
    if partial:
        expect(made == {"out.asf"}, f"files made: {made}")
        ctx.probe(out)
        recorded_md5s(out)
    else:
        expect(not made, f"files made by a refused recording: {made}")


# --- failures the program must report, never hide ----------------------------------------------

def ffprobe_frames(path):
    """How many pictures ffprobe decodes from the file's video stream."""
    proc = run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                "stream=nb_read_frames", "-of", "csv=p=0", path], check=False, text=True)
    expect(proc.returncode == 0, f"ffprobe cannot read {path}: {proc.stderr[-2000:]}")
    return int(proc.stdout.strip().split(",")[0] or 0)


def decodes_as_prefix(path, reference):
    """The file's pictures are the first pictures of the original, in order; a file cut short may
    end in a picture cut short, which ffmpeg reports. Returns how many pictures it decodes."""
    proc = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v", "-fps_mode", "passthrough",
                "-f", "framemd5", "-"], check=False, text=True)
    expect(proc.returncode == 0, f"ffmpeg cannot read {path}: {proc.stderr[-2000:]}")
    frames = [line.split(",")[-1].strip() for line in proc.stdout.splitlines() if line and not line.startswith("#")]
    whole = frames[:-1] if proc.stderr.strip() else frames
    expect(whole == reference[:len(whole)], f"{path}: its {len(whole)} pictures are not the first of the original")
    expect(len(frames) == ffprobe_frames(path), f"{path}: ffmpeg and ffprobe see different pictures")
    return len(frames)


def expect_words(message):
    """Every status is said in words: a code appears only as the suffix "(error 0x...)"."""
    bare = re.sub(r"\(error 0x[0-9A-F]{8}\)", "", message)
    expect("0x" not in bare, f"a bare status code in the message: {message!r}")


def held_frames(message, lead):
    """The picture count after `lead` in the program's message, as in "holds 65 frames"."""
    found = re.search(re.escape(lead) + r" (\d+) frames?", message)
    expect(found, f"no '{lead} N frames' in {message!r}")
    return int(found.group(1))


def case_kill_live(ctx):
    """A live recording killed outright keeps every picture written up to about the kill."""
    units = access_units(open(ctx.fixture("h264-aud.264"), "rb").read()) * 3
    out = ctx.path("killed.asf")
    # Written packets reach the file at least every second.
    proc = subprocess.Popen([ctx.pelistra, "record", "-q", "--video", "-", "--video-format", "h264", "--live",
                             "--fsync", "1", "-o", out], stdin=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # Three seconds of pictures handed over at once, as an encoder's buffer would, and the input
    # left open: they must reach the file while the program still waits for more.
    sent = 75
    try:
        for unit in units[:sent]:
            proc.stdin.write(unit)
        proc.stdin.flush()
        wait_for_folder(ctx.work, lambda: os.path.exists(out) and os.path.getsize(out) > 40000, 60)
        grown = os.path.getsize(out) if os.path.exists(out) else 0
        expect(grown > 40000, f"the file did not grow: {grown} bytes after {sent} pictures")
    finally:
        proc.kill()
        proc.wait(timeout=30)
        try:
            proc.stdin.close()
        except BrokenPipeError:
            pass  # the reader is gone: what it left in the pipe is lost with it
    reference = reference_md5s(ctx.fixture("h264-aud.264"), "h264") * 3
    decoded = decodes_as_prefix(out, reference)
    # What was still on its way (the picture waiting for the next one, the packet being filled,
    # the packets of the last second) is lost; not more.
    expect(decoded >= sent - 50, f"{decoded} pictures decode from the killed recording; {sent} were sent")


# The file-size limit (RLIMIT_FSIZE) hit: (arguments, the limit from a clean run's file size or a
# fixed one, the file it hits).
LIMITS = ["sample", "end", "max-size"]


def limit_setup(ctx, case):
    out = ctx.path("limited.asf")
    # A clean recording first: the machine root is prepared by it, not under the limit.
    clean = ctx.path("clean.asf")
    ctx.record("--video", ctx.fixture("h264-aud.264"), "-o", clean)
    size = os.path.getsize(clean)
    os.remove(clean)
    if case == "sample":
        video = repeated(ctx, "h264-aud", 40, "long.264")
        return ["--video", video, "--audio", ctx.fixture(AUDIO), "-o", out], 1 << 20, video, out
    if case == "end":
        # Every sample fits; the index written when the file is finished does not.
        video = ctx.fixture("h264-aud.264")
        return ["--video", video, "-o", out], size - 16, video, out
    if case == "max-size":
        # The limit is met before the size switch: the pending name is never started.
        video = repeated(ctx, "h264-aud", 300, "huge.264")
        return ["--video", video, "--max-size", "11", "-o", out], 6 << 20, video, out
    raise Failure(f"no limit case {case}")


def case_limit(ctx, case):
    args, limit, video, out = limit_setup(ctx, case)

    def limited():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    proc = run([ctx.pelistra, "record", *args], check=False, text=True, timeout=120, preexec_fn=limited)
    message = proc.stderr
    expect(proc.returncode > 0, f"exit {proc.returncode} with the file size limit hit (a crash is negative)\n{message}")
    expect_words(message)
    expect(f"writing {out} failed: file too large for this file system" in message,
           f"the message does not name the file and the cause in words: {message!r}")
    made = sorted(n for n in os.listdir(ctx.work) if n.endswith(".asf"))
    expect(made == [os.path.basename(out)], f"files: {made}")
    # What the program says the file holds is what a player finds in it.
    decoded = decodes_as_prefix(out, reference_md5s(video, "h264"))
    held = held_frames(message, "the file holds")
    expect(held > 0 and held in (decoded, decoded + 1), f"the message says {held} pictures, {decoded} decode")
    expect(held_frames(message, "recorded before the failure:") == held, f"the summary counts otherwise: {message!r}")
    if case == "end":
        expect(held == 100, f"the samples all fit, yet {held} pictures are held")


# An output that is an input or that exists: (how the input and output are made, whether -y lets
# it through). The input is never touched.
GUARDS = {
    "same-path": False,
    "hard-link": False,
    "symlink": False,
    "rotated-field": False,
    "rotated-plain": False,
    "exists": True,
}


def case_guard(ctx, case, overwrite):
    source = ctx.fixture("h264-aud.264")
    video = ctx.path("in.264")
    shutil.copyfile(source, video)
    out, fmt = video, ["--video-format", "h264"]
    if case == "hard-link":
        out = ctx.path("hard.asf")
        os.link(video, out)
    elif case == "symlink":
        out = ctx.path("soft.asf")
        os.symlink(video, out)
    elif case == "rotated-field":
        os.rename(video, ctx.path("cam-002.asf"))
        video, out = ctx.path("cam-002.asf"), ctx.path("cam-%03d.asf")
    elif case == "rotated-plain":
        os.rename(video, ctx.path("x-001.asf"))
        video, out = ctx.path("x-001.asf"), ctx.path("x.asf")
    elif case == "exists":
        out = ctx.path("old.asf")
        with open(out, "wb") as f:
            f.write(b"a recording of another day")
    before = {name: open(ctx.path(name), "rb").read() for name in os.listdir(ctx.work)}
    proc = ctx.record("--video", video, *fmt, "-o", out, *(["-y"] if overwrite else []), check=False, text=True,
                      timeout=60)
    allowed = overwrite and GUARDS[case]
    if allowed:
        expect(proc.returncode == 0, f"exit {proc.returncode} with -y: {proc.stderr}")
        ctx.probe(out)
        expect(recorded_md5s(out) == reference_md5s(source, "h264"), "the replaced file is not the recording")
        return
    expect(proc.returncode == 1, f"exit {proc.returncode}: {proc.stderr}")
    named = os.path.basename(video if case.startswith("rotated") else out)
    expect(proc.stderr.startswith("pelistra record:") and named in proc.stderr and
           ("is an input" in proc.stderr or "exists" in proc.stderr), f"the refusal does not say why: {proc.stderr!r}")
    after = {name: open(ctx.path(name), "rb").read() for name in os.listdir(ctx.work)}
    expect(after == before, f"files changed by a refused recording: {sorted(set(after) ^ set(before))}")
    expect(open(video, "rb").read() == open(source, "rb").read(), "the input changed")


def case_rotated_name_exists(ctx):
    """A rotated name that exists when its turn comes stops the recording; the finished files stay."""
    video = repeated(ctx, "h264-aud", 3, "twelve.264")
    out = ctx.path("r.asf")
    taken = ctx.path("r-002.asf")
    with open(taken, "wb") as f:
        f.write(b"not ours")
    proc = ctx.record("--video", video, "--segment-time", "4", "-o", out, check=False, text=True, timeout=60)
    expect(proc.returncode == 1, f"exit {proc.returncode}: {proc.stderr}")
    expect("r-002.asf exists" in proc.stderr and "-y" in proc.stderr, f"the refusal: {proc.stderr!r}")
    expect(open(taken, "rb").read() == b"not ours", "the existing file was overwritten")
    parts = [out, ctx.path("r-001.asf")]
    for part in parts:
        ctx.probe(part)
    reference = reference_md5s(video, "h264")
    check_parts(parts, reference[:sum(len(recorded_md5s(p)) for p in parts)])
    expect(len(recorded_md5s(out)) == 100, "the first part is not four seconds")


def case_segment_shorter_than_gop(ctx):
    """Asked for a file a second while key frames come every two: the files that start take
    consecutive numbers, each two seconds long."""
    video = ctx.fixture("h264-aud.264")
    out = ctx.path("seg.asf")
    # 25 pictures a GOP at 12.5 a second: a key frame every two seconds.
    ctx.record("--video", video, "--fps", "12.5", "--segment-time", "1", "-o", out)
    made = sorted(n for n in os.listdir(ctx.work) if n.endswith(".asf"))
    expected = ["seg-001.asf", "seg-002.asf", "seg-003.asf", "seg.asf"]
    expect(made == expected, f"files {made}, expected {expected}")
    parts = [ctx.path(n) for n in ["seg.asf", "seg-001.asf", "seg-002.asf", "seg-003.asf"]]
    for part in parts:
        ctx.probe(part)
    check_parts(parts, reference_md5s(video, "h264"))
    expect([len(recorded_md5s(p)) for p in parts] == [25, 25, 25, 25], "parts are not two seconds each")


# The command line: (arguments, exit code 0 or not, words standard error or output must hold).
CLI_CASES = {
    "version": (["--version"], True, "pelistra 0."),
    "unknown-option": (["record", "--bogus", "-o", "x.asf"], False, "unknown option --bogus"),
    "unknown-option-with-value": (["record", "-o", "x.asf", "--frames=3"], False, "unknown option --frames"),
    "range-in-words": (["record", "--duration", "-1", "-o", "x.asf"], False, "--duration: must be more than 0 seconds"),
    "whole-range-in-words": (["record", "--max-size", "5", "-o", "x.asf"], False, "from 11 to 4194303, not 5"),
    "unknown-command": (["recrod", "-o", "x.asf"], False, "unknown command recrod"),
    "extension-warning": (["record", "--duration", "1", "-q", "-o", "{work}/out.mp4"], True,
                          "warning: {work}/out.mp4 is written as ASF"),
}


def case_cli(ctx, case):
    args, succeeds, words = CLI_CASES[case]
    args = [a.replace("{work}", ctx.work) for a in args]
    words = words.replace("{work}", ctx.work)
    proc = run([ctx.pelistra, *args], check=False, text=True, timeout=60, cwd=ctx.work)
    said = proc.stdout + proc.stderr
    expect((proc.returncode == 0) == succeeds, f"exit {proc.returncode}: {said!r}")
    expect(words in said, f"expected {words!r} in {said!r}")
    expect(len(said) < 400, f"more than a clear message: {said!r}")
    expect_words(said)


def run_case(args, folder):
    ctx = Context(os.path.abspath(args.bin), os.path.abspath(args.fixtures), folder)
    kind, _, name = args.case.partition(".")
    if kind == "format":
        fixture, _, audio = name.partition("+")
        case_format(ctx, fixture, bool(audio))
    elif args.case == "rotate.size":
        case_rotate_size(ctx)
    elif args.case == "rotate.time+audio":
        case_rotate_time(ctx)
    elif args.case == "rotate.signal":
        case_rotate_signal(ctx)
    elif args.case == "live.pipe":
        case_live_pipe(ctx)
    elif args.case == "sigint":
        case_sigint(ctx)
    elif kind == "bad":
        case_bad(ctx, name)
    elif args.case == "kill.live":
        case_kill_live(ctx)
    elif kind == "limit":
        case_limit(ctx, name)
    elif args.case == "guard.rotated-name-exists":
        case_rotated_name_exists(ctx)
    elif kind == "guard":
        case, _, y = name.partition("+")
        case_guard(ctx, case, bool(y))
    elif args.case == "naming.segment-shorter-than-gop":
        case_segment_shorter_than_gop(ctx)
    elif kind == "cli":
        case_cli(ctx, name)
    else:
        raise Failure(f"no case {args.case}")


if __name__ == "__main__":
    sys.exit(drive("record-e2e", cases, run_case, options=["--fixtures"]))

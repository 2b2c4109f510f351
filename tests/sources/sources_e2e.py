#!/usr/bin/env python3
"""End-to-end cases of how `pelistra record` times what it reads: streams are made at test time by
ffmpeg and x264 (run as black boxes), recorded, and judged by ffprobe against what ffmpeg itself
makes of the same stream (`ffmpeg -i IN -c copy OUT.asf`) and against the decoded frames.

  sources_e2e.py --list                       the case names, one a line
  sources_e2e.py --bin BIN --case NAME

Exit 0 passed, 1 failed, 77 skipped (ffmpeg, or x264 for the case that needs it, is missing).
"""
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_driver import Failure, Skip, drive, expect, run  # noqa: E402

# name: (frame rate as ffmpeg takes it, extra encoder arguments)
H264_RATES = {
    "h264-50p": ("50", []),
    "h264-29.97p": ("30000/1001", []),
    "h264-25i": ("25", ["-flags", "+ildct+ilme"]),
    "h264-50i": ("50", ["-flags", "+ildct+ilme"]),
}
TORN = ["h264", "mpeg4", "mjpeg", "y4m", "wav"]


def cases():
    names = [f"rate.{n}" for n in H264_RATES]
    names += ["rate.x264-tff", "rate.x264-pulldown", "rate.mpeg4-29.97", "rate.y4m-50", "rate.fps-override", "rate.fallback-25",
              "packed.mpeg4", "wav.rf64", "wav.pipe", "wav.ima-adpcm", "wav.ms-adpcm", "live.av-sync"]
    names += [f"torn.{f}" for f in TORN]
    return names


FF = ["ffmpeg", "-nostdin", "-v", "error", "-y"]


class Context:
    def __init__(self, bin_dir, work):
        self.pelistra = os.path.join(bin_dir, "pelistra")
        self.work = work

    def path(self, name):
        return os.path.join(self.work, name)

    def record(self, *args, stdin=None):
        """Records; returns the warnings it printed (stderr lines). Must exit 0."""
        proc = subprocess.run([self.pelistra, "record", "-q", *args], capture_output=True, text=True, stdin=stdin)
        expect(proc.returncode == 0, f"pelistra record {' '.join(args)}: exit {proc.returncode}\n{proc.stderr}")
        return [line for line in proc.stderr.splitlines() if line.strip()]


def duration(path):
    out = run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path], text=True).stdout
    return float(out.strip())


def stream_rate(path):
    out = run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "stream=r_frame_rate", "-of",
               "csv=p=0", path], text=True).stdout.strip()
    num, _, den = out.partition("/")
    return int(num) / int(den or 1)


def frame_md5s(args):
    proc = run(FF[:-1] + args + ["-map", "0:v", "-fps_mode", "passthrough", "-f", "framemd5", "-"], text=True)
    return [line.split(",")[-1].strip() for line in proc.stdout.splitlines() if line and not line.startswith("#")]


def audio_md5(path):
    return run(FF[:-1] + ["-i", path, "-map", "0:a", "-f", "md5", "-"], text=True).stdout.strip()


def ffmpeg_copy(ctx, source, demux=()):
    """What ffmpeg makes of the stream: the reference duration."""
    out = ctx.path("ffmpeg-copy.asf")
    run(FF + list(demux) + ["-i", source, "-c", "copy", out])
    return duration(out)


def judge_video(ctx, source, recorded, rate, demux=(), frames=None, even=True):
    """The recording lasts what ffmpeg's own copy lasts, within a frame; its frame rate is the
    stream's (when its frames are evenly spaced), and it decodes to the same pictures."""
    ours, theirs = duration(recorded), ffmpeg_copy(ctx, source, demux)
    expect(abs(ours - theirs) <= 1 / rate + 0.001, f"{recorded} lasts {ours:.3f} s, ffmpeg's copy {theirs:.3f} s")
    if even:
        expect(abs(stream_rate(recorded) - rate) < 0.01, f"frame rate {stream_rate(recorded)}, the stream's is {rate}")
    ref = frame_md5s(list(demux) + ["-i", source])
    got = frame_md5s(["-i", recorded])
    if frames is not None:
        expect(len(ref) == frames, f"the source decodes to {len(ref)} frames, not {frames}")
    expect(got == ref, f"{len(got)} frames recorded, {len(ref)} in the source, or they differ")


def make_h264(ctx, rate, extra, seconds=4, name="in.264"):
    out = ctx.path(name)
    run(FF + ["-f", "lavfi", "-i", f"testsrc2=size=320x240:rate={rate}:duration={seconds}", "-c:v", "libx264",
              "-g", "25", *extra, "-f", "h264", out])
    return out


def rate_value(rate):
    num, _, den = rate.partition("/")
    return int(num) / int(den or 1)


# --- frame rates -------------------------------------------------------------------------------

def case_rate(ctx, name):
    out = ctx.path("out.asf")
    if name in H264_RATES:
        rate, extra = H264_RATES[name]
        source = make_h264(ctx, rate, extra)
        expect(ctx.record("--video", source, "-o", out) == [], "a warning for a stream that states its rate")
        judge_video(ctx, source, out, rate_value(rate), ["-f", "h264"], frames=round(4 * rate_value(rate)))
    elif name == "x264-tff":
        if shutil.which("x264") is None:
            raise Skip("x264 is not installed")
        source = ctx.path("tff.264")
        y4m = run(FF[:-1] + ["-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=4", "-pix_fmt", "yuv420p",
                             "-f", "yuv4mpegpipe", "-"]).stdout
        run(["x264", "--quiet", "--demuxer", "y4m", "--tff", "--keyint", "25", "-o", source, "-"], input=y4m)
        expect(ctx.record("--video", source, "-o", out) == [], "a warning for a stream that states its rate")
        judge_video(ctx, source, out, 25, ["-f", "h264"], frames=100)
    elif name == "x264-pulldown":
        # 23.976 fps film with 3:2 pulldown: pictures of three and two fields, shown at 29.97.
        if shutil.which("x264") is None:
            raise Skip("x264 is not installed")
        source = ctx.path("pulldown.264")
        y4m = run(FF[:-1] + ["-f", "lavfi", "-i", "testsrc2=size=320x240:rate=24000/1001:duration=4", "-pix_fmt",
                             "yuv420p", "-f", "yuv4mpegpipe", "-"]).stdout
        run(["x264", "--quiet", "--demuxer", "y4m", "--pulldown", "32", "-o", source, "-"], input=y4m)
        expect(ctx.record("--video", source, "-o", out) == [], "a warning for a stream that states its rate")
        judge_video(ctx, source, out, 24000 / 1001, ["-f", "h264"], frames=96, even=False)
        expect(abs(duration(out) - 4.004) <= 0.001, f"96 film frames shown at 29.97 last {duration(out):.3f} s, not 4.004")
    elif name == "mpeg4-29.97":
        source = ctx.path("in.m4v")
        run(FF + ["-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30000/1001:duration=4", "-c:v", "mpeg4", "-bf", "2",
                  "-f", "m4v", source])
        expect(ctx.record("--video", source, "-o", out) == [], "a warning for a stream that states its rate")
        judge_video(ctx, source, out, 30000 / 1001, ["-f", "m4v"])
    elif name == "y4m-50":
        source = ctx.path("in.y4m")
        run(FF + ["-f", "lavfi", "-i", "testsrc2=size=64x48:rate=50:duration=2", "-pix_fmt", "yuv420p", source])
        expect(ctx.record("--video", source, "-o", out) == [], "a warning for a stream that states its rate")
        judge_video(ctx, source, out, 50, frames=100)
    elif name == "fps-override":
        source = make_h264(ctx, "50", [])
        expect(ctx.record("--video", source, "--fps", "25", "-o", out) == [], "a warning though --fps was given")
        expect(abs(duration(out) - 8) <= 0.04 + 0.001, f"200 frames at --fps 25 last {duration(out):.3f} s, not 8")
    elif name == "fallback-25":
        source = ctx.path("in.mjpeg")
        run(FF + ["-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=3", "-c:v", "mjpeg", "-f", "mjpeg", source])
        warnings = ctx.record("--video", source, "-o", out)
        expect(warnings == [f"pelistra record: no frame rate in {source}; using 25 fps (set --fps)"],
               f"not the one notice: {warnings}")
        expect(abs(duration(out) - 30 / 25) <= 0.04 + 0.001, f"30 frames at 25 fps last {duration(out):.3f} s")
    else:
        raise Failure(f"no rate case {name}")


# --- packed MPEG-4 -----------------------------------------------------------------------------

def bits_at(data, pos, count):
    value = 0
    for i in range(count):
        value = (value << 1) | ((data[(pos + i) // 8] >> (7 - (pos + i) % 8)) & 1)
    return value


def increment_bits(vol):
    """Width of vop_time_increment, from a video object layer header (start code included)."""
    p = 32 + 1 + 8
    p += 8 if bits_at(vol, p, 1) else 1
    aspect = bits_at(vol, p, 4)
    p += 4 + (16 if aspect == 15 else 0)
    if bits_at(vol, p, 1):
        p += 4
        vbv = bits_at(vol, p, 1)
        p += 1 + (79 if vbv else 0)
    else:
        p += 1
    p += 3
    resolution = bits_at(vol, p, 16)
    width = 1
    while width < 16 and (1 << width) < resolution:
        width += 1
    return width


def units(data):
    starts = [m.start() for m in re.finditer(b"\x00\x00\x01", data)]
    return [data[a:b] for a, b in zip(starts, starts[1:] + [len(data)])]


def not_coded(p_plane, width):
    """The plane a DivX-style packer leaves in the slot of the P-plane it sent early."""
    p, seconds = 34, 0
    while bits_at(p_plane, p, 1):
        p, seconds = p + 1, seconds + 1
    increment = bits_at(p_plane, p + 2, width)
    bits = [0, 1] + [1] * seconds + [0, 1] + [(increment >> (width - 1 - i)) & 1 for i in range(width)] + [1, 0, 0]
    bits += [1] * (-len(bits) % 8)
    return b"\x00\x00\x01\xb6" + bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))


def pack(data):
    """Packs an MPEG-4 stream with B-planes the DivX way: the packed flag in user data, and a
    not-coded plane after each run of B-planes."""
    out, width, last_p, flagged = [], None, None, False
    parts = units(data)
    for i, part in enumerate(parts):
        out.append(part)
        code = part[3]
        if 0x20 <= code <= 0x2F:
            width = increment_bits(part)
            if not flagged:
                out.append(b"\x00\x00\x01\xb2DivX503b1393p")
                flagged = True
        elif code == 0xB6:
            kind = part[4] >> 6
            if kind in (0, 1):
                last_p = part
            following = next((q for q in parts[i + 1:] if q[3] == 0xB6), None)
            if kind == 2 and (following is None or following[4] >> 6 != 2):
                out.append(not_coded(last_p, width))
    return b"".join(out)


def case_packed(ctx):
    plain = ctx.path("plain.m4v")
    run(FF + ["-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=10", "-c:v", "mpeg4", "-bf", "2",
              "-f", "m4v", plain])
    data = open(plain, "rb").read()
    packed_data = pack(data)
    packed = ctx.path("packed.m4v")
    open(packed, "wb").write(packed_data)
    planes = packed_data.count(b"\x00\x00\x01\xb6")
    expect(planes > data.count(b"\x00\x00\x01\xb6") + 50, "the packed stream has no not-coded planes")
    out = ctx.path("packed.asf")
    expect(ctx.record("--video", packed, "-o", out) == [], "warnings for a packed stream")
    # ffmpeg's own copy of the packed elementary stream counts the not-coded planes as frames, so
    # the reference is the same stream before packing: 250 frames, 10 s.
    ours, theirs = duration(out), ffmpeg_copy(ctx, plain, ["-f", "m4v"])
    expect(abs(ours - theirs) <= 0.04 + 0.001, f"the packed stream records as {ours:.3f} s, unpacked it is {theirs:.3f} s")
    # Every plane is carried, byte for byte, and the pictures are the same.
    copied = ctx.path("copied.m4v")
    run(FF + ["-i", out, "-map", "0:v", "-c", "copy", "-f", "m4v", copied])
    expect(open(copied, "rb").read() == packed_data, "the recorded planes are not the input's bytes")
    ref = frame_md5s(["-f", "m4v", "-i", packed])
    expect(len(ref) == 250 and frame_md5s(["-i", out]) == ref, "the recording does not decode to the packed stream's pictures")
    expect(ref == frame_md5s(["-f", "m4v", "-i", plain]), "packing changed the pictures: the packer is wrong")


# --- WAV -------------------------------------------------------------------------------------------

def make_wav(ctx, name, args, seconds=3):
    out = ctx.path(name)
    run(FF + ["-f", "lavfi", "-i", f"sine=frequency=440:sample_rate=44100:duration={seconds}", *args, out])
    return out


def judge_audio(source, recorded):
    ours, theirs = duration(recorded), duration(source)
    expect(abs(ours - theirs) <= 0.025, f"{recorded} lasts {ours:.3f} s, the WAV {theirs:.3f} s")
    expect(audio_md5(recorded) == audio_md5(source), "the recorded audio decodes differently")


def case_wav(ctx, name):
    out = ctx.path("out.asf")
    if name == "rf64":
        source = make_wav(ctx, "in.wav", ["-c:a", "pcm_s16le", "-rf64", "always"])
        expect(open(source, "rb").read(4) == b"RF64", "ffmpeg did not write RF64")
    elif name == "ima-adpcm":
        source = make_wav(ctx, "in.wav", ["-c:a", "adpcm_ima_wav"])
    elif name == "ms-adpcm":
        source = make_wav(ctx, "in.wav", ["-c:a", "adpcm_ms"])
    elif name == "pipe":
        # A writer on a pipe cannot go back to fill in the sizes.
        source = make_wav(ctx, "in.wav", ["-c:a", "pcm_s16le"])
        streamed = run(FF[:-1] + ["-i", source, "-c:a", "pcm_s16le", "-f", "wav", "-"]).stdout
        sizes = (streamed[4:8], streamed[streamed.find(b"data") + 4:streamed.find(b"data") + 8])
        expect(all(s in (b"\xff\xff\xff\xff", b"\x00\x00\x00\x00") for s in sizes), f"the piped WAV states sizes {sizes}")
        proc = subprocess.Popen([ctx.pelistra, "record", "-q", "--audio", "-", "-o", out], stdin=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        err = proc.communicate(streamed, timeout=120)[1]
        expect(proc.returncode == 0 and not err, f"exit {proc.returncode}: {err!r}")
        judge_audio(source, out)
        return
    else:
        raise Failure(f"no WAV case {name}")
    expect(ctx.record("--audio", source, "-o", out) == [], "warnings for a whole WAV")
    judge_audio(source, out)


# --- torn last units ---------------------------------------------------------------------------

def case_torn(ctx, fmt):
    """The input ends inside its last unit: exit 0, one warning naming the input, all else kept."""
    if fmt == "h264":
        whole = open(make_h264(ctx, "25", ["-x264-params", "aud=1"]), "rb").read()
        last = whole.rfind(b"\x00\x00\x00\x01\x09")  # the last picture's delimiter
        cut, demux, frames = whole[:last + 8], ["-f", "h264"], 99
    elif fmt == "mpeg4":
        plain = ctx.path("plain.m4v")
        run(FF + ["-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=4", "-c:v", "mpeg4", "-f", "m4v", plain])
        whole = open(plain, "rb").read()
        cut, demux, frames = whole[:whole.rfind(b"\x00\x00\x01\xb6") + 3], ["-f", "m4v"], 99
    elif fmt == "mjpeg":
        run(FF + ["-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=4", "-c:v", "mjpeg", "-f", "mjpeg",
                  ctx.path("w.mjpeg")])
        whole = open(ctx.path("w.mjpeg"), "rb").read()
        cut, demux, frames = whole[:whole.rfind(b"\xff\xd8") + 300], ["-f", "mjpeg"], 99
    elif fmt == "y4m":
        run(FF + ["-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:duration=4", "-pix_fmt", "yuv420p", ctx.path("w.y4m")])
        whole = open(ctx.path("w.y4m"), "rb").read()
        cut, demux, frames = whole[:len(whole) - 1000], [], 99
    else:
        whole = open(make_wav(ctx, "w.wav", ["-c:a", "pcm_s16le", "-ac", "2"]), "rb").read()
        cut, demux, frames = whole[:len(whole) - 1001], [], None
    source = ctx.path("torn." + fmt)
    open(source, "wb").write(cut)
    out = ctx.path("out.asf")
    args = ["--audio", source] if fmt == "wav" else ["--video", source, "--video-format", fmt, "--fps", "25"]
    warnings = ctx.record(*args, "-o", out)
    expect(len(warnings) == 1 and warnings[0].startswith(f"pelistra record: {source}: the input ends inside"),
           f"not one warning naming the input: {warnings}")
    if frames is not None:
        got = frame_md5s(["-i", out])
        ref = frame_md5s(demux + ["-i", source])
        expect(len(got) == frames, f"{len(got)} frames recorded, {frames} whole ones in the input")
        expect(got == ref[:frames], "the frames before the torn one differ")


# --- live ----------------------------------------------------------------------------------------

def h264_access_units(data):
    starts = [m.start() for m in re.finditer(b"\x00\x00\x00\x01\x09", data)]
    return [data[a:b] for a, b in zip(starts, starts[1:] + [len(data)])]


def object_times(ctx, path):
    """Presentation times (seconds) of the video and the audio objects, as pelistra probe reads them."""
    info = json.loads(run([ctx.pelistra, "probe", "--json", "--frames", path], text=True).stdout)
    return ([f["time_ms"] / 1000 for f in info["frames"] if f["stream"] == 8],
            [f["time_ms"] / 1000 for f in info["frames"] if f["stream"] == 6])


def case_live(ctx):
    """29.97 fps video on standard input and audio from a named pipe, both written in real time:
    each keeps its own rate whatever the bursts it arrives in, and they end together."""
    seconds = 6
    video = make_h264(ctx, "30000/1001", ["-x264-params", "aud=1", "-bf", "0"], seconds)
    pictures = h264_access_units(open(video, "rb").read())
    audio = open(make_wav(ctx, "a.wav", ["-c:a", "pcm_s16le", "-ar", "48000"], seconds), "rb").read()
    header, samples = audio[:audio.find(b"data") + 8], audio[audio.find(b"data") + 8:]
    fifo = ctx.path("audio.fifo")
    os.mkfifo(fifo)
    out = ctx.path("live.asf")
    proc = subprocess.Popen([ctx.pelistra, "record", "-q", "--live", "--video", "-", "--video-format", "h264",
                             "--audio", fifo, "-o", out], stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    # Read-write, so opening does not wait for the recorder, which opens the audio after the video.
    sound = os.fdopen(os.open(fifo, os.O_RDWR), "wb")
    frame, block = 1001 / 30000, 0.02
    block_bytes = 48000 * 2 * 2 // 50 if b"\x02\x00" == audio[22:24] else 48000 * 2 // 50
    # One writer for both from one start: audio block by block as a sound card gives it, pictures
    # four at a time as an encoder with a short lookahead hands them over.
    events = [((i - i % 4 + 3) * frame, "v", p) for i, p in enumerate(pictures)]
    events += [(0.0, "a", header)] + [((j + 1) * block, "a", samples[j * block_bytes:(j + 1) * block_bytes])
                                       for j in range(len(samples) // block_bytes)]
    events.sort(key=lambda e: e[0])
    # The sleep below is the simulated camera's own clock, what this case is about, not a wait for
    # the program: a late wake-up is a stall, which the checks after it allow for.
    start = time.monotonic()
    for at, kind, data in events:
        delay = start + at - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        target = proc.stdin if kind == "v" else sound
        target.write(data)
        target.flush()
    proc.stdin.close()
    sound.close()
    err = proc.stderr.read()
    expect(proc.wait(timeout=60) == 0, f"exit {proc.returncode}: {err!r}")
    v, a = object_times(ctx, out)
    expect(len(v) == len(pictures), f"{len(v)} pictures recorded of {len(pictures)}")
    gaps = [later - earlier for earlier, later in zip(v, v[1:])]
    even = sum(1 for g in gaps if abs(g - frame) <= 0.0011)
    expect(even >= 0.9 * len(gaps), f"only {even} of {len(gaps)} picture steps are the stream's 1/29.97 s")
    video_end, audio_end = v[-1] + frame, a[-1] + block
    # Both anchor where their first unit arrived. A machine so loaded that a unit came a tenth of
    # a second late re-anchors that stream alone, which says nothing about drift: then the ends are
    # not compared.
    stalled = any(g > frame + 0.05 for g in gaps) or any(b - a_ > block + 0.05 for a_, b in zip(a, a[1:]))
    if not stalled:
        expect(abs(video_end - audio_end) <= 2 * frame, f"video ends at {video_end:.3f} s, audio at {audio_end:.3f} s")


def run_case(args, folder):
    ctx = Context(args.bin, folder)
    kind, _, name = args.case.partition(".")
    if kind == "rate":
        case_rate(ctx, name)
    elif args.case == "packed.mpeg4":
        case_packed(ctx)
    elif kind == "wav":
        case_wav(ctx, name)
    elif kind == "torn":
        case_torn(ctx, name)
    elif args.case == "live.av-sync":
        case_live(ctx)
    else:
        raise Failure(f"no case {args.case}")


if __name__ == "__main__":
    sys.exit(drive("sources-e2e", cases, run_case))

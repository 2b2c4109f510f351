#!/usr/bin/env python3
"""Interoperability cases: ASF files written by asf_write_tool from the committed fixtures, read
by ffmpeg/ffprobe and GStreamer, compared frame by frame with the original streams.

  interop.py --list                       the case names, one a line (ctest makes one test each)
  interop.py --tool T --fixtures D --case NAME

Exit 0 passed, 1 failed, 77 skipped (the player the case needs is not installed).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

# name: (file, --format, ffprobe codec, width, height, fps, key frame indices or None = every one,
#        GStreamer caps)
FIXTURES = {
    "h264-aud": ("h264-aud.264", "h264", "h264", 320, 240, 25, [0, 25, 50, 75], "video/x-h264"),
    "h264-noaud-slices": ("h264-noaud-slices.264", "h264", "h264", 200, 120, 25, [0, 25, 50, 75], "video/x-h264"),
    "h264-bframes": ("h264-bframes.264", "h264", "h264", 176, 144, 25, [0, 25, 50, 75], "video/x-h264"),
    "mpeg4": ("mpeg4.m4v", "mpeg4", "mpeg4", 320, 240, 25, [0, 25, 50, 75], "video/mpeg, mpegversion=(int)4"),
    "mjpeg": ("mjpeg.mjpeg", "mjpeg", "mjpeg", 160, 120, 25, None, "image/jpeg"),
    "y4m": ("video.y4m", "y4m", "rawvideo", 64, 48, 10, None, "video/x-raw, format=(string)I420"),
}
# ffmpeg quirk: with B-frames in ASF, a seek without accurate trimming lands on the first packet
# (ffmpeg's own ASF of the same stream does the same), so that case checks the accurate seek only.
NO_KEYFRAME_SEEK = {"h264-bframes"}
# ffmpeg decodes MPEG-4 Part 2 tagged "XVID" with the Xvid IDCT and an untagged elementary stream
# with its own, which differ in the last bit; both sides are decoded with the same IDCT.
DECODER_OPTIONS = {"mpeg4": ["-idct", "simple"]}
AUDIO = "audio.wav"
DURATION = 4.0


def cases():
    names = []
    for fixture in FIXTURES:
        for audio in ("", "+audio"):
            names.append(f"ffmpeg.{fixture}{audio}")
            names.append(f"gstreamer.{fixture}{audio}")
        names.append(f"cut.{fixture}+audio")
    return names


class Failure(Exception):
    pass


def run(cmd, check=True):
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if check and proc.returncode != 0:
        raise Failure(f"{' '.join(cmd)}\nexit {proc.returncode}\n{proc.stderr[-3000:]}")
    return proc


def need(*programs):
    missing = [p for p in programs if shutil.which(p) is None]
    if missing:
        print(f"SKIP: {', '.join(missing)} not installed (ffmpeg; gstreamer1.0-tools, "
              "gstreamer1.0-plugins-base-apps)", file=sys.stderr)
        sys.exit(77)


def expect(condition, message):
    if not condition:
        raise Failure(message)


def frame_md5s(args):
    """The md5 column of `ffmpeg ... -f framemd5 -`, one entry a frame; stderr must stay empty."""
    proc = run(["ffmpeg", "-nostdin", "-v", "error"] + args + ["-fps_mode", "passthrough", "-f", "framemd5", "-"])
    expect(proc.stderr.strip() == "", f"ffmpeg {' '.join(args)} reported errors:\n{proc.stderr[-3000:]}")
    return [line.split(",")[-1].strip() for line in proc.stdout.splitlines() if line and not line.startswith("#")]


def reference_md5s(fixtures, fixture):
    file, fmt, *_ = FIXTURES[fixture]
    demux = {"h264": ["-f", "h264"], "mpeg4": ["-f", "m4v"], "mjpeg": ["-f", "mjpeg"], "y4m": []}[fmt]
    return frame_md5s(DECODER_OPTIONS.get(fixture, []) + demux + ["-i", os.path.join(fixtures, file)])


def decoded_md5s(fixture, args):
    return frame_md5s(DECODER_OPTIONS.get(fixture, []) + args)


def write_asf(tool, fixtures, fixture, audio, out, repeat=1, cut_after=None):
    file, fmt, *_, fps, _keys, _caps = FIXTURES[fixture]
    cmd = [tool, "--video", os.path.join(fixtures, file), "--format", fmt, "--fps", str(fps), "-o", out,
           "--repeat", str(repeat)]
    if audio:
        cmd += ["--audio", os.path.join(fixtures, AUDIO)]
    if cut_after is not None:
        cmd += ["--cut-after", str(cut_after)]
    run(cmd)


def check_ffmpeg(tool, fixtures, fixture, audio, work):
    need("ffmpeg", "ffprobe")
    _file, _fmt, codec, width, height, fps, keys, _caps = FIXTURES[fixture]
    out = os.path.join(work, "out.asf")
    write_asf(tool, fixtures, fixture, audio, out)

    # Streams, codecs, duration within one frame.
    probe = json.loads(run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", out]).stdout)
    expect(probe["format"]["format_name"] == "asf", f"format {probe['format']['format_name']}")
    streams = probe["streams"]
    video = [s for s in streams if s["codec_type"] == "video"]
    sound = [s for s in streams if s["codec_type"] == "audio"]
    expect(len(video) == 1 and len(sound) == (1 if audio else 0), f"streams: {[s['codec_type'] for s in streams]}")
    v = video[0]
    expect(v["codec_name"] == codec, f"video codec {v['codec_name']}, expected {codec}")
    expect((v["width"], v["height"]) == (width, height), f"video size {v['width']}x{v['height']}")
    if codec == "rawvideo":
        expect(v["pix_fmt"] == "yuv420p", f"raw video pixel format {v['pix_fmt']}")
    if audio:
        a = sound[0]
        expect((a["codec_name"], int(a["sample_rate"]), a["channels"]) == ("pcm_s16le", 16000, 2), f"audio stream {a}")
    duration = float(probe["format"]["duration"])
    expect(abs(duration - DURATION) <= 1.0 / fps + 1e-6, f"duration {duration}, expected {DURATION}")

    # Every decoded frame equals the original stream's.
    reference = reference_md5s(fixtures, fixture)
    ours = decoded_md5s(fixture, ["-i", out, "-map", "0:v"])
    expect(len(ours) == len(reference), f"{len(ours)} frames decoded, the original has {len(reference)}")
    for i, (a, b) in enumerate(zip(ours, reference)):
        expect(a == b, f"frame {i} differs from the original")

    if audio:
        wav = run(["ffmpeg", "-nostdin", "-v", "error", "-i", os.path.join(fixtures, AUDIO), "-f", "md5", "-"]).stdout
        asf = run(["ffmpeg", "-nostdin", "-v", "error", "-i", out, "-map", "0:a", "-f", "md5", "-"]).stdout
        expect(wav == asf, f"audio differs: {asf.strip()} against the WAV's {wav.strip()}")

    # Seeking to the middle: without accurate trimming the decoder starts where the demuxer landed,
    # which must be a key frame at or before the middle; with it, decoding starts at the middle.
    # Either way every frame decoded after the seek equals the original's (no error, no grey frame
    # from a missing reference).
    middle = round(DURATION / 2 * fps)
    landed = None
    if fixture not in NO_KEYFRAME_SEEK:
        seeked = decoded_md5s(fixture, ["-noaccurate_seek", "-ss", str(DURATION / 2), "-i", out, "-map", "0:v"])
        landed = len(reference) - len(seeked)
        expect(seeked == reference[landed:], "frames after the seek differ from the original's tail")
        expect((keys is None or landed in keys) and 0 < landed <= middle,
               f"seek to {DURATION / 2}s started at frame {landed} (key frames {keys or 'all'})")
    seeked = decoded_md5s(fixture, ["-ss", str(DURATION / 2), "-i", out, "-map", "0:v"])
    first = len(reference) - len(seeked)
    expect(seeked == reference[first:], "frames after the accurate seek differ from the original's tail")
    expect(abs(first - middle) <= 2, f"accurate seek to {DURATION / 2}s started at frame {first}")
    print(f"ok: {len(ours)} frames bit-exact, duration {duration}, seek lands on frame {landed}, "
          f"accurate seek on frame {first}")


def check_gstreamer(tool, fixtures, fixture, audio, work):
    need("gst-launch-1.0", "gst-discoverer-1.0", "gst-inspect-1.0", "ffmpeg")
    # Debian ships the ASF demuxer in the "ugly" set, gst-discoverer in plugins-base-apps.
    if run(["gst-inspect-1.0", "asfdemux"], check=False).returncode != 0:
        print("SKIP: GStreamer's asfdemux is not installed (gstreamer1.0-plugins-ugly)", file=sys.stderr)
        sys.exit(77)
    _file, _fmt, _codec, width, height, _fps, _keys, caps = FIXTURES[fixture]
    out = os.path.join(work, "out.asf")
    write_asf(tool, fixtures, fixture, audio, out)

    # Verbose output: its caps lines are exact where the short names are not (it calls I420
    # "planar YUV 4:4:4").
    info = run(["gst-discoverer-1.0", "-v", out]).stdout
    expect("Done discovering" in info and "Missing plugins" not in info, f"gst-discoverer:\n{info}")
    expect(f"{caps}" in info and f"width=(int){width}, height=(int){height}" in info,
           f"gst-discoverer does not report {caps} {width}x{height}:\n{info}")
    expect(("audio/x-raw" in info) == bool(audio), f"gst-discoverer audio streams:\n{info}")

    # Count the decoded video frames at a fakesink, every buffer reported.
    pipeline = ["gst-launch-1.0", "-v", "filesrc", f"location={out}", "!", "decodebin", "name=d",
                "d.", "!", "queue", "!", "video/x-raw", "!", "fakesink", "name=frames", "silent=false", "sync=false"]
    if audio:
        pipeline += ["d.", "!", "queue", "!", "audio/x-raw", "!", "fakesink", "sync=false"]
    proc = subprocess.run(pipeline, capture_output=True, text=True, timeout=120)
    expect(proc.returncode == 0, f"gst-launch exit {proc.returncode}:\n{proc.stderr[-3000:]}\n{proc.stdout[-3000:]}")
    frames = sum(1 for line in proc.stdout.splitlines() if "frames" in line and "chain" in line)
    expected = len(reference_md5s(fixtures, fixture))
    expect(frames == expected, f"GStreamer decoded {frames} frames, the original has {expected}")
    print(f"ok: GStreamer identified {caps} {width}x{height} and decoded {frames} frames")


def check_cut(tool, fixtures, fixture, audio, work):
    need("ffmpeg", "ffprobe")
    out = os.path.join(work, "out.asf")
    # The writer holds about 1 MiB of packets before it writes; repeat the inputs until they are
    # well past that, so the cut file holds data packets and misses the last ones.
    size = os.path.getsize(os.path.join(fixtures, FIXTURES[fixture][0]))
    if audio:
        size += os.path.getsize(os.path.join(fixtures, AUDIO))
    repeat = -(-(3 << 20) // size)
    reference = reference_md5s(fixtures, fixture) * repeat
    # Cut after about three quarters of the samples (video and 20 ms audio blocks interleaved).
    samples = len(reference) + (200 * repeat if audio else 0)
    write_asf(tool, fixtures, fixture, audio, out, repeat=repeat, cut_after=samples * 3 // 4)
    expect(os.path.getsize(out) > 0, "nothing was written before the cut")
    proc = run(["ffmpeg", "-nostdin", "-v", "error"] + DECODER_OPTIONS.get(fixture, []) +
               ["-i", out, "-map", "0:v", "-fps_mode", "passthrough", "-f", "framemd5", "-"], check=False)
    expect(proc.returncode == 0, f"ffmpeg could not read the cut file:\n{proc.stderr[-3000:]}")
    errors = [line for line in proc.stderr.splitlines() if line.strip()]
    # A cut file may end inside a packet; at most that last packet may be reported.
    expect(len(errors) <= 1, "ffmpeg reported more than the last packet:\n" + "\n".join(errors))
    ours = [line.split(",")[-1].strip() for line in proc.stdout.splitlines() if line and not line.startswith("#")]
    expect(0 < len(ours) < len(reference) * 3 // 4, f"{len(ours)} of {len(reference)} frames decoded from the cut file")
    expect(ours == reference[:len(ours)], "the frames of the cut file differ from the original's")
    print(f"ok: the cut file decodes {len(ours)} of {len(reference)} frames bit-exact")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--tool")
    parser.add_argument("--fixtures")
    parser.add_argument("--case")
    args = parser.parse_args()
    if args.list:
        print("\n".join(cases()))
        return 0
    kind, _, rest = args.case.partition(".")
    fixture, _, audio = rest.partition("+")
    if fixture not in FIXTURES or kind not in ("ffmpeg", "gstreamer", "cut"):
        print(f"unknown case {args.case}", file=sys.stderr)
        return 1
    check = {"ffmpeg": check_ffmpeg, "gstreamer": check_gstreamer, "cut": check_cut}[kind]
    with tempfile.TemporaryDirectory(prefix="pelistra-interop-") as work:
        try:
            check(args.tool, args.fixtures, fixture, audio == "audio", work)
        except Failure as failure:
            print(f"FAIL {args.case}: {failure}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

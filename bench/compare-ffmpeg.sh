#!/usr/bin/env bash
# pelistra record beside ffmpeg -c copy, on the same inputs in one run: compare-ffmpeg.sh BUILD_DIR
#
# Inputs are made once per run on tmpfs: H.264 at 720p 4 Mbit/s (60 s) and 1080p 8 Mbit/s (120 s),
# each with PCM audio of its length, and the 720p stream again at four times the length to show
# whether memory grows with the recording. Each tool runs BENCH_RUNS times per input, alternating;
# the best wall time counts (the machine is shared). Then sixteen live-rate recordings at once,
# each fed at 4 Mbit/s by a pacer, with the CPU they use.
#
# Environment: BENCH_RUNS (5), BENCH_LIVE_SECONDS (30), BENCH_LIVE_COUNT (16),
# BENCH_INPUTS (a folder to keep the generated inputs in between runs).
set -euo pipefail
build=$(realpath "${1:-build-release}")
here=$(dirname "$(realpath "$0")")
pelistra=$build/bin/pelistra
runs=${BENCH_RUNS:-5}
live_seconds=${BENCH_LIVE_SECONDS:-30}
live_count=${BENCH_LIVE_COUNT:-16}

for tool in ffmpeg python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare-ffmpeg: skipped, $tool is missing"; exit 0; }
done
if ! "$pelistra" record --help >/dev/null 2>&1; then
  echo "compare-ffmpeg: skipped, $pelistra has no record command"
  exit 0
fi

scratch=$(mktemp -d /dev/shm/pelistra-compare.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$scratch"' EXIT
inputs=${BENCH_INPUTS:-$scratch/inputs}
mkdir -p "$inputs"

# A moving picture with grain, so the encoder spends its bit rate as on camera footage.
make_video() {  # NAME SIZE KBITS SECONDS
  local out=$inputs/$1.264
  [ -s "$out" ] && return
  ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=$2:rate=25,noise=alls=12:allf=t" -t "$4" \
    -c:v libx264 -preset ultrafast -tune zerolatency -b:v "$3k" -maxrate "$3k" -bufsize "$3k" -g 50 \
    -bsf:v h264_mp4toannexb -f h264 "$out.part"
  mv "$out.part" "$out"
}
make_audio() {  # NAME SECONDS
  local out=$inputs/$1.wav
  [ -s "$out" ] && return
  ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=440:sample_rate=48000" -ac 2 -t "$2" \
    -c:a pcm_s16le -f wav "$out.part"
  mv "$out.part" "$out"
}
echo "making the inputs in $inputs"
make_video 720p 1280x720 4000 60
make_video 1080p 1920x1080 8000 120
make_audio a60 60
make_audio a120 120
make_audio a240 240
[ -s "$inputs/720p-x4.264" ] || cat "$inputs"/720p.264{,,,} >"$inputs/720p-x4.264"

# Runs a command; prints "WALL_SECONDS PEAK_KB USER_SECONDS SYS_SECONDS".
measure() {
  local t0 t1
  t0=$(date +%s%N)
  if ! /usr/bin/time -f '%M %U %S' -o "$scratch/time.txt" "$@" >"$scratch/out.txt" 2>&1; then
    echo "compare-ffmpeg: failed: $*" >&2
    cat "$scratch/out.txt" >&2
    return 1
  fi
  t1=$(date +%s%N)
  echo "$(( (t1 - t0) / 1000 ))e-6 $(cat "$scratch/time.txt")"
}

# The elementary stream and the PCM samples: what both files must carry.
payload_bytes() {
  python3 -c 'import os, sys, wave
w = wave.open(sys.argv[2])
print(os.path.getsize(sys.argv[1]) + w.getnframes() * w.getsampwidth() * w.getnchannels())' "$1" "$2"
}

printf '\n%-28s %-9s %9s %9s %9s %10s\n' "input (best of $runs)" tool seconds "MB/s" "peak MB" overhead
status=0
for row in "720p 4 Mbit/s 60 s:720p:a60" "1080p 8 Mbit/s 120 s:1080p:a120" "720p 4 Mbit/s 240 s:720p-x4:a240"; do
  IFS=: read -r label video audio <<<"$row"
  v=$inputs/$video.264 a=$inputs/$audio.wav
  payload=$(payload_bytes "$v" "$a")
  best_p=999999 best_f=999999 peak_p=0 peak_f=0
  for ((i = 0; i < runs; i++)); do
    rm -f "$scratch/p.asf" "$scratch/f.asf"
    read -r wall peak _ _ < <(measure "$pelistra" record --video "$v" --audio "$a" -o "$scratch/p.asf" -q) || { status=1; break; }
    best_p=$(awk -v a="$best_p" -v b="$wall" 'BEGIN { print (b < a ? b : a) }')
    (( peak > peak_p )) && peak_p=$peak
    read -r wall peak _ _ < <(measure ffmpeg -nostdin -loglevel error -y -i "$v" -i "$a" -c copy "$scratch/f.asf") || { status=1; break; }
    best_f=$(awk -v a="$best_f" -v b="$wall" 'BEGIN { print (b < a ? b : a) }')
    (( peak > peak_f )) && peak_f=$peak
  done
  [ -s "$scratch/p.asf" ] && [ -s "$scratch/f.asf" ] || { status=1; continue; }
  # A fast run counts only if its file is whole.
  "$pelistra" probe "$scratch/p.asf" | grep -q '^Problems: none$' || { echo "  $label: our file has problems"; status=1; }
  size_p=$(stat -c %s "$scratch/p.asf") size_f=$(stat -c %s "$scratch/f.asf")
  awk -v label="$label" -v payload="$payload" -v tp="$best_p" -v tf="$best_f" -v mp="$peak_p" -v mf="$peak_f" \
      -v sp="$size_p" -v sf="$size_f" 'BEGIN {
    mb = payload / 1e6
    printf "%-28s %-9s %9.3f %9.0f %9.1f %9.2f%%\n", label, "pelistra", tp, mb / tp, mp / 1024, (sp - payload) * 100 / payload
    printf "%-28s %-9s %9.3f %9.0f %9.1f %9.2f%%\n", "", "ffmpeg", tf, mb / tf, mf / 1024, (sf - payload) * 100 / payload
    printf "%-28s %-9s %9s %8.2fx %8.2fx\n", "", "ratio", "", tf / tp, mf / mp
  }'
done
echo "(MB/s: payload megabytes per wall second; ratio: pelistra's throughput over ffmpeg's, ffmpeg's peak memory over pelistra's)"

# Uneven inputs: 120 s of video with 120 s of audio, and with only 3 s of it. Once the audio has
# ended, the video must not wait for it: both should take about the same time.
make_audio a3 3
echo
printf '%-34s %9s\n' "1080p 120 s video (best of $runs)" seconds
for row in "with 120 s of audio:a120" "with 3 s of audio:a3"; do
  IFS=: read -r label audio <<<"$row"
  best=999999
  for ((i = 0; i < runs; i++)); do
    rm -f "$scratch/u.asf"
    read -r wall _ _ _ < <(measure "$pelistra" record --video "$inputs/1080p.264" --audio "$inputs/$audio.wav" \
      -o "$scratch/u.asf" -q) || { status=1; break; }
    best=$(awk -v a="$best" -v b="$wall" 'BEGIN { print (b < a ? b : a) }')
  done
  printf '%-34s %9.3f\n' "  $label" "$best"
done

# Sixteen live recordings: each pelistra reads a pipe that a pacer fills at 4 Mbit/s.
echo
echo "$live_count live recordings at 4 Mbit/s for $live_seconds s"
pids=()
for ((i = 0; i < live_count; i++)); do
  (
    python3 "$here/pace.py" "$inputs/720p.264" 500000 "$live_seconds" |
      /usr/bin/time -f '%M %U %S %e' -o "$scratch/live-$i.time" \
        "$pelistra" record --video - --video-format h264 --live -o "$scratch/live-$i.asf" -q \
        >"$scratch/live-$i.log" 2>&1
  ) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
awk -v count="$live_count" -v seconds="$live_seconds" '
  { peak = $1 > peak ? $1 : peak; cpu += $2 + $3; wall = $4 > wall ? $4 : wall; n++ }
  END {
    if (n < count) { print "  missing results"; exit 1 }
    printf "  CPU: %.2f s user+sys over %.1f s wall = %.1f%% of one core (%.2f%% each); peak memory %.1f MB\n",
      cpu, wall, cpu * 100 / wall, cpu * 100 / wall / count, peak / 1024
  }' "$scratch"/live-*.time || status=1
for ((i = 0; i < live_count; i++)); do
  size=$(stat -c %s "$scratch/live-$i.asf" 2>/dev/null || echo 0)
  if (( size < 500000 * live_seconds / 2 )) || ! "$pelistra" probe "$scratch/live-$i.asf" | grep -q '^Problems: none$'; then
    echo "  recording $i wrote $size bytes:"; cat "$scratch/live-$i.log"; status=1
  fi
done
exit $status

#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
# As root it runs apt-get; otherwise it prints the apt-get line to run.
set -euo pipefail

packages=(
  cmake make g++ pkg-config        # the build
  libgtest-dev libgmock-dev        # unit tests
  libbenchmark-dev                 # benchmarks
  libsqlite3-dev                   # the registry database
  libcli11-dev                     # command lines of the programs
  clang libclang-rt-14-dev         # libFuzzer targets
  ffmpeg x264                      # interoperability tests and fixtures (black-box players)
  gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  gstreamer1.0-plugins-ugly        # GStreamer's ASF demuxer
  gstreamer1.0-plugins-base-apps   # gst-discoverer-1.0
  python3                          # test drivers
  time                             # /usr/bin/time: peak memory in the benchmarks
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

cmd=(apt-get install -y --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && ${cmd[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
"${cmd[@]}"

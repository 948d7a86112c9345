#!/usr/bin/env bash
# Installs what is missing (Debian 12 packages only), fetches the sample clip
# and builds the project. Safe to run again: every step is skipped when done.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  g++ cmake make pkg-config
  libopencv-dev qtbase5-dev nlohmann-json3-dev
  libgtest-dev libbenchmark-dev
  xvfb xdotool imagemagick x11-utils faketime libx11-dev
  clang libclang-rt-14-dev libomp-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-opencv
  ffmpeg googletest
  mosquitto mosquitto-clients libmosquitto-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libcpp-httplib-dev chromium chromium-driver python3-selenium
)
# The cross build for 64-bit ARM and its run under emulation
# (scripts/cross-aarch64.sh), on x86-64 machines.
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  PACKAGES+=(g++-aarch64-linux-gnu qemu-user)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
apt_updated=0
apt_update_once() {
  if [ "$apt_updated" -eq 0 ]; then
    $SUDO apt-get update -qq
    apt_updated=1
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update_once
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The sample clip ships inside Debian's opencv-doc package; only that one
# file is unpacked, the package itself is not installed.
SAMPLE=samples/vtest.avi
if [ ! -s "$SAMPLE" ]; then
  echo "Fetching the sample video into $SAMPLE"
  mkdir -p samples
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  apt_update_once
  (cd "$tmp" && apt-get download -qq opencv-doc 2>/dev/null)
  dpkg-deb --fsys-tarfile "$tmp"/opencv-doc_*.deb \
    | tar -x -O ./usr/share/doc/opencv-doc/examples/data/vtest.avi > "$SAMPLE.part"
  mv "$SAMPLE.part" "$SAMPLE"
fi

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"

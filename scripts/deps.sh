#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any is missing.
# As root it runs apt-get; otherwise it prints the exact command and stops.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config make
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # command-line keyer: argument parsing and media
  libcli11-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  # comparison against FFmpeg's own keyers, run in process
  libavfilter-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

cmd="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages. Run as root:" >&2
  echo "  apt-get update && $cmd" >&2
  exit 1
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y --no-install-recommends "${missing[@]}"

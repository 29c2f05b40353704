#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any is missing.
# As root it runs apt-get; otherwise it prints the exact command and stops.
#
#   scripts/deps.sh            what `make demo` needs: build, tests, benchmarks, the keyer
#   scripts/deps.sh windows    also the mingw-w64 cross toolchains (`make windows`)
#   scripts/deps.sh test       also what the 32-bit and Windows checks of `make test` run:
#                              g++-multilib, GoogleTest sources, qemu-user and wine64
set -euo pipefail

group=${1:-}
case "$group" in
  "" | windows | test) ;;
  *) echo "usage: $0 [windows|test]" >&2; exit 2 ;;
esac

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
if [ "$group" = windows ] || [ "$group" = test ]; then
  packages+=(
    # the plugin DLLs: the -posix compilers (std::thread/std::mutex) and their objdump
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  )
fi
if [ "$group" = test ]; then
  packages+=(
    # the keying tests as 32-bit x86 code: compiler, GoogleTest sources, emulator
    g++-multilib googletest qemu-user
    # the 64-bit DLL loaded by a Windows test program
    wine64
  )
fi

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

#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine: headless, bounded in time, in a Wine prefix
# of its own (created on first use, which takes a while). Starts Wine's 64-bit loader
# directly, since the `wine` wrapper looks for the 32-bit one.
#
#   run_under_wine.sh PREFIX PROGRAM [ARG...]    absolute Unix paths in ARGs become Z:\ paths
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PREFIX PROGRAM [ARG...]" >&2; exit 2; }
prefix=$1
program=$2
shift 2
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installer prompts while the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$prefix"

args=()
for a in "$@"; do
  if [[ $a == /* ]]; then a="Z:${a//\//\\}"; fi
  args+=("$a")
done

status=0
timeout 300 "$wine" "$program" "${args[@]}" || status=$?
[ $status -eq 124 ] && echo "FAIL: $program did not finish within 300 s under Wine" >&2
# Let this prefix's server finish now rather than outlive the test; stop it if it will not.
timeout 30 "$wineserver" -w || "$wineserver" -k || true
exit $status

#!/usr/bin/env bash
# Runs the demo host under Wine in a session of its own; the demo's files land in
# demo-output/. Arguments go to the demo (see pictor-demo --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows
state=$build/demo-wine
trap '"$root/tests/wine/wine-session.sh" end "$state" >/dev/null' EXIT
"$root/tests/wine/wine-session.sh" start "$state" >/dev/null
mkdir -p "$root/demo-output"
cd "$root"
PICTOR_WINE_STATE=$state PICTOR_WINE_DISPLAY=1 "$build/wine-exec.sh" "$build/bin/pictor-demo.exe" --out demo-output "$@"

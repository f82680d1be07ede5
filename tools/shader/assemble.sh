#!/usr/bin/env bash
# Reassembles the preview's pixel program and rewrites the checked-in bytes.
#   tools/shader/assemble.sh [build-dir]      (default: build/windows)
# Here the assembler runs under Wine in a session of its own; on Windows run
# pictor-shader-assemble.exe directly with the same arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/windows}
cmake --build "$build" --target pictor-shader-assemble
state=$(mktemp -d)
trap '"$root/tests/wine/wine-session.sh" end "$state" >/dev/null 2>&1 || true; rm -rf "$state"' EXIT
"$root/tests/wine/wine-session.sh" start "$state"
shader=$root/preview/shader
PICTOR_WINE_STATE=$state "$build/wine-exec.sh" "$build/bin/pictor-shader-assemble.exe" \
  "Z:$shader/KeyBlur7x7.asm" "Z:$shader/KeyBlur7x7.bin"

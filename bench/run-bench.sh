#!/usr/bin/env bash
# Runs every benchmark and prints its figures. Windows benchmarks run under Wine in one
# session started here; each benchmark is one block below (add yours as a block of its own).
# Trees must have been built (make build). Figures also go to bench-output/bench.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows
state=$build/bench-wine
out=$root/bench-output
mkdir -p "$out"
: > "$out/bench.txt"
status=0

wine_session_started=
start_wine() {
  [[ -n $wine_session_started ]] && return
  trap '"$root/tests/wine/wine-session.sh" end "$state" >/dev/null' EXIT
  "$root/tests/wine/wine-session.sh" start "$state" >/dev/null
  wine_session_started=1
}
run_wine() { PICTOR_WINE_STATE=$state "$build/wine-exec.sh" "$@"; }
report() { tee -a "$out/bench.txt"; }

# --- log: refused LogVerbose cost, accepted LogInfo throughput vs memcpy --------------
if [[ -x $build/bin/pictor-log-bench.exe ]]; then
  start_wine
  echo "=== log" | report
  run_wine "$build/bin/pictor-log-bench.exe" 2>&1 | tr -d '\r' | report || status=1
else
  echo "=== log: not built ($build/bin/pictor-log-bench.exe)" | report
  status=1
fi

# --- colorkey: software colour key (scalar, SSE2, AVX2) vs memcpy and FFmpeg's filters --
# A native program: the kernels are portable, and FFmpeg's filters run on Linux.
colorkey_bench=$root/build/native/bench/colorkey/colorkey_bench
if [[ -x $colorkey_bench ]]; then
  echo "=== colorkey" | report
  "$colorkey_bench" 2>&1 | report || status=1
else
  echo "=== colorkey: not built ($colorkey_bench)" | report
  status=1
fi

# --- soft compose: the keyed preview's composite on the CPU at 1080p and 4K vs memcpy ----
soft_compose_bench=$root/build/native/bench/colorkey/soft_compose_bench
if [[ -x $soft_compose_bench ]]; then
  echo "=== soft compose" | report
  "$soft_compose_bench" 2>&1 | report || status=1
else
  echo "=== soft compose: not built ($soft_compose_bench)" | report
  status=1
fi

# --- person: segmentation kernels per frame and per mask, the runtime's load and model run -
if [[ -x $build/bin/person-bench.exe ]]; then
  start_wine
  echo "=== person" | report
  run_wine "$build/bin/person-bench.exe" 2>&1 | tr -d '\r' | report || status=1
else
  echo "=== person: not built ($build/bin/person-bench.exe)" | report
  status=1
fi

# --- person preview: the whole process's CPU at 720p30 and 1080p30 in person mode, and the
# first switch to the first frame that shows the person, on the photograph -------------
picture=/usr/lib/python3/dist-packages/skimage/data/astronaut.png
if [[ -x $build/bin/person-preview-bench.exe ]]; then
  start_wine
  echo "=== person preview" | report
  run_wine "$build/bin/person-preview-bench.exe" "Z:$picture" 2>&1 | tr -d '\r' | report || status=1
else
  echo "=== person preview: not built ($build/bin/person-preview-bench.exe)" | report
  status=1
fi

# --- capture: per-frame sample copy, conversion and delivery at 1920x1080 vs memcpy ---
# Frames come from the virtual camera (mf.dll beside the program) through Wine's reader;
# then unpaced MJPG, YUY2, NV12 and RGB32 captures through both converters.
if [[ -x $build/bin/capture-bench.exe ]]; then
  start_wine
  echo "=== capture" | report
  run_wine "$build/bin/capture-bench.exe" 2>&1 | tr -d '\r' | report || status=1
else
  echo "=== capture: not built ($build/bin/capture-bench.exe)" | report
  status=1
fi

# --- capture memory: growth per stop and start, reconnection and frame, beside the platform's
# own open and close and asynchronous read, after 300 and 700 more cycles (a cache levels off,
# a leak goes on).
if [[ -x $build/bin/capture-memory-bench.exe ]]; then
  start_wine
  echo "=== capture memory" | report
  run_wine "$build/bin/capture-memory-bench.exe" 2>&1 | tr -d '\r' | report || status=1
else
  echo "=== capture memory: not built ($build/bin/capture-memory-bench.exe)" | report
  status=1
fi

# --- preview: keyed preview rate against raw capture, time per frame stage, and the ---
# --- rate of each renderer (Direct3D 9, software) at 720p and 1080p, and the software ---
# --- preview on a paced 30/1 camera at 1080p and 4K (rate, frames dropped per 100) ---
# Direct3D needs the session's display.
if [[ -x $build/bin/preview-bench.exe ]]; then
  start_wine
  echo "=== preview" | report
  PICTOR_WINE_DISPLAY=1 run_wine "$build/bin/preview-bench.exe" 3 2>&1 | tr -d '\r' | report || status=1
else
  echo "=== preview: not built ($build/bin/preview-bench.exe)" | report
  status=1
fi

exit $status

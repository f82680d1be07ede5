#!/usr/bin/env bash
# Runs the demo host, then the viewer once, under Wine in a session of its own; their
# files land in demo-output/. Arguments go to the demo (see pictor-demo --help), except
# --log-console, which shows the library's log lines on the console as well.
#
# A log server runs beside the demo in the same Wine session: it registers Pictor.dll and
# pictor-demo.exe in build/windows/bin at level 2 and writes the library's log lines to
# demo-output/pictor-log.txt only, so that the console shows the demo's tables. It is
# stopped through its stop event once the demo has ended, so that the last lines are
# written before the session goes away.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows
state=$build/demo-wine
exec_wine() { PICTOR_WINE_STATE=$state "$build/wine-exec.sh" "$@"; }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

console=--quiet
demo_args=()
for a in "$@"; do
  if [[ $a == --log-console ]]; then console=; else demo_args+=("$a"); fi
done

server_pid=
cleanup() {
  if [[ -n $server_pid ]] && kill -0 "$server_pid" 2>/dev/null; then
    exec_wine "$build/bin/pictor-logserver.exe" --stop pictor-demo-stop >/dev/null 2>&1 || true
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  "$root/tests/wine/wine-session.sh" end "$state" >/dev/null
}
trap cleanup EXIT
"$root/tests/wine/wine-session.sh" start "$state" >/dev/null
mkdir -p "$root/demo-output"
rm -f "$root/demo-output/pictor-log.txt"
cd "$root"

exec_wine "$build/bin/pictor-logserver.exe" --dir "$(winpath "$build/bin")" --channel pictor-demo --level 2 \
  --module Pictor.dll --module pictor-demo.exe $console \
  --out "$(winpath "$root/demo-output/pictor-log.txt")" --stop-event pictor-demo-stop </dev/null &
server_pid=$!
# The demo starts once the server has registered the directory.
for _ in $(seq 100); do
  if exec_wine "$build/bin/pictor-logserver.exe" --list 2>/dev/null | grep -qE 'channel pictor-demo\r?$'; then
    break
  fi
  kill -0 "$server_pid" 2>/dev/null || { echo "run-demo: the log server did not start" >&2; exit 1; }
  sleep 0.2
done

status=0
PICTOR_WINE_STATE=$state PICTOR_WINE_DISPLAY=1 "$build/wine-exec.sh" "$build/bin/pictor-demo.exe" --out demo-output ${demo_args[@]+"${demo_args[@]}"} \
  || status=$?

# The viewer, once, as a script would run it: the green-screen camera keyed over the
# preview section's picture (or black), its 60th composite and its window saved.
background=black
[[ ! -f demo-output/preview-background.png ]] || background=$(winpath "$root/demo-output/preview-background.png")
echo
echo "== viewer: pictor-viewer.exe on the green-screen camera (demo-output/viewer-*.png)"
PICTOR_WINE_STATE=$state PICTOR_WINE_DISPLAY=1 "$build/wine-exec.sh" "$build/bin/pictor-viewer.exe" \
  --camera "Green Screen" --keying green --background "$background" --frames 60 \
  --snapshot "$(winpath "$root/demo-output/viewer-composite.png")" \
  --window-shot "$(winpath "$root/demo-output/viewer-window.png")" --status-log - </dev/null || status=$?

exec_wine "$build/bin/pictor-logserver.exe" --stop pictor-demo-stop
wait "$server_pid" || true
server_pid=
echo
echo "run-demo: $(wc -l < demo-output/pictor-log.txt 2>/dev/null || echo 0) log lines written to demo-output/pictor-log.txt"
exit $status

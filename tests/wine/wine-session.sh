#!/usr/bin/env bash
# Starts or ends one Wine session for a test run or a demo:
#   wine-session.sh start STATE_DIR   private WINEPREFIX and an Xvfb screen of its own
#   wine-session.sh end STATE_DIR     ends every process of that prefix and the screen
# STATE_DIR keeps the prefix path, the display and the Xvfb pid for wine-exec.sh.
set -euo pipefail
cmd=${1:?start or end}
state=${2:?state directory}

end_session() {
  if [[ -f $state/prefix ]]; then
    WINEPREFIX=$(cat "$state/prefix") wineserver -k 2>/dev/null || true
    WINEPREFIX=$(cat "$state/prefix") wineserver -w 2>/dev/null || true
    rm -rf -- "$(cat "$state/prefix")"
  fi
  [[ ! -f $state/xvfb.pid ]] || kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  rm -rf -- "$state"
}

case $cmd in
  start)
    end_session
    mkdir -p "$state"
    prefix=$(mktemp -d /tmp/pictor-wine.XXXXXX)
    echo "$prefix" > "$state/prefix"
    # Xvfb picks a free display number itself and writes it to the descriptor.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display.num" >"$state/xvfb.log" 2>&1 &
    echo $! > "$state/xvfb.pid"
    for _ in $(seq 100); do [[ -s $state/display.num ]] && break; sleep 0.1; done
    [[ -s $state/display.num ]] || { echo "wine-session: Xvfb did not start (see $state/xvfb.log)" >&2; exit 1; }
    display=:$(tr -d '[:space:]' < "$state/display.num")
    echo "$display" > "$state/display"
    # No Mono or Gecko installers: nothing here needs them.
    WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=$display \
      wineboot -i >"$state/wineboot.log" 2>&1
    WINEPREFIX=$prefix wineserver -w
    echo "wine session ready: prefix $prefix, display $display"
    ;;
  end) end_session; echo "wine session ended" ;;
  *) echo "usage: $0 start|end STATE_DIR" >&2; exit 2 ;;
esac

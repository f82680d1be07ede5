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
    local prefix
    prefix=$(cat "$state/prefix")
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    rm -rf -- "$prefix"
  fi
  if [[ -f $state/xvfb.pid ]]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  fi
  rm -rf -- "$state"
}

case $cmd in
  start)
    end_session
    mkdir -p "$state"
    prefix=$(mktemp -d /tmp/pictor-wine.XXXXXX)
    echo "$prefix" > "$state/prefix"

    # A display number nobody uses: the first free one from 90 on.
    display=90
    while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do
      display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
    echo $! > "$state/xvfb.pid"
    echo ":$display" > "$state/display"
    for _ in $(seq 50); do
      [[ -e /tmp/.X11-unix/X$display ]] && break
      sleep 0.1
    done

    # No Mono or Gecko installers: nothing here needs them.
    WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=":$display" \
      wineboot -i >"$state/wineboot.log" 2>&1
    WINEPREFIX=$prefix wineserver -w
    echo "wine session ready: prefix $prefix, display :$display"
    ;;
  end)
    end_session
    echo "wine session ended"
    ;;
  *)
    echo "usage: $0 start|end STATE_DIR" >&2
    exit 2
    ;;
esac

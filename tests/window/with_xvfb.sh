#!/usr/bin/env bash
# Runs a command on a private Xvfb display, started for it and stopped after:
#   with_xvfb.sh COMMAND [ARGS ...]
# The display number is the first free one from 90; the server keeps running
# when its last client disconnects (-noreset), so a program that opens and
# closes windows several times finds it each time.
set -euo pipefail
display=90
while [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [[ -e /tmp/.X11-unix/X$display ]] && break
  sleep 0.05
done
DISPLAY=":$display" "$@"

#!/bin/sh
# Runs a command as the only client of a headless Wayland compositor of its own (weston, CPU rendering), with Qt's
# Wayland platform plugin and no X display to fall back to.
set -eu
runtime=$(mktemp -d) # only its owner's, as the runtime folder must be
export XDG_RUNTIME_DIR="$runtime"
weston --backend=headless-backend.so --use-pixman --socket=wayland-test --idle-time=0 \
  --log="$runtime/weston.log" &
compositor=$!
trap 'kill $compositor 2>/dev/null; wait $compositor 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 100); do
  [ -S "$runtime/wayland-test" ] && break
  sleep 0.1
done
[ -S "$runtime/wayland-test" ] || { echo "weston did not start:"; cat "$runtime/weston.log"; exit 1; }
# A compositor without a seat makes Qt 6.4's text input crash; a real desktop always has a seat.
env -u DISPLAY WAYLAND_DISPLAY="$runtime/wayland-test" QT_QPA_PLATFORM=wayland QT_IM_MODULE=none "$@"

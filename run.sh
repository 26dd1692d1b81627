#!/usr/bin/env bash
# Installs what is missing, builds, and starts Slimreel.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
slimreel_ensure_packages
slimreel_build build -DSLIMREEL_BUILD_TESTS=OFF >&2
if [ -x build/src/ui/slimreel ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Slimreel needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not set)." >&2
    echo "Without one, use the command-line program: build/src/cli/slimreel-cli --help" >&2
    exit 1
  fi
  exec build/src/ui/slimreel "$@"
fi
exec build/src/cli/slimreel-cli "$@"

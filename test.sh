#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
slimreel_ensure_packages
# Explicit: ./run.sh configures the same folder without the tests.
slimreel_build build -DSLIMREEL_BUILD_TESTS=ON

# The window tests need a display; without one a virtual one is started for the
# run and stopped afterwards (the tests' own result is what this script returns).
xvfb_pid=
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  exec {displayfd}<> <(:)
  # -noreset: otherwise a test connecting just as the last client leaves meets a server in reset.
  Xvfb -displayfd "$displayfd" -screen 0 1600x1000x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 10 -u "$displayfd" display_number || true
  exec {displayfd}<&-
  if [ -n "${display_number:-}" ]; then
    export DISPLAY=":$display_number"
  fi
  trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; true' EXIT
fi
ctest --test-dir build --output-on-failure --parallel "$(nproc)" "$@"

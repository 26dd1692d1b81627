#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
slimreel_ensure_packages
slimreel_build build
# The window tests need a display; a virtual one is used when there is none.
runner=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  runner=(xvfb-run -a -s "-screen 0 1600x1000x24")
fi
"${runner[@]}" ctest --test-dir build --output-on-failure --parallel "$(nproc)" "$@"

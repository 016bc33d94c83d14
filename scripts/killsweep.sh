#!/usr/bin/env bash
# Kills drydock-cli with SIGKILL at every file-changing step of install, update
# mod and uninstall, and checks after each kill that the next run leaves the game
# exactly as before the command or as after it. Needs a dev build (./test.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
test=build/dev/tests/tst_killpoints
[[ -x $test ]] || { echo "build the dev preset first: cmake --preset dev && cmake --build --preset dev" >&2; exit 2; }
VEGA_KILL_SWEEP=1 exec "$test" "$@"

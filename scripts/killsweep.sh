#!/usr/bin/env bash
# Kills drydock-cli with SIGKILL at every file-changing step of install, update
# mod and uninstall. Right after each kill, before any program of ours runs, it
# reads the raw mod pair as the game does (its own decoder: no archive library,
# no journal) and counts the broken pairs; then it checks that the next run leaves
# the game exactly as before the command or as after it. Needs a dev build
# (./test.sh). VEGA_KILL_SWEEP_CLI=/path/to/drydock-cli measures another build.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
test=build/dev/tests/tst_killpoints
[[ -x $test ]] || { echo "build the dev preset first: cmake --preset dev && cmake --build --preset dev" >&2; exit 2; }
VEGA_KILL_SWEEP=1 exec "$test" "$@"

#!/usr/bin/env bash
# Builds the dev preset, generates a sample game and lists its catalogues.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

scripts/deps.sh
cmake --preset dev
cmake --build --preset dev

cli=build/dev/bin/drydock-cli
game=build/dev/sample-game
if [ ! -d "$game" ]; then
    "$cli" make-sample-game "$game"
fi

shopt -s nullglob
cats=("$game"/[0-9][0-9].cat)
if [ ${#cats[@]} -eq 0 ]; then
    echo "run.sh: no catalogues in $game" >&2
    exit 1
fi
for cat in "${cats[@]}"; do
    echo "== $cat"
    "$cli" cat list "$cat"
done

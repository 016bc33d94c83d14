#!/usr/bin/env bash
# Builds the dev preset, generates a sample game, installs the two sample ship
# packages into it, updates the mod and lists the result. Safe to run again: the
# same package versions are simply installed again in place.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

scripts/deps.sh
cmake --preset dev
cmake --build --preset dev

cli=build/dev/bin/drydock-cli
game=build/dev/sample-game
# A game made before the generator wrote sample packages is made again.
if [ ! -f "$game/sample-ships/Merganser.xsp" ] || [ ! -f "$game/sample-ships/Goosander.xsp" ]; then
    rm -rf "$game"
    "$cli" make-sample-game "$game"
fi

echo "== install"
"$cli" install "$game" "$game/sample-ships/Merganser.xsp" "$game/sample-ships/Goosander.xsp"
echo "== update-mod"
"$cli" update-mod "$game"
echo "== list (slot, state, enabled, name, author, version)"
"$cli" list "$game"
echo "== $game/mods/Hullwright.cat"
"$cli" cat list "$game/mods/Hullwright.cat"

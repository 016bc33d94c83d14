#!/usr/bin/env bash
# The main job: builds everything, makes a sample game in the build folder (once),
# points the installer's program folder at it and starts Drydock. The two sample
# packages wait in the game's sample-ships folder, ready to drop into the window.
#
#   ./run.sh          start the installer window
#   ./run.sh --cli    no window: install both samples with drydock-cli, update the
#                     mod and list the result (also used when no display is found)
#   ./run.sh --hullwright
#                     start the authoring window on the same sample game
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

mode=window
case "${1:-}" in
--cli) mode=cli ;;
--hullwright) mode=hullwright ;;
"") ;;
*)
    echo "usage: ./run.sh [--cli | --hullwright]" >&2
    exit 2
    ;;
esac

scripts/deps.sh
cmake --preset dev
cmake --build --preset dev

bin=build/dev/bin
cli=$bin/drydock-cli
game=$(pwd)/build/dev/sample-game
if [ ! -f "$game/sample-ships/Merganser.xsp" ] || [ ! -f "$game/sample-ships/Goosander.xsp" ]; then
    rm -rf "$game"
    "$cli" make-sample-game "$game"
fi

if [ "$mode" = hullwright ]; then
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "run.sh: Hullwright needs a display (try: xvfb-run ./run.sh --hullwright)." >&2
        exit 1
    fi
    # The authoring program's own block of config.dat gets the sample game first.
    config=$bin/config.dat
    if ! grep -qxF "VegaDir: $game" "$config" 2>/dev/null; then
        tmp=$(mktemp "$bin/config.dat.XXXXXX")
        if grep -qx '<creator>' "$config" 2>/dev/null; then
            sed "/^<creator>\$/a VegaDir: $game" "$config" >"$tmp"
        else
            { [ -f "$config" ] && cat "$config"; printf '<creator>\nVegaDir: %s\n</creator>\n' "$game"; } >"$tmp"
        fi
        mv "$tmp" "$config"
    fi
    echo "Hullwright is starting on $game; File > Load Ship Data and pick $game/02.cat."
    exec "$bin/hullwright"
fi

if [ "$mode" = window ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display found; showing the command-line installer instead." >&2
    mode=cli
fi

if [ "$mode" = cli ]; then
    echo "== install"
    "$cli" install "$game" "$game/sample-ships/Merganser.xsp" "$game/sample-ships/Goosander.xsp"
    echo "== update-mod"
    "$cli" update-mod "$game"
    echo "== list (slot, state, enabled, name, author, version)"
    "$cli" list "$game"
    echo "== $game/mods/Hullwright.cat"
    "$cli" cat list "$game/mods/Hullwright.cat"
    exit 0
fi

# The program folder must know the sample game before the window starts: put it
# first among the installer's game directories, keeping every other line.
config=$bin/config.dat
if ! grep -qxF "InstallDir: $game" "$config" 2>/dev/null; then
    tmp=$(mktemp "$bin/config.dat.XXXXXX")
    if grep -qx '<installer>' "$config" 2>/dev/null; then
        sed "/^<installer>\$/a InstallDir: $game" "$config" >"$tmp"
    else
        { [ -f "$config" ] && cat "$config"; printf '<installer>\nInstallDir: %s\n</installer>\n' "$game"; } >"$tmp"
    fi
    mv "$tmp" "$config"
fi
echo "Drydock is starting on $game; drop the packages from $game/sample-ships into its list."
exec "$bin/drydock"

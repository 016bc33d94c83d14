#!/bin/sh
# Renders the drawn list icons into resources/Icons (needs rsvg-convert), and the
# window icon of Drydock in two sizes (drydock-48.png, drydock-256.png), which the
# window falls back to and which are installed beside the SVG for desktops
# without an SVG icon loader.
set -e
here=$(dirname "$0")
for name in ship yes no; do
    rsvg-convert -w 22 -h 22 "$here/$name.svg" -o "$here/../../resources/Icons/$name.png"
done
for size in 48 256; do
    rsvg-convert -w $size -h $size "$here/ship.svg" -o "$here/../../resources/Icons/drydock-$size.png"
done

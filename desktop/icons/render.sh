#!/bin/sh
# Renders the drawn list icons into resources/Icons (needs rsvg-convert).
# The application icons are installed from the SVGs directly.
set -e
here=$(dirname "$0")
for name in ship yes no; do
    rsvg-convert -w 22 -h 22 "$here/$name.svg" -o "$here/../../resources/Icons/$name.png"
done

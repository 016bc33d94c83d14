#!/bin/sh
# Stand-in for the outside model compiler. STANDIN_MODE picks how it behaves;
# each run appends its folder and arguments to STANDIN_LOG.
mode=${STANDIN_MODE:-first}
if [ "$1" = "-d" ]; then try=; in=$2; out=$3; verb=decompiled
else try=$2; in=$3; out=$4; verb=compiled; fi
echo "$(pwd) $*" >> "${STANDIN_LOG:-/dev/null}"
case "$mode" in
hang) exec sleep 600 ;;
hangchild) sleep 600 & echo $! > "${STANDIN_LOG}.child"; wait ;;
flood) exec yes "flooding the output" ;;
silent) cp "$in" "$out"; exit 0 ;;
crash) kill -SEGV $$ ;;
nofile) echo "$in $verb successfully"; exit 0 ;;
dot) printf 'BOB1' > "$out"; echo "model $verb successfully."; exit 0 ;;
second) if [ "$try" = "--cut" ]; then echo "cannot cut"; exit 1; fi ;;
esac
{ printf 'BOB1'; cat "$in"; } > "$out"
echo "reading $in"
echo "model $verb successfully"

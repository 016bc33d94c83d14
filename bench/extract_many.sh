#!/usr/bin/env bash
# Time of extracting a package of many small files (synced as one batch at the
# end). Needs a dev build. Usage: bench/extract_many.sh [FILES] [TARGET_PARENT]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
count=${1:-20000}
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/extract-many.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 - "$work/many.xsp" "$count" <<'PY'
import sys
path, count = sys.argv[1], int(sys.argv[2])
with open(path, 'wb') as out:
    out.write(b'Packager: 1\nName: Many\nAuthor: Bench\nData: 0;0;0;MANY;\n')
    for i in range(count):
        out.write(b'Files: 1 10 many/d%03d/f%06d.txt\n0123456789\n' % (i % 200, i))
PY
mkdir -p "$work/target"
/usr/bin/time -f "extract of $count files: %e s elapsed, %M KiB peak" \
    build/dev/bin/hullwright-cli extract "$work/many.xsp" "$work/target" >/dev/null

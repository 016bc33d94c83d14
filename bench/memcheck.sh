#!/usr/bin/env bash
# Peak memory (maximum resident set, from /usr/bin/time -v) of opening, extracting
# and installing hostile small packages, and of installing a package with one
# large model. Needs a dev build. Usage: bench/memcheck.sh [MODEL_MIB] [DOC_MIB]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bin=build/dev/bin
model_mib=${1:-256}
doc_mib=${2:-400}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/drydock-cli" make-sample-game "$work/game" >/dev/null
sample=$(ls "$work"/game/sample-ships/*.xsp | head -1)

python3 - "$sample" "$work" "$model_mib" "$doc_mib" <<'PY'
import lzma, os, sys
sample, work, model_mib, doc_mib = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
with lzma.open(sample, format=lzma.FORMAT_ALONE) as f:
    doc = f.read()
def write(name, parts, preset=9):
    c = lzma.LZMACompressor(format=lzma.FORMAT_ALONE, preset=preset)
    with open(os.path.join(work, name), 'wb') as out:
        for p in parts:
            out.write(c.compress(p))
        out.write(c.flush())
def repeated(line, total):
    block = line * (4 * 1024 * 1024 // len(line))
    for _ in range(total // len(block)):
        yield block
write('dummies.xsp', [doc] + list(repeated(b'Dummy: SECTION;1;2;3;4;5;6;7;8;\n', doc_mib << 20)))
write('texts.xsp', [doc] + list(repeated(b'Text: 44:A name:A description of the ship\n', doc_mib << 20)))
# One model of MODEL_MIB, of bytes that do not repeat within a block.
seed = os.urandom(1 << 20)
def model():
    yield doc + b'Model: 0 %d objects/ships/huge.bod\n' % (model_mib << 20)
    for i in range(model_mib):
        yield bytes((b + i) & 0xFF for b in seed[:4096]) + seed[4096:]
    yield b'\n'
write('model.xsp', model(), preset=0)
PY
ls -l "$work"/*.xsp | awk '{print $5, $9}'

peak() { # label, command...
    local label=$1; shift
    local rc=0
    /usr/bin/time -v "$@" >"$work/out.txt" 2>"$work/time.txt" || rc=$?
    printf '%-40s %8s KiB  exit %s  %s\n' "$label" \
        "$(grep 'Maximum resident' "$work/time.txt" | awk '{print $NF}')" "$rc" \
        "$( (grep -v '^\s' "$work/time.txt"; cat "$work/out.txt") | head -1 | tail -c 100)"
}
for p in dummies texts; do
    mkdir -p "$work/x-$p"
    peak "hullwright-cli extract $p.xsp" "$bin/hullwright-cli" extract "$work/$p.xsp" "$work/x-$p"
    peak "drydock-cli xsp info $p.xsp" "$bin/drydock-cli" xsp info "$work/$p.xsp"
    peak "drydock-cli install $p.xsp" "$bin/drydock-cli" install "$work/game" "$work/$p.xsp"
done
peak "drydock-cli install model.xsp" "$bin/drydock-cli" install "$work/game" "$work/model.xsp"
head -c $((model_mib << 20)) /dev/urandom > "$work/big.bin"
peak "drydock-cli cat add (${model_mib} MiB, packed)" "$bin/drydock-cli" cat add "$work/c.cat" "$work/big.bin" big.bod --pack
peak "drydock-cli cat add (${model_mib} MiB, plain)" "$bin/drydock-cli" cat add "$work/c.cat" "$work/big.bin" big.bin

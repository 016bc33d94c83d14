#!/usr/bin/env python3
"""Independent encoder of the catalogue, data-file and packed formats.

Written from the byte formats alone (it shares no code with the archive library)
and used once to produce the files in data/vectors that tst_formatvectors.cpp
reads. The files are kept as they are, so a change in our own writer can never
move them.

    python3 tests/archive/data/formatvectors.py tests/archive/data/vectors
    python3 tests/archive/data/formatvectors.py --seeds fuzz/seeds

Deflate data comes from three sources on purpose: a stored block and a
fixed-Huffman block built bit by bit here, and Python's zlib (raw, level 9).
"""
import struct
import sys
import zlib

MTIME = 1600000000  # 0x5F5E1000


def scramble_cat(text: bytes) -> bytes:
    return bytes(b ^ ((0x6E + i) & 0xFF) for i, b in enumerate(text))


def xor(data: bytes, k: int) -> bytes:
    return bytes(b ^ k for b in data)


def stored_block(data: bytes) -> bytes:
    assert len(data) < 65536
    n = len(data)
    return bytes([0x01]) + struct.pack("<HH", n, n ^ 0xFFFF) + data


def fixed_huffman_block(data: bytes) -> bytes:
    """One final block, BTYPE 01, literals only."""
    bits = []

    def put(value, n):  # header fields: least significant bit first
        bits.extend((value >> i) & 1 for i in range(n))

    def put_code(code, n):  # Huffman codes: most significant bit first
        bits.extend((code >> i) & 1 for i in reversed(range(n)))

    put(1, 1)
    put(1, 2)
    for b in data:
        if b < 144:
            put_code(0x30 + b, 8)
        else:
            put_code(0x190 + b - 144, 9)
    put_code(0, 7)  # end of block
    out = bytearray((len(bits) + 7) // 8)
    for i, bit in enumerate(bits):
        out[i // 8] |= bit << (i % 8)
    return bytes(out)


def zlib_raw(data: bytes) -> bytes:
    c = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    return c.compress(data) + c.flush()


def gzip_member(deflated, data, mtime=MTIME, flags=0, extra=None, name=None, comment=None,
                method=8, crc=None, isize=None):
    h = bytes([0x1F, 0x8B, method, flags]) + struct.pack("<I", mtime) + bytes([0, 11])
    if flags & 4:
        h += struct.pack("<H", len(extra)) + extra
    if flags & 8:
        h += name + b"\0"
    if flags & 16:
        h += comment + b"\0"
    if flags & 2:
        h += struct.pack("<H", zlib.crc32(h) & 0xFFFF)
    crc = zlib.crc32(data) if crc is None else crc
    isize = len(data) if isize is None else isize
    return h + deflated + struct.pack("<II", crc, isize)


def packed(member: bytes, key: int) -> bytes:
    return bytes([key ^ 0x3C]) + xor(member, key)


def check_inflate(deflated: bytes, data: bytes):
    assert zlib.decompressobj(-15).decompress(deflated) == data


# --- contents ---
README = b"hello\n"
SHIPS = b"// ships\n48;2;\nHull A;1;2;3;\nHull B;1;2;3;\nHull C;1;2;3;\n"
MODEL = b"BODY 1\n\xe9\xff\x00\n"
NOTES = b"notes"
PAGE = b"<page/>"

# --- packed members ---
ships_def = zlib_raw(SHIPS)
check_inflate(ships_def, SHIPS)
ships_packed = packed(gzip_member(ships_def, SHIPS), 0x5A)

model_def = fixed_huffman_block(MODEL)
check_inflate(model_def, MODEL)
# FHCRC | FEXTRA | FNAME | FCOMMENT: the reader must step over all of them.
model_member = gzip_member(model_def, MODEL, flags=0x1E, extra=b"AB\x02\x00xy",
                           name=b"model.bod", comment=b"hi")
model_packed = packed(model_member, 0xC3)

page_def = stored_block(PAGE)
check_inflate(page_def, PAGE)
page_packed = packed(gzip_member(page_def, PAGE, mtime=0x01020304), 0x00)

# --- catalogue 01: CR LF, empty lines, names with blanks, no final line end ---
entries = [
    (b"readme.txt", README),
    (b"types/TShips.pck", ships_packed),
    (b"objects/ships/my ship.pbd", model_packed),
    (b"docs/read me now.txt", NOTES),
    (b"empty.txt", b""),
    (b"t/0001.pck", page_packed),
]
text = b"01.dat\r\n\r\n"
text += b"%s %d\r\n" % (entries[0][0], len(entries[0][1]))
text += b"%s %d\r\n\n\r" % (entries[1][0], len(entries[1][1]))
text += b"%s %d\n" % (entries[2][0], len(entries[2][1]))
text += b"%s %d\n" % (entries[3][0], len(entries[3][1]))
text += b"%s %d\n" % (entries[4][0], len(entries[4][1]))
text += b"%s %d" % (entries[5][0], len(entries[5][1]))
cat01 = scramble_cat(text)
dat01 = xor(b"".join(e[1] for e in entries), 0xA5)

# --- codec vectors (bare gzip members) ---
ABC = b"abc"
abc_def = stored_block(ABC)
gz_stored = gzip_member(page_def, PAGE, mtime=0x01020304)
gz_fancy = model_member
gz_zlib = gzip_member(ships_def, SHIPS)
gz_reserved = gzip_member(abc_def, ABC, flags=0x20)
gz_method7 = gzip_member(abc_def, ABC, method=7)
gz_badcrc = gzip_member(abc_def, ABC, crc=zlib.crc32(ABC) ^ 1)
gz_bomb = gzip_member(abc_def, ABC, isize=3000000000)
gz_extra_overrun = bytes([0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 11, 0xFF, 0x7F]) + abc_def + struct.pack(
    "<II", zlib.crc32(ABC), 3)
gz_unterminated_name = bytes([0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 11]) + b"name-without-end"
gz_cut_deflate = gzip_member(ships_def[: len(ships_def) // 2], SHIPS)

# --- catalogue 09: damaged archive ---
bad_entries = [
    (b"ok.txt", b"ok!"),
    (b"bomb.pck", packed(gz_bomb, 0x11)),
    (b"crc.pck", packed(gz_badcrc, 0x22)),
    (b"short.txt", b"0123456789"),  # listed as 100 bytes, the data file ends after 10
    (b"after.txt", b""),            # listed as 4 bytes, wholly beyond the end
]
bad_text = b"09.dat\n"
bad_text += b"ok.txt 3\nbomb.pck %d\ncrc.pck %d\nshort.txt 100\nafter.txt 4\n" % (
    len(bad_entries[1][1]), len(bad_entries[2][1]))
cat09 = scramble_cat(bad_text)
dat09 = xor(b"".join(e[1] for e in bad_entries), 0xA5)

# --- catalogue 03: foreign data-file line, kept when the catalogue is rewritten ---
cat03 = scramble_cat(b"XX.DAT\r\nreadme.txt 6\r\n\r\nsub/one.txt 3\r\n")
dat03 = xor(README + b"one", 0xA5)

vectors = {
    "01.cat": cat01,
    "01.dat": dat01,
    "ships.pck": ships_packed,
    "model.pbd": model_packed,
    "stored.gz": gz_stored,
    "fancy-header.gz": gz_fancy,
    "zlib.gz": gz_zlib,
    "reserved.gz": gz_reserved,
    "method7.gz": gz_method7,
    "bad-crc.gz": gz_badcrc,
    "bomb.gz": gz_bomb,
    "extra-overrun.gz": gz_extra_overrun,
    "unterminated-name.gz": gz_unterminated_name,
    "cut-deflate.gz": gz_cut_deflate,
    "09.cat": cat09,
    "09.dat": dat09,
    "03.cat": cat03,
    "03.dat": dat03,
}

# Seeds for the fuzzers (written only when asked).
import os

if len(sys.argv) == 2:
    os.makedirs(sys.argv[1], exist_ok=True)
    for name, data in vectors.items():
        with open(os.path.join(sys.argv[1], name), "wb") as f:
            f.write(data)

if len(sys.argv) > 2 and sys.argv[1] == "--seeds":
    root = sys.argv[2]
    seeds = {
        "catalog": {
            "crlf": text,
            "foreign": b"XX.DAT\r\nreadme.txt 6\r\n\r\nsub/one.txt 3\r\n",
            "zero": b"00.dat\nempty.txt 0\na b c.txt 0\n",
            "noblank": b"07.dat\nnoblank\n",
        },
        "unpack": {
            "zlib": ships_packed,
            "fancy": model_packed,
            "stored": page_packed,
            "reserved": packed(gz_reserved, 0x77),
            "bomb": packed(gz_bomb, 0x11),
        },
    }
    for target, files in seeds.items():
        os.makedirs(os.path.join(root, target), exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(root, target, name), "wb") as f:
                f.write(data)

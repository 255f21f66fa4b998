#!/bin/sh
# Regenerates the compiled-in certificate, key and icons. Run once; the outputs are committed.
set -eu
cd "$(dirname "$0")"

# Self-signed localhost certificate (20 years) with a SAN that browsers accept,
# and its unencrypted PKCS#8 key.
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 7305 \
    -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
    -keyout kvx.key -out kvx.crt

# 18x18 tray icon and a Windows icon that embeds the same PNG.
python3 - <<'PY'
import struct, zlib

def png(size):
    rows = b""
    for y in range(size):
        rows += b"\x00"
        for x in range(size):
            edge = x in (0, size - 1) or y in (0, size - 1)
            card = 3 <= y <= size - 4 and 2 <= x <= size - 3
            stripe = 6 <= y <= 8 and 2 <= x <= size - 3
            if edge:
                rows += bytes((20, 60, 120, 255))
            elif stripe:
                rows += bytes((30, 30, 30, 255))
            elif card:
                rows += bytes((70, 150, 230, 255))
            else:
                rows += bytes((255, 255, 255, 0))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))

tray = png(18)
open("qu_icon_18x18.png", "wb").write(tray)

big = png(32)
icondir = struct.pack("<HHH", 0, 1, 1)
entry = struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(big), 6 + 16)
open("icon.ico", "wb").write(icondir + entry + big)
PY

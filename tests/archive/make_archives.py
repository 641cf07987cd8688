#!/usr/bin/env python3
"""Writes hand-built hostile and damaged zip archives into the folder given as argument."""
import os
import struct
import sys
import zipfile
import zlib


def write(path, entries):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "traversal.zip"), [("good.txt", b"good"), ("../evil1.txt", b"x"),
                                               ("a/../../evil2.txt", b"x"), ("..\\evil3.txt", b"x")])
    write(os.path.join(out, "absolute.zip"), [("/evil4.txt", b"x"), ("\\evil5.txt", b"x"), ("C:evil6.txt", b"x"),
                                              ("ok/fine.txt", b"fine")])
    write(os.path.join(out, "names.zip"), [('we*ird:na?me<>|"x.txt', b"1"), ("dir\\sub\\f.txt", b"2"),
                                           ("ver.txt;12", b"3"), ("ctl\x01\x02.txt", b"4")])
    payload = b"The quick brown fox jumps over the lazy dog. " * 200
    write(os.path.join(out, "good.zip"), [("text.txt", payload)])
    data = bytearray(open(os.path.join(out, "good.zip"), "rb").read())
    # CRC error: change the stored CRC in both headers.
    crc_bad = bytearray(data)
    for signature, offset in ((b"PK\x03\x04", 14), (b"PK\x01\x02", 16)):
        at = crc_bad.find(signature)
        crc_bad[at + offset] ^= 0xFF
    open(os.path.join(out, "crc.zip"), "wb").write(crc_bad)
    # Truncated: cut in the middle of the data (and keep no central directory).
    open(os.path.join(out, "truncated.zip"), "wb").write(bytes(data[: len(data) // 2]))
    # A header that lies: the uncompressed size says 100 bytes.
    lying = bytearray(data)
    for signature, offset in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        at = lying.find(signature)
        lying[at + offset: at + offset + 4] = struct.pack("<I", 100)
    open(os.path.join(out, "lying.zip"), "wb").write(lying)
    # Overlapping entries: many central entries share one compressed body.
    body = zlib.compress(b"\0" * 1000000)[2:-4]
    crc = zlib.crc32(b"\0" * 1000000)
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0, crc, len(body), 1000000, 5, 0) + b"bomb0" + body
    central = b""
    for i in range(50):
        name = ("bomb%d" % i).encode()
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0, crc, len(body), 1000000,
                               len(name), 0, 0, 0, 0, 0, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 50, 50, len(central), len(local), 0)
    open(os.path.join(out, "overlap.zip"), "wb").write(local + central + end)
    open(os.path.join(out, "garbage.zip"), "wb").write(os.urandom(3000))


if __name__ == "__main__":
    main()

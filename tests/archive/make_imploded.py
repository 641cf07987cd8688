#!/usr/bin/env python3
"""Writes zip archives with imploded (method 6) entries.

    make_imploded.py FOLDER

makes in FOLDER:
    imploded-4k-2trees.zip, imploded-8k-2trees.zip,
    imploded-4k-3trees.zip, imploded-8k-3trees.zip   text and binary data, greedy matches
    imploded-longest-match.zip   literals up to the last position of the explode engine's
                                 output buffer at which no flush happens, then one match of
                                 the longest length (63 + 255 + 3 = 321 bytes)
and prints the name, size and CRC-32 of each entry.

The trees are complete codes with every length equal (8 bits for the literal tree, 6 bits
for the length and distance trees), so the encoder needs no code construction beyond the
decoder's own assignment.
"""
import os
import struct
import sys
import zlib


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.value = 0
        self.count = 0

    def put(self, value, bits):
        self.value |= value << self.count
        self.count += bits
        while self.count >= 8:
            self.out.append(self.value & 0xFF)
            self.value >>= 8
            self.count -= 8

    def code(self, symbol, length):
        # Equal lengths: the codes count up from the highest symbol, most significant bit first.
        symbols = 1 << length
        code = symbols - 1 - symbol
        for i in range(length - 1, -1, -1):
            self.put((code >> i) & 1, 1)

    def finish(self):
        if self.count:
            self.out.append(self.value & 0xFF)
        return bytes(self.out)


def tree_description(symbols, length):
    groups = []
    left = symbols
    while left:
        n = min(16, left)
        groups.append(((n - 1) << 4) | (length - 1))
        left -= n
    return bytes([len(groups) - 1] + groups)


def implode(data, large, literal_tree, forced=None):
    """Greedy encoder. `forced` is a list of ("lit", byte) / ("match", distance, length)."""
    low_bits = 7 if large else 6
    window = 8192 if large else 4096
    minimum = 3 if literal_tree else 2
    head = b""
    if literal_tree:
        head += tree_description(256, 8)
    head += tree_description(64, 6) + tree_description(64, 6)
    w = BitWriter()

    def literal(byte):
        w.put(1, 1)
        if literal_tree:
            w.code(byte, 8)
        else:
            w.put(byte, 8)

    def match(distance, length):
        w.put(0, 1)
        d = distance - 1
        w.put(d & ((1 << low_bits) - 1), low_bits)
        w.code(d >> low_bits, 6)
        extra = length - minimum
        if extra >= 63:
            w.code(63, 6)
            w.put(extra - 63, 8)
        else:
            w.code(extra, 6)

    if forced is not None:
        for item in forced:
            if item[0] == "lit":
                literal(item[1])
            else:
                match(item[1], item[2])
        return head + w.finish()

    longest = minimum + 63 + 255
    i = 0
    index = {}
    while i < len(data):
        best_len, best_dist = 0, 0
        key = data[i : i + minimum]
        if len(key) == minimum:
            for j in reversed(index.get(key, [])[-16:]):
                if i - j > window:
                    break
                n = 0
                while n < longest and i + n < len(data) and data[j + n] == data[i + n]:
                    n += 1
                if n > best_len:
                    best_len, best_dist = n, i - j
        if best_len >= minimum:
            match(best_dist, best_len)
            step = best_len
        else:
            literal(data[i])
            step = 1
        for k in range(i, i + step):
            index.setdefault(data[k : k + minimum], []).append(k)
        i += step
    return head + w.finish()


def write_zip(path, entries):
    """entries: (name, flags, compressed bytes, uncompressed bytes)"""
    out = bytearray()
    central = bytearray()
    for name, flags, packed, plain in entries:
        crc = zlib.crc32(plain) & 0xFFFFFFFF
        encoded = name.encode("ascii")
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, 6, 0x5000, 0x5221, crc, len(packed), len(plain),
                           len(encoded), 0)
        out += encoded + packed
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x0B14, 20, flags, 6, 0x5000, 0x5221, crc,
                               len(packed), len(plain), len(encoded), 0, 0, 0, 0, 0x20, offset)
        central += encoded
        print("%s %s %d %08x" % (os.path.basename(path), name, len(plain), crc))
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
    with open(path, "wb") as f:
        f.write(out + central + end)


def sample_text():
    words = b"sensor accelerometer gyrometer compass ambient light orientation quaternion timestamp "
    text = bytearray()
    seed = 12345
    while len(text) < 30000:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        start = seed % (len(words) - 12)
        text += words[start : start + 4 + seed % 9]
        if seed % 7 == 0:
            text += b"\r\n"
    return bytes(text)


def sample_binary():
    data = bytearray()
    for i in range(12000):
        data.append((i * 31 + (i >> 5)) & 0xFF if i % 1500 < 1200 else 0)
    return bytes(data)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    text, binary = sample_text(), sample_binary()
    for large in (False, True):
        for literal_tree in (False, True):
            flags = (2 if large else 0) | (4 if literal_tree else 0)
            name = "imploded-%s-%dtrees.zip" % ("8k" if large else "4k", 3 if literal_tree else 2)
            write_zip(os.path.join(folder, name),
                      [("text.txt", flags, implode(text, large, literal_tree), text),
                       ("data.bin", flags, implode(binary, large, literal_tree), binary)])
    # The engine's output buffer holds an 8 KB window and 64 KB more; no flush happens
    # while 320 bytes stay free, so the longest match starts at 73728 - 320.
    literals = 8192 + 65536 - 320
    plain = bytes((i * 7 + 3) % 251 for i in range(literals))
    forced = [("lit", b) for b in plain] + [("match", 1, 321)]
    plain += plain[-1:] * 321
    write_zip(os.path.join(folder, "imploded-longest-match.zip"),
              [("longest.bin", 4, implode(None, False, True, forced), plain)])


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes raw deflate streams that reach every decoding path of an inflater.

    make_deflate_streams.py FOLDER

For each case NAME it writes NAME.plain (the data) and NAME.deflate (the raw stream), and
lists the names in FOLDER/streams.txt. The cases cover stored blocks longer than the
window, fixed and dynamic codes, runs (distance 1), short repeating patterns (distances 2
to 7), matches across the whole 32 KB window, the longest match, literal alphabets skewed
enough for codes of 12 to 15 bits, matches into stored blocks, and an empty stream.
"""
import os
import random
import sys
import zlib


def raw(data, level, strategy=zlib.Z_DEFAULT_STRATEGY, memory=8):
    encoder = zlib.compressobj(level, zlib.DEFLATED, -15, memory, strategy)
    return encoder.compress(data) + encoder.flush()


def skewed(rng, size):
    # Symbol weights falling by half: the rare symbols get the longest codes deflate allows.
    symbols = list(range(256))
    weights = [2.0 ** -min(i, 20) for i in range(256)]
    return bytes(rng.choices(symbols, weights, k=size))


def patterns(rng, size):
    out = bytearray()
    while len(out) < size:
        period = rng.randint(1, 7)
        unit = bytes(rng.randrange(256) for _ in range(period))
        out += unit * rng.randint(2, 200)
        out += bytes(rng.randrange(256) for _ in range(rng.randint(0, 5)))
    return bytes(out[:size])


def far(rng, size):
    # Blocks repeated from just under 32 KB back, and the longest match.
    base = bytes(rng.randrange(256) for _ in range(32000))
    out = bytearray(base)
    while len(out) < size:
        start = rng.randrange(0, 200)
        out += out[len(out) - 32768 + start : len(out) - 32768 + start + rng.randint(3, 600)]
        out += bytes(rng.randrange(256) for _ in range(rng.randint(0, 3)))
    return bytes(out[:size]) + b"z" * 300


def text(rng, size):
    words = [b"sensor", b"value", b"quaternion", b"light", b"temperature", b"\r\n", b" ", b"1.000000", b"-0.5"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words)
    return bytes(out[:size])


def stored_then_matches(noise):
    """Stored blocks longer than the window, then a compressed block whose matches reach
    back into them: the window must hold the stored bytes. Returns (plain, stream)."""
    head = noise[:100000]
    stream = bytearray()
    for at in range(0, len(head), 65535):
        part = head[at : at + 65535]
        stream += bytes([0]) + len(part).to_bytes(2, "little") + (len(part) ^ 0xFFFF).to_bytes(2, "little") + part
    window = head[-32768:]
    tail = b"".join(window[i : i + 50] for i in range(0, 32000, 700)) + window[:3]
    encoder = zlib.compressobj(9, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY, window)
    stream += encoder.compress(tail) + encoder.flush()
    return head + tail, bytes(stream)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(1951)
    noise = bytes(rng.randrange(256) for _ in range(300000))
    cases = {
        "empty": (b"", 6, zlib.Z_DEFAULT_STRATEGY),
        "stored-long": (noise, 0, zlib.Z_DEFAULT_STRATEGY),
        "stored-short": (noise[:1000], 0, zlib.Z_DEFAULT_STRATEGY),
        "fixed-text": (text(rng, 200000), 6, zlib.Z_FIXED),
        "dynamic-text": (text(rng, 400000), 9, zlib.Z_DEFAULT_STRATEGY),
        "huffman-only": (text(rng, 100000), 6, zlib.Z_HUFFMAN_ONLY),
        "runs": (b"".join(bytes([rng.randrange(4)]) * rng.randint(1, 300) for _ in range(3000)), 6, zlib.Z_RLE),
        "patterns": (patterns(rng, 300000), 9, zlib.Z_DEFAULT_STRATEGY),
        "far-matches": (far(rng, 400000), 9, zlib.Z_DEFAULT_STRATEGY),
        "long-codes": (skewed(rng, 300000), 9, zlib.Z_HUFFMAN_ONLY),
        "long-codes-mixed": (skewed(rng, 100000) + patterns(rng, 100000) + noise[:50000], 6, zlib.Z_FILTERED),
        "incompressible": (noise, 9, zlib.Z_DEFAULT_STRATEGY),
    }
    streams = {name: (data, raw(data, level, strategy)) for name, (data, level, strategy) in cases.items()}
    streams["stored-then-matches"] = stored_then_matches(noise)
    names = []
    for name, (data, stream) in streams.items():
        with open(os.path.join(folder, name + ".plain"), "wb") as f:
            f.write(data)
        with open(os.path.join(folder, name + ".deflate"), "wb") as f:
            f.write(stream)
        names.append(name)
    with open(os.path.join(folder, "streams.txt"), "w") as f:
        f.write("\n".join(names) + "\n")


if __name__ == "__main__":
    main()

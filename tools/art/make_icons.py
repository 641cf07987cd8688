#!/usr/bin/env python3
"""Draws the program's icons and its link cursor and writes them as .ico/.cur files.

    make_icons.py <output folder>

All artwork is drawn here from simple shapes, supersampled for smooth edges. Each icon
file holds every size in 32-bit colour with alpha and in 8-bit colour with a mask.
"""
import math
import os
import struct
import sys

SUPERSAMPLE = 4


def render(size, shapes):
    """shapes: list of (inside(x, y) -> bool over the unit square, (r, g, b, a))."""
    pixels = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    colour = (0, 0, 0, 0)
                    for inside, c in shapes:
                        if inside(x, y):
                            colour = c
                    a = colour[3] / 255.0
                    acc[0] += colour[0] * a
                    acc[1] += colour[1] * a
                    acc[2] += colour[2] * a
                    acc[3] += a
            count = n * n
            alpha = acc[3] / count
            if alpha > 0:
                r, g, b = (acc[i] / acc[3] for i in range(3))
            else:
                r = g = b = 0
            row.append((int(r + 0.5), int(g + 0.5), int(b + 0.5), int(alpha * 255 + 0.5)))
        pixels.append(row)
    return pixels


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r1, r2, start=None, end=None):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not r1 <= d <= r2:
            return False
        if start is None:
            return True
        angle = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return start <= angle <= end
    return inside


def rounded(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


TEAL = (0, 120, 140, 255)
DEEP = (10, 60, 90, 255)
WHITE = (255, 255, 255, 255)
AMBER = (255, 176, 32, 255)
GREEN = (40, 170, 90, 255)
GREY = (90, 100, 110, 255)

# 101: the application - a sensor dish sending waves from a rounded tile.
APP = [
    (rounded(0.04, 0.04, 0.96, 0.96, 0.2), DEEP),
    (rounded(0.08, 0.08, 0.92, 0.92, 0.17), TEAL),
    (ring(0.3, 0.7, 0.22, 0.3, 0, 90), WHITE),
    (ring(0.3, 0.7, 0.42, 0.5, 0, 90), WHITE),
    (ring(0.3, 0.7, 0.56, 0.62, 12, 78), AMBER),
    (circle(0.3, 0.7, 0.11), WHITE),
]
# 107: the root of the tree - a chip with pins.
CHIP = [(rect(0.1 + 0.2 * i, 0.04, 0.2 + 0.2 * i, 0.96), GREY) for i in range(4)] + [
    (rect(0.04, 0.1 + 0.2 * i, 0.96, 0.2 + 0.2 * i), GREY) for i in range(4)] + [
    (rounded(0.16, 0.16, 0.84, 0.84, 0.08), DEEP),
    (rounded(0.3, 0.3, 0.7, 0.7, 0.05), TEAL),
]
# 106: a sensor - a dot with two waves.
SENSOR = [
    (ring(0.28, 0.5, 0.2, 0.3, 300, 360), TEAL),
    (ring(0.28, 0.5, 0.2, 0.3, 0, 60), TEAL),
    (ring(0.28, 0.5, 0.44, 0.54, 305, 360), TEAL),
    (ring(0.28, 0.5, 0.44, 0.54, 0, 55), TEAL),
    (circle(0.28, 0.5, 0.14), AMBER),
]
# 105: a value - a small bar chart.
VALUE = [
    (rect(0.12, 0.55, 0.32, 0.9), GREEN),
    (rect(0.4, 0.3, 0.6, 0.9), TEAL),
    (rect(0.68, 0.12, 0.88, 0.9), AMBER),
]
# 104: the link cursor - a pointing hand, black outline on white.
HAND_OUTLINE = [
    (polygon([(0.30, 0.02), (0.42, 0.02), (0.44, 0.36), (0.86, 0.42), (0.88, 0.74),
              (0.74, 0.98), (0.36, 0.98), (0.10, 0.60), (0.16, 0.50), (0.30, 0.58)]), (0, 0, 0, 255)),
    (polygon([(0.33, 0.06), (0.39, 0.06), (0.41, 0.40), (0.83, 0.46), (0.84, 0.73),
              (0.72, 0.94), (0.38, 0.94), (0.15, 0.60), (0.18, 0.56), (0.33, 0.66)]), WHITE),
]


def palette():
    colours = []
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    for i in range(40):
        v = int(i * 255 / 39)
        colours.append((v, v, v))
    return colours


PALETTE = palette()


def nearest(colour):
    best, index = None, 0
    for i, p in enumerate(PALETTE):
        d = sum((colour[k] - p[k]) ** 2 for k in range(3))
        if best is None or d < best:
            best, index = d, i
    return index


def mask_rows(pixels):
    size = len(pixels)
    stride = ((size + 31) // 32) * 4
    data = b""
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        data += bytes(bits)
    return data


def image_32(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    data = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(pixels) for p in row)
    return header + data + mask_rows(pixels)


def image_8(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    stride = ((size + 3) // 4) * 4
    cache = {}
    data = b""
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, p in enumerate(row):
            key = p[:3] if p[3] >= 128 else None
            if key is None:
                line[x] = 0
            else:
                if key not in cache:
                    cache[key] = nearest(key)
                line[x] = cache[key]
        data += bytes(line)
    return header + table + data + mask_rows(pixels)


def write_group(path, entries, kind=1, hotspot=(0, 0)):
    """entries: list of (size, bit count, image bytes)."""
    head = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    directory = b""
    body = b""
    for size, bits, data in entries:
        dim = 0 if size >= 256 else size
        if kind == 1:
            directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, bits, len(data), offset)
        else:
            directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, hotspot[0], hotspot[1], len(data), offset)
        body += data
        offset += len(data)
    with open(path, "wb") as f:
        f.write(head + directory + body)


def icon(path, shapes, sizes):
    entries = []
    for size in sizes:
        pixels = render(size, shapes)
        entries.append((size, 8, image_8(pixels)))
        entries.append((size, 32, image_32(pixels)))
    write_group(path, entries)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    icon(os.path.join(out, "app.ico"), APP, [48, 32, 24, 16])
    icon(os.path.join(out, "root.ico"), CHIP, [32, 24, 16])
    icon(os.path.join(out, "sensor.ico"), SENSOR, [32, 24, 16])
    icon(os.path.join(out, "value.ico"), VALUE, [32, 24, 16])
    cursor = render(32, HAND_OUTLINE)
    write_group(os.path.join(out, "link.cur"), [(32, 32, image_32(cursor))], kind=2, hotspot=(11, 1))


if __name__ == "__main__":
    main()

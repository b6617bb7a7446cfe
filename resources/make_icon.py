#!/usr/bin/env python3
"""Draws quorvel.ico: one 32 x 32 image in 16 colours, a die showing five pips.

Run it to redraw the icon: python3 make_icon.py > quorvel.ico
Standard library only; the output is the same byte for byte every time.
"""
import struct
import sys

SIZE = 32
# The 16-colour palette every Windows display has (B, G, R, reserved).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128), (128, 128, 0),
    (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 0, 0),
    (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, NAVY, GREY, WHITE = 0, 4, 8, 15
TRANSPARENT = None


def draw():
    """Returns rows top to bottom of palette indices, None where the icon is transparent."""
    image = [[TRANSPARENT] * SIZE for _ in range(SIZE)]
    for y in range(2, 30):
        for x in range(2, 30):
            corner = min(x - 2, 29 - x) + min(y - 2, 29 - y)
            if corner < 3 and min(x - 2, 29 - x) < 2 and min(y - 2, 29 - y) < 2:
                continue  # rounded corners
            edge = x in (2, 29) or y in (2, 29)
            image[y][x] = BLACK if edge else NAVY
    # Shadow to the lower right.
    for i in range(4, 31):
        for x, y in ((i, 30), (30, i)):
            if image[y][x] is TRANSPARENT:
                image[y][x] = GREY
    for cx, cy in ((9, 9), (22, 9), (15, 15), (9, 22), (22, 22)):
        for y in range(cy - 2, cy + 3):
            for x in range(cx - 2, cx + 3):
                if abs(x - cx) + abs(y - cy) <= 3:
                    image[y][x] = WHITE
    return image


def icon_bytes(image):
    xor_rows, and_rows = [], []
    for row in reversed(image):  # DIBs are stored bottom-up
        nibbles = [0 if c is None else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is None else 0)
        and_rows.append(bits.to_bytes(4, "big"))
    xor = b"".join(xor_rows)
    mask = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    dib = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(dib), 22)
    return directory + dib


if __name__ == "__main__":
    sys.stdout.buffer.write(icon_bytes(draw()))

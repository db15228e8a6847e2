#!/usr/bin/env python3
"""Reads a binary PPM (P6, 8 bits) screenshot of the window and prints what the
smoke test looks for:

    smoke_pixels.py reply FILE    "red=N green=N promptInk=N": red and green
                                  pixels, and dark ink in the 16 rows above the
                                  topmost red pixel, left of x 40 (the prompt)
    smoke_pixels.py blue FILE     "X Y": the top left pixel of the dark blue
                                  words below y 20 (nothing when there are none)
    smoke_pixels.py status FILE   the dark pixels of the lowest 24 rows
"""
import re
import sys

NOT_WHITE = re.compile(rb"[^\xff]")


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit("smoke_pixels: %s is no 8-bit binary PPM" % path)
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[at + 1:at + 1 + 3 * width * height]


def inked(width, pixels, first, last):
    """(y, x, r, g, b) of every pixel that is not white, row by row."""
    for y in range(first, last):
        row = pixels[3 * width * y:3 * width * (y + 1)]
        for x in sorted({m.start() // 3 for m in NOT_WHITE.finditer(row)}):
            yield y, x, row[3 * x], row[3 * x + 1], row[3 * x + 2]


def reply(width, height, pixels):
    red = green = 0
    red_top = None
    black = [0] * height
    for y, x, r, g, b in inked(width, pixels, 0, height):
        if r > 150 and g < 90 and b < 90:
            red += 1
            if red_top is None:
                red_top = y
        elif r < 90 and g > 90 and b < 90:
            green += 1
        if x < 40 and r < 60 and g < 60 and b < 60:
            black[y] += 1
    band = sum(black[max(0, red_top - 16):red_top]) if red_top is not None else 0
    print("red=%d green=%d promptInk=%d" % (red, green, band))


def blue(width, height, pixels):
    for y, x, r, g, b in inked(width, pixels, 21, height):
        if r < 40 and g < 40 and 100 < b < 160:
            print(x, y)
            return


def status(width, height, pixels):
    print(sum(1 for _, _, r, g, b in inked(width, pixels, max(0, height - 24), height)
              if r < 80 and g < 80 and b < 80))


if __name__ == "__main__":
    what, path = sys.argv[1], sys.argv[2]
    {"reply": reply, "blue": blue, "status": status}[what](*read_ppm(path))

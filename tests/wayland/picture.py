#!/usr/bin/env python3
"""Reads a picture of a message box (via ImageMagick's convert, as PPM) for the tests.

  picture.py buttons PICTURE   one line "LEFT RIGHT ROW" per button, left to right
  picture.py edges PICTURE     "HARD UNIFORM": how sharp the picture's text is
  picture.py caption PICTURE   the height of the caption band along the top

The buttons sit on the band along the bottom of the box: the rows, counted from the
bottom, whose left edge has the colour of the bottom left corner. Along the band's
middle row each button is a run of pixels not of the band's colour; runs less than four
pixels apart are one button (a glyph's edge can match the band).
"""
import subprocess
import sys


def load(path):
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                          capture_output=True).stdout
    fields, at = [], 0
    while len(fields) < 4:  # magic, width, height, maximum
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    width, height = int(fields[1]), int(fields[2])
    pixels = data[at + 1:]
    return width, height, lambda x, y: pixels[3 * (y * width + x):3 * (y * width + x) + 3]


def buttons(path):
    width, height, pixel = load(path)
    band = pixel(1, height - 2)
    top = height - 2
    while top > 0 and pixel(1, top - 1) == band:
        top -= 1
    row = (top + height) // 2
    runs = []
    for x in range(width):
        if pixel(x, row) == band:
            continue
        if runs and x - runs[-1][1] < 4:
            runs[-1][1] = x
        else:
            runs.append([x, x])
    for left, right in runs:
        if right - left >= 8:  # a button, not a stray pixel
            print(left, right, row)


def caption(path):
    """The band's rows are those, from the top, whose left edge has the top left colour."""
    width, height, pixel = load(path)
    band = pixel(1, 1)
    rows = 1
    while rows < height and pixel(1, rows) == band:
        rows += 1
    print(rows)


def edges(path):
    """HARD counts the horizontal neighbours whose grey differs by more than half the range:
    the edges of text drawn sharp, which a smoothed magnification halves. UNIFORM is the
    share of 2x2 blocks holding dark (text) pixels whose four pixels are equal, for the best
    of the four alignments: 1.0 for a picture magnified twice by repeating pixels."""
    width, height, pixel = load(path)
    grey = [[sum(pixel(x, y)) // 3 for x in range(width)] for y in range(height)]
    hard = sum(1 for row in grey for a, b in zip(row, row[1:]) if abs(a - b) > 127)
    best = 0.0
    for dy in (0, 1):
        for dx in (0, 1):
            dark = same = 0
            for y in range(dy, height - 1, 2):
                upper, lower = grey[y], grey[y + 1]
                for x in range(dx, width - 1, 2):
                    block = (upper[x], upper[x + 1], lower[x], lower[x + 1])
                    if min(block) < 128:
                        dark += 1
                        same += max(block) == min(block)
            best = max(best, same / dark if dark else 1.0)
    print(hard, "%.3f" % best)


if __name__ == "__main__":
    {"buttons": buttons, "caption": caption, "edges": edges}[sys.argv[1]](sys.argv[2])

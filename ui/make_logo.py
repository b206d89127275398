#!/usr/bin/env python3
"""Draws the panel's logo (bitmap resource 103): a 186 x 84, 24-bit BMP.

A dark field with a soft vertical gradient, two antialiased waveforms (a
wide-band wave and its quieter echo) and the name in a small pixel font.
Plain Python, no imaging library; run from anywhere:

    python3 ui/make_logo.py            # writes ui/logo.bmp
"""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 186, 84

# 5 x 7 glyphs, one string per row, '#' lit.
GLYPHS = {
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
}


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def background(y):
    top, bottom = (18, 26, 44), (6, 10, 20)
    return mix(top, bottom, y / (HEIGHT - 1))


def wave(x, centre, amplitude, phase):
    """A burst that swells in the middle and fades at both ends."""
    u = x / (WIDTH - 1)
    envelope = max(0.0, math.sin(math.pi * u)) ** 1.5
    carrier = math.sin(2 * math.pi * 5.5 * u + phase) + 0.35 * math.sin(2 * math.pi * 13 * u + 2 * phase)
    return centre - amplitude * envelope * carrier / 1.35


def draw_wave(pixels, centre, amplitude, phase, colour, thickness):
    for x in range(WIDTH):
        y0 = wave(x, centre, amplitude, phase)
        slope = (wave(x + 0.5, centre, amplitude, phase) - wave(x - 0.5, centre, amplitude, phase))
        scale = math.sqrt(1.0 + slope * slope)
        for y in range(HEIGHT):
            distance = abs(y - y0) / scale
            coverage = thickness / 2 + 0.5 - distance
            if coverage > 0:
                pixels[y][x] = mix(pixels[y][x], colour, coverage)


def draw_text(pixels, text, top, scale, colour):
    advance = 6 * scale
    left = (WIDTH - (len(text) * advance - scale)) // 2
    for index, letter in enumerate(text):
        for row, bits in enumerate(GLYPHS[letter]):
            for column, bit in enumerate(bits):
                if bit != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x = left + index * advance + column * scale + dx
                        y = top + row * scale + dy
                        pixels[y][x] = colour


def render():
    pixels = [[background(y) for _ in range(WIDTH)] for y in range(HEIGHT)]
    # A faint centre line under the waves.
    for x in range(WIDTH):
        pixels[30][x] = mix(pixels[30][x], (60, 80, 110), 0.6)
    draw_wave(pixels, 30, 22, 1.1, (40, 90, 150), 1.2)
    draw_wave(pixels, 30, 26, 0.0, (90, 220, 230), 1.8)
    draw_text(pixels, "BRIMWELL", 62, 2, (235, 240, 250))
    return pixels


def write_bmp(path, pixels):
    row_size = (WIDTH * 3 + 3) & ~3
    image_size = row_size * HEIGHT
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + image_size, 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, image_size, 2835, 2835, 0, 0)
    rows = []
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray()
        for r, g, b in pixels[y]:
            row += bytes((int(round(b)), int(round(g)), int(round(r))))
        row += b"\0" * (row_size - len(row))
        rows.append(bytes(row))
    with open(path, "wb") as out:
        out.write(header + info + b"".join(rows))


if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "logo.bmp")
    write_bmp(target, render())

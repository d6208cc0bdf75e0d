#!/usr/bin/env python3
"""Draws Lirno Player's pictures: the toolbar strip and the program icon.

Both are 16-colour (4 bits per pixel) indexed PNGs, drawn here as character
grids so that every pixel can be reviewed in a diff. The desktop's icons
(a scalable SVG and PNGs in the icon theme's sizes) are drawn from the same
logo described as shapes. Run it again after changing a picture:

    python3 res/make_images.py            # writes res/images/*.png and res/images/icons/
    python3 res/make_images.py --preview DIR   # also writes 8x enlargements

Only the standard library is used (the PNG chunks are written by hand).
"""

import argparse
import os
import struct
import zlib

# The classic 16-colour palette. In the icon, index 0 is transparent
# instead of black; the icon uses "K" (index 8 remapped below) for black.
PALETTE = {
    ".": (192, 192, 192),  # silver: the strip's background, masked by the program
    "k": (0, 0, 0),
    "m": (128, 0, 0),
    "G": (0, 128, 0),
    "o": (128, 128, 0),
    "n": (0, 0, 128),
    "p": (128, 0, 128),
    "c": (0, 128, 128),
    "g": (128, 128, 128),
    "r": (255, 0, 0),
    "l": (0, 255, 0),
    "y": (255, 255, 0),
    "b": (0, 0, 255),
    "f": (255, 0, 255),
    "a": (0, 255, 255),
    "w": (255, 255, 255),
}

STRIP_KEYS = list(PALETTE.keys())

# The icon needs a transparent colour more than it needs purple.
ICON_PALETTE = dict(PALETTE)
del ICON_PALETTE["p"]
ICON_KEYS = [" "] + list(ICON_PALETTE.keys())  # " " = transparent, index 0

TOOLBAR_IMAGES = [
    # 0 New: a page with a musical note
    [
        "..kkkkkkkk......",
        "..kwwwwwwkk.....",
        "..kwwwwwwkwk....",
        "..kwwwwwwkwwk...",
        "..kwwwwwwkkkkk..",
        "..kwwwwwnwwwwk..",
        "..kwwwwwnnwwwk..",
        "..kwwwwwnwnwwk..",
        "..kwwwwwnwwnwk..",
        "..kwwwwwnwwwwk..",
        "..kwwwnnnwwwwk..",
        "..kwwnnnnwwwwk..",
        "..kwwwnnwwwwwk..",
        "..kwwwwwwwwwwk..",
        "..kkkkkkkkkkkk..",
    ],
    # 1 Open: an open folder
    [
        "................",
        "................",
        ".kkkk...........",
        "kooook..........",
        "koooookkkkkkk...",
        "koooooooooook...",
        "koooooooooook...",
        "kooookkkkkkkkkk.",
        "kookyyyyyyyyyk..",
        "kookyyyyyyyyyk..",
        "kokyyyyyyyyyk...",
        "kokyyyyyyyyyk...",
        "kkyyyyyyyyyk....",
        "kkkkkkkkkkkk....",
        "................",
    ],
    # 2 Save As: a floppy disk
    [
        ".kkkkkkkkkkkkkk.",
        ".knnwwwwwwwwnnk.",
        ".knnwggggggwnnk.",
        ".knnwwwwwwwwnnk.",
        ".knnwggggggwnnk.",
        ".knnwwwwwwwwnnk.",
        ".knnnnnnnnnnnnk.",
        ".knnnnnnnnnnnnk.",
        ".knnwwwwwwwwnnk.",
        ".knnwwwkkwwwnnk.",
        ".knnwwwkkwwwnnk.",
        ".knnwwwkkwwwnnk.",
        ".kknwwwwwwwwnnk.",
        "..kkkkkkkkkkkkk.",
        "................",
    ],
    # 3 Stop: a black square
    [
        "................",
        "................",
        "................",
        "....kkkkkkkk....",
        "....kkkkkkkk....",
        "....kkkkkkkk....",
        "....kkkkkkkk....",
        "....kkkkkkkk....",
        "....kkkkkkkk....",
        "....kkkkkkkk....",
        "....kkkkkkkk....",
        "................",
        "................",
        "................",
        "................",
    ],
    # 4 Play: a green triangle
    [
        "................",
        "................",
        "....G...........",
        "....GGG.........",
        "....GllGG.......",
        "....GllllGG.....",
        "....GllllllGG...",
        "....GllllllllG..",
        "....GllllllGG...",
        "....GllllGG.....",
        "....GllGG.......",
        "....GGG.........",
        "....G...........",
        "................",
        "................",
    ],
    # 5 Pause: two vertical bars
    [
        "................",
        "................",
        "................",
        "....kkk..kkk....",
        "....kkk..kkk....",
        "....kkk..kkk....",
        "....kkk..kkk....",
        "....kkk..kkk....",
        "....kkk..kkk....",
        "....kkk..kkk....",
        "....kkk..kkk....",
        "................",
        "................",
        "................",
        "................",
    ],
    # 6 Record Track: a red dot
    [
        "................",
        "................",
        "......mmmm......",
        ".....mrrrrm.....",
        "....mrrrrrrm....",
        "...mrrwrrrrrm...",
        "...mrwrrrrrrm...",
        "...mrrrrrrrrm...",
        "...mrrrrrrrrm...",
        "....mrrrrrrm....",
        ".....mrrrrm.....",
        "......mmmm......",
        "................",
        "................",
        "................",
    ],
    # 7 About: a question mark
    [
        "................",
        ".....nnnnnn.....",
        "....nnnnnnnn....",
        "...nnn....nnn...",
        "...nnn....nnn...",
        "..........nnn...",
        ".........nnn....",
        "........nnn.....",
        ".......nnn......",
        ".......nnn......",
        ".......nnn......",
        "................",
        ".......nnn......",
        ".......nnn......",
        "................",
    ],
    # 8 Loop Music: a looping arrow
    [
        "................",
        "..........n.....",
        "..........nn....",
        "...nnnnnnnnnn...",
        "..nnnnnnnnnnnn..",
        "..nn......nn....",
        "..nn......n.....",
        "..nn........nn..",
        "..nn........nn..",
        ".....n......nn..",
        "....nn......nn..",
        "..nnnnnnnnnnnn..",
        "...nnnnnnnnnn...",
        "....nn..........",
        ".....n..........",
    ],
    # 9 View Track List: horizontal sliders
    [
        "................",
        "....kkk.........",
        "....kwk.........",
        "ggggkwkggggggggg",
        "....kwk.........",
        "....kkk.........",
        "..........kkk...",
        "..........kwk...",
        "ggggggggggkwkggg",
        "..........kwk...",
        "..........kkk...",
        ".......kkk......",
        ".......kwk......",
        "gggggggkwkgggggg",
        ".......kkk......",
    ],
    # 10 Volume Control: vertical sliders
    [
        "..g....g....g...",
        "..g....g....g...",
        "..g....g..kkkkk.",
        "..g....g..kwwwk.",
        "..g....g..kkkkk.",
        "..g..kkkkk..g...",
        "..g..kwwwk..g...",
        "..g..kkkkk..g...",
        "..g....g....g...",
        "kkkkk..g....g...",
        "kwwwk..g....g...",
        "kkkkk..g....g...",
        "..g....g....g...",
        "..g....g....g...",
        "..g....g....g...",
    ],
]


def logo_icon():
    """32 x 32: a blue disc with a pair of beamed notes above a row of piano keys."""
    size = 32
    grid = [[" "] * size for _ in range(size)]
    cx, cy, r = 15.5, 10.5, 10.2
    for y in range(22):
        for x in range(size):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= r - 1.4:
                grid[y][x] = "b"
            elif d <= r:
                grid[y][x] = "n"
    # Two beamed eighth notes in white: heads, stems, a thick beam.
    head = [" wwww ", "wwwwww", "wwwwww", " wwww "]
    for (hx, hy) in ((7, 13), (16, 11)):
        for dy, line in enumerate(head):
            for dx, ch in enumerate(line):
                if ch == "w":
                    grid[hy + dy][hx + dx] = "w"
        for y in range(5, hy + 2):
            grid[y][hx + 4] = "w"
            grid[y][hx + 5] = "w"
    for y in (5, 6, 7):
        for x in range(11, 22):
            grid[y][x] = "w"
    # Piano keys: rows 22..31, eight white keys of 4 pixels, black keys between.
    for y in range(22, 32):
        for x in range(size):
            edge = y in (22, 31) or x in (0, 31) or x % 4 == 0
            grid[y][x] = "K" if edge else "w"
    for key in (1, 2, 4, 5, 6):  # C#, D#, F#, G#, A# over the 4-pixel keys
        left = key * 4 - 1
        for y in range(22, 28):
            for x in range(left, left + 3):
                grid[y][x] = "K"
    return ["".join(row) for row in grid]


# The same logo as shapes on a 32 x 32 grid, for the desktop's icon theme: a
# scalable SVG and PNGs in the hicolor sizes, drawn from the one description
# so that every size shows the picture of the 32 x 32 icon.
LOGO_SHAPES = [
    ("circle", (16, 11, 10.2), "n"),
    ("circle", (16, 11, 8.8), "b"),
    ("rect", (11, 5, 11, 3), "w"),    # the beam
    ("rect", (11, 5, 2, 10.5), "w"),  # the stems
    ("rect", (20, 5, 2, 8.5), "w"),
    ("ellipse", (10, 15, 3, 2), "w"),  # the heads
    ("ellipse", (19, 13, 3, 2), "w"),
    ("rect", (0, 22, 32, 10), "k"),  # the keyboard's outline
] + [("rect", (4 * k + 1, 23, 3 if k < 7 else 2, 8), "w") for k in range(8)] + [
    ("rect", (key * 4 - 1, 22, 3, 6), "k") for key in (1, 2, 4, 5, 6)
]

HICOLOR_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def logo_svg():
    def hexcolour(key):
        return "#%02x%02x%02x" % PALETTE[key]
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">']
    for kind, g, colour in LOGO_SHAPES:
        fill = hexcolour(colour)
        if kind == "circle":
            out.append(f'  <circle cx="{g[0]}" cy="{g[1]}" r="{g[2]}" fill="{fill}"/>')
        elif kind == "ellipse":
            out.append(f'  <ellipse cx="{g[0]}" cy="{g[1]}" rx="{g[2]}" ry="{g[3]}" fill="{fill}"/>')
        else:
            out.append(f'  <rect x="{g[0]}" y="{g[1]}" width="{g[2]}" height="{g[3]}" fill="{fill}"/>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def inside(kind, g, x, y):
    if kind == "circle":
        return (x - g[0]) ** 2 + (y - g[1]) ** 2 <= g[2] ** 2
    if kind == "ellipse":
        return ((x - g[0]) / g[2]) ** 2 + ((y - g[1]) / g[3]) ** 2 <= 1
    return g[0] <= x < g[0] + g[2] and g[1] <= y < g[1] + g[3]


def bounds(kind, g):
    if kind == "circle":
        return g[0] - g[2], g[1] - g[2], g[0] + g[2], g[1] + g[2]
    if kind == "ellipse":
        return g[0] - g[2], g[1] - g[3], g[0] + g[2], g[1] + g[3]
    return g[0], g[1], g[0] + g[2], g[1] + g[3]


def render_logo(size, samples=4):
    """RGBA rows of the logo at size x size, each pixel averaged over samples^2 points."""
    n = size * samples
    scale = 32 / n
    sub = [[None] * n for _ in range(n)]  # the colour key painted last, or None
    for kind, g, colour in LOGO_SHAPES:
        x0, y0, x1, y1 = bounds(kind, g)
        for j in range(max(0, int(y0 / scale)), min(n, int(y1 / scale) + 1)):
            y = (j + 0.5) * scale
            row = sub[j]
            for i in range(max(0, int(x0 / scale)), min(n, int(x1 / scale) + 1)):
                if inside(kind, g, (i + 0.5) * scale, y):
                    row[i] = colour
    pixels = []
    for py in range(size):
        line = []
        for px in range(size):
            r = gr = b = a = 0
            for j in range(py * samples, (py + 1) * samples):
                for i in range(px * samples, (px + 1) * samples):
                    key = sub[j][i]
                    if key is not None:
                        c = PALETTE[key]
                        r, gr, b, a = r + c[0], gr + c[1], b + c[2], a + 1
            line.append((r // a, gr // a, b // a, 255 * a // samples ** 2) if a else (0, 0, 0, 0))
        pixels.append(line)
    return pixels


def write_rgba_png(path, pixels):
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for p in row:
            raw.extend(p)
    out = b"\x89PNG\r\n\x1a\n"
    out += png_chunk(b"IHDR", struct.pack(">IIBBBBB", len(pixels[0]), len(pixels), 8, 6, 0, 0, 0))
    out += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_indexed_png(path, rows, colours, transparent=None):
    """rows: list of lists of palette indices (0..15); 4 bits per pixel."""
    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        packed = row + [0] if len(row) % 2 else row
        for i in range(0, len(packed), 2):
            raw.append((packed[i] << 4) | packed[i + 1])
    palette = b"".join(bytes(c) for c in colours)
    out = b"\x89PNG\r\n\x1a\n"
    out += png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 4, 3, 0, 0, 0))
    out += png_chunk(b"PLTE", palette)
    if transparent is not None:
        out += png_chunk(b"tRNS", bytes([255 if i != transparent else 0 for i in range(len(colours))]))
    out += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


def write_rgb_png(path, pixels):
    """pixels: rows of (r, g, b); for the enlarged previews."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for p in row:
            raw.extend(p)
    out = b"\x89PNG\r\n\x1a\n"
    out += png_chunk(b"IHDR", struct.pack(">IIBBBBB", len(pixels[0]), len(pixels), 8, 2, 0, 0, 0))
    out += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


def strip_rows():
    for n, image in enumerate(TOOLBAR_IMAGES):
        assert len(image) == 15, f"toolbar image {n} is not 15 rows high"
        for row in image:
            assert len(row) == 16, f"toolbar image {n}: row {row!r} is not 16 wide"
    return ["".join(image[y] for image in TOOLBAR_IMAGES) for y in range(15)]


def check_grid(rows, keys, what):
    for row in rows:
        for ch in row:
            assert ch in keys or (ch == "K" and "k" in keys), f"{what}: unknown colour {ch!r}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "images"))
    parser.add_argument("--preview", help="folder for 8x enlargements")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    strip = strip_rows()
    check_grid(strip, STRIP_KEYS, "toolbar")
    write_indexed_png(os.path.join(args.out, "toolbar.png"),
                      [[STRIP_KEYS.index(ch) for ch in row] for row in strip],
                      [PALETTE[k] for k in STRIP_KEYS])

    icon = [row.replace("K", "k") for row in logo_icon()]
    check_grid(icon, ICON_KEYS, "icon")
    icon_colours = [(0, 0, 0)] + [ICON_PALETTE[k] for k in ICON_KEYS[1:]]
    write_indexed_png(os.path.join(args.out, "logo.png"),
                      [[ICON_KEYS.index(ch) for ch in row] for row in icon],
                      icon_colours, transparent=0)

    # The desktop's icons: hicolor/SIZExSIZE/apps and hicolor/scalable/apps.
    icons = os.path.join(args.out, "icons")
    os.makedirs(icons, exist_ok=True)
    with open(os.path.join(icons, "logo.svg"), "w") as f:
        f.write(logo_svg())
    for size in HICOLOR_SIZES:
        write_rgba_png(os.path.join(icons, f"logo-{size}.png"), render_logo(size))

    if args.preview:
        os.makedirs(args.preview, exist_ok=True)
        for name, rows, lookup in (("toolbar", strip, PALETTE),
                                   ("logo", icon, dict(ICON_PALETTE, **{" ": (230, 230, 230)}))):
            scale = 8
            big = [[lookup[ch] for ch in row for _ in range(scale)] for row in rows for _ in range(scale)]
            write_rgb_png(os.path.join(args.preview, name + ".png"), big)


if __name__ == "__main__":
    main()

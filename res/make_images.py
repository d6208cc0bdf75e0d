#!/usr/bin/env python3
"""Draws Lirno Player's pictures: the toolbar strip and the program icon.

Both are 16-colour (4 bits per pixel) indexed PNGs, drawn here as character
grids so that every pixel can be reviewed in a diff. Run it again after
changing a picture:

    python3 res/make_images.py            # writes res/images/*.png
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

    if args.preview:
        os.makedirs(args.preview, exist_ok=True)
        for name, rows, lookup in (("toolbar", strip, PALETTE),
                                   ("logo", icon, dict(ICON_PALETTE, **{" ": (230, 230, 230)}))):
            scale = 8
            big = [[lookup[ch] for ch in row for _ in range(scale)] for row in rows for _ in range(scale)]
            write_rgb_png(os.path.join(args.preview, name + ".png"), big)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
# How well pictures of the demo match the native program's own frames.
#
# usage: lit_overlap.py [--min IOU] SHOT REFERENCE...
#        lit_overlap.py [--min IOU] SHOT... --against REFERENCE...
#
# A SHOT is a screenshot of any size: the 640 x 480 picture is taken from the
# middle of it, scaled with its aspect kept as the hosts show it (bars on two
# sides), and brought back to 640 x 480. Each REFERENCE is a native capture
# (a PNG file, or a folder of them). A pixel is lit when any channel is clearly
# above black; the score of a pair is the intersection over union of their lit
# pixels. Prints, for each shot, the best score and the reference that gave it;
# with --min, exits 1 when any shot's best score is below it.
import pathlib
import sys

import numpy as np
from PIL import Image

USAGE = "usage: lit_overlap.py [--min IOU] SHOT... [--against] REFERENCE..."

WIDTH, HEIGHT = 640, 480
# 16-bit screens leave low bits that are not quite 0 after scaling.
LIT = 24


def lit_mask(image):
    pixels = np.asarray(image.convert("RGB"))
    h, w = pixels.shape[:2]
    if (w, h) != (WIDTH, HEIGHT):
        scale = min(w / WIDTH, h / HEIGHT)
        cw, ch = round(WIDTH * scale), round(HEIGHT * scale)
        x0, y0 = (w - cw) // 2, (h - ch) // 2
        picture = Image.fromarray(pixels[y0:y0 + ch, x0:x0 + cw])
        pixels = np.asarray(picture.resize((WIDTH, HEIGHT), Image.BOX))
    return pixels.max(axis=2) > LIT


def references(paths):
    for path in map(pathlib.Path, paths):
        yield from sorted(path.glob("*.png")) if path.is_dir() else [path]


def main(argv):
    minimum = None
    if "--min" in argv:
        at = argv.index("--min")
        minimum = float(argv[at + 1])
        del argv[at:at + 2]
    at = argv.index("--against") if "--against" in argv else 1
    shots, refs = argv[:at], argv[at + (at < len(argv) and argv[at] == "--against"):]
    if not shots or not refs:
        sys.exit(USAGE)
    masks = [lit_mask(Image.open(shot)) for shot in shots]
    best = [(0.0, "-")] * len(masks)
    for ref in references(refs):
        mask = lit_mask(Image.open(ref))
        for i, shot in enumerate(masks):
            union = np.count_nonzero(shot | mask)
            score = np.count_nonzero(shot & mask) / union if union else 0.0
            best[i] = max(best[i], (score, ref.name))
    for shot, mask, (score, name) in zip(shots, masks, best):
        print(f"{score:.4f} {name} lit={np.count_nonzero(mask)} {shot}")
    return 1 if minimum is not None and min(score for score, _ in best) < minimum else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

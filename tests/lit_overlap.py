#!/usr/bin/python3
# How well pictures of the demo match the native program's own frames.
#
# usage: lit_overlap.py MIN SHOT REFERENCE...
#        lit_overlap.py MIN SHOT... --against REFERENCE...
#
# A SHOT is a screenshot of any size: the 640 x 480 picture is taken from its middle, scaled
# with its aspect kept as the hosts show it, and brought back to 640 x 480. A REFERENCE is a
# native capture, a PNG file or a folder of them. A pixel is lit when a channel is clearly above
# black; a pair scores the intersection over union of their lit pixels. Prints each shot's best
# score and the reference that gave it; exits 1 when one is below MIN.
import pathlib
import sys

import numpy as np
from PIL import Image

WIDTH, HEIGHT = 640, 480
LIT = 24  # 16-bit screens leave low bits that are not quite 0 after scaling


def lit_mask(path):
    pixels = np.asarray(Image.open(path).convert("RGB"))
    h, w = pixels.shape[:2]
    if (w, h) != (WIDTH, HEIGHT):
        scale = min(w / WIDTH, h / HEIGHT)
        cw, ch = round(WIDTH * scale), round(HEIGHT * scale)
        x0, y0 = (w - cw) // 2, (h - ch) // 2
        pixels = np.asarray(Image.fromarray(pixels[y0:y0 + ch, x0:x0 + cw]).resize((WIDTH, HEIGHT), Image.BOX))
    return pixels.max(axis=2) > LIT


def main(minimum, *args):
    at = args.index("--against") if "--against" in args else 0
    shots, refs = args[:at or 1], [pathlib.Path(a) for a in args[at + 1:]]
    masks = [lit_mask(shot) for shot in shots]
    best = [(0.0, "-")] * len(masks)
    for ref in (p for r in refs for p in (sorted(r.glob("*.png")) if r.is_dir() else [r])):
        mask = lit_mask(ref)
        for i, shot in enumerate(masks):
            union = np.count_nonzero(shot | mask)
            best[i] = max(best[i], (np.count_nonzero(shot & mask) / union if union else 0.0, ref.name))
    for shot, mask, (score, name) in zip(shots, masks, best):
        print(f"{score:.4f} {name} lit={np.count_nonzero(mask)} {shot}")
    return 0 if shots and min(best)[0] >= float(minimum) else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

#!/usr/bin/python3
# The demo's captured frames against the stored references.
#
# usage: frames.py check|write REFERENCES FOLDER
#
# REFERENCES holds a line per chosen frame, "<frame> <digest> <lit pixels>", and a last line
# "all <digest> <frames>" over every frame in FOLDER. The digest is of the decoded pixels, so
# any change in what the demo shows (glyphs, ring, sprite size, blend, scroll) changes it, and
# the count any frame too many or too few. `write` makes the file anew from FOLDER; `check`
# compares and names the frames that differ.
import hashlib
import pathlib
import sys

import numpy as np
from PIL import Image

CHOSEN = (1, 81, 91, 301, 1001, 1701, 2361, 2371, 2401, 2491)


def describe(folder):
    files = sorted(pathlib.Path(folder).glob("frame-*.png"))
    every, lines = hashlib.sha256(), {}
    for path in files:
        rgb = np.asarray(Image.open(path).convert("RGB"))
        digest = hashlib.sha256(rgb.tobytes()).hexdigest()[:24]
        every.update(digest.encode())
        if int(path.stem[6:]) in CHOSEN:
            lines[str(int(path.stem[6:]))] = f"{digest} {np.count_nonzero(rgb.max(axis=2))}"
    lines["all"] = f"{every.hexdigest()[:24]} {len(files)}"
    return lines


def main(mode, references, folder):
    actual = describe(folder)
    if mode == "write":
        pathlib.Path(references).write_text("".join(f"{k} {v}\n" for k, v in actual.items()))
        return 0
    expected = dict(line.split(" ", 1) for line in pathlib.Path(references).read_text().splitlines())
    bad = [k for k in {**expected, **actual} if actual.get(k) != expected.get(k)]
    for k in bad:
        print(f"frame {k}: expected {expected.get(k, 'no reference')}, got {actual.get(k, 'no frame')}")
    return 1 if bad else 0


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("check", "write"):
        sys.exit("usage: frames.py check|write REFERENCES FOLDER")
    sys.exit(main(*sys.argv[1:]))

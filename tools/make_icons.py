#!/usr/bin/python3
"""Draws the program's icon (the brand logo of the login window) at every size
a desktop asks for, into src/ui/skin/UI/icon/logo_N.png: the windows' icon and,
at 256 px, the desktop entry's. Drawn anew at each size with the skin's own
shapes rather than scaled up from the 30-px logo, so large sizes stay sharp.
The output is committed; run again after changing the logo:

    /usr/bin/python3 tools/make_icons.py [--out DIR]

Needs Debian's python3-pil.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import make_images as skin  # noqa: E402

SIZES = (16, 24, 32, 48, 64, 128, 256)


def icon(size):
    # The logo_qb.png drawing, laid out on a 30-unit square and scaled.
    k = size / 30.0
    c = skin.Canvas(size, size)
    c.rounded(0, 0, size, size, 7 * k, fill=skin.ACCENT)
    skin.speaker(c, 6 * k, 15 * k, 12 * k, skin.WHITE)
    c.arc(14 * k, 15 * k, 4.5 * k, -50, 50, skin.WHITE, 1.8 * k)
    c.arc(14 * k, 15 * k, 8.5 * k, -50, 50, skin.WHITE, 1.8 * k)
    return c.result()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "src", "ui", "skin", "UI"))
    args = parser.parse_args()
    for size in SIZES:
        print(skin.save(icon(size), args.out, "icon/logo_%d.png" % size))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Makes the card UI's fonts from Debian's Open Sans (fonts-open-sans) under our own family
names, so they never clash with an Open Sans installed on the system.

Needs python3-fonttools. Run from anywhere; writes into resources/fonts/.
"""
import os
import sys

from fontTools.ttLib import TTFont

SOURCE = "/usr/share/fonts/truetype/open-sans"
TARGET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fonts")

# source file -> (family, subfamily)
FONTS = {
    "OpenSans-Light.ttf": ("CVN Open Sans Light", "Regular"),
    "OpenSans-Regular.ttf": ("CVN Open Sans", "Regular"),
    "OpenSans-Bold.ttf": ("CVN Open Sans", "Bold"),
    "OpenSans-Semibold.ttf": ("CVN Open Sans Semibold", "Regular"),
}


def rename(font, family, subfamily):
    name = font["name"]
    full = family if subfamily == "Regular" else f"{family} {subfamily}"
    postscript = full.replace(" ", "")
    # Typographic names would group the files under the old family again.
    name.names = [n for n in name.names if n.nameID not in (16, 17, 21, 22)]
    for record in name.names:
        if record.nameID == 1:
            record.string = family
        elif record.nameID == 2:
            record.string = subfamily
        elif record.nameID == 3:
            record.string = f"{postscript};renamed"
        elif record.nameID == 4:
            record.string = full
        elif record.nameID == 6:
            record.string = postscript
    if "CFF " in font:
        sys.exit("unexpected CFF font")


def main():
    os.makedirs(TARGET, exist_ok=True)
    for source, (family, subfamily) in FONTS.items():
        font = TTFont(os.path.join(SOURCE, source))
        rename(font, family, subfamily)
        out = os.path.join(TARGET, source)
        font.save(out)
        print(out, "->", family, subfamily)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Makes Lato-Semibold.ttf, the label face embedded in the plug-in, from Debian's fonts-lato.

The full family file is 676 KB; the editor only draws Latin-1 text (labels, values, units, the
degree sign), so we keep those characters plus a few typographic ones, the kerning (GPOS 'kern',
which is what stb_truetype reads) and drop hinting (the rasteriser ignores it).

The licence (Lato-LICENSE.txt, SIL OFL 1.1) reserves the name "Lato" for unmodified versions, and a
subset is a modified version: the result therefore carries another family name ("Korvo Text"),
while the copyright and licence records of the name table are kept as they are.

Run it from anywhere (needs the packages fonts-lato and python3-fonttools):
    korvo/resources/fonts/make_lato_subset.py
then rebuild and run korvo_graphics_tests and artgen_tests (the latter checks that the subset lays
out and rasterises every kept character exactly like the full file).
"""

import os
import sys

from fontTools import subset
from fontTools.ttLib import TTFont

SOURCE = "/usr/share/fonts/truetype/lato/Lato-Semibold.ttf"
TARGET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Lato-Semibold.ttf")

# Printable ASCII, Latin-1, dashes, quotes, bullet, ellipsis, guillemets, euro, trade mark, minus,
# infinity.
UNICODES = (list(range(0x20, 0x7F)) + list(range(0xA0, 0x100)) +
            [0x2013, 0x2014, 0x2018, 0x2019, 0x201A, 0x201C, 0x201D, 0x201E, 0x2022, 0x2026,
             0x2039, 0x203A, 0x20AC, 0x2122, 0x2212, 0x221E])

FAMILY = "Korvo Text"
STYLE = "Semibold"


def main():
    if not os.path.exists(SOURCE):
        sys.exit(f"{SOURCE} is missing: apt-get install fonts-lato")
    options = subset.Options()
    options.layout_features = ["kern"]
    options.hinting = False
    options.legacy_kern = False
    options.name_IDs = [0, 1, 2, 3, 4, 5, 6, 13, 14]
    options.recalc_timestamp = False
    font = TTFont(SOURCE, recalcTimestamp=False)  # the same input always gives the same bytes
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=UNICODES)
    subsetter.subset(font)

    names = font["name"]
    renamed = {1: FAMILY + " " + STYLE, 2: "Regular", 3: FAMILY.replace(" ", "") + "-" + STYLE,
               4: FAMILY + " " + STYLE, 6: FAMILY.replace(" ", "") + "-" + STYLE}
    for record in names.names:
        if record.nameID in renamed:
            record.string = renamed[record.nameID]
    font.save(TARGET)
    print(f"wrote {TARGET} ({os.path.getsize(TARGET)} bytes)")


if __name__ == "__main__":
    main()

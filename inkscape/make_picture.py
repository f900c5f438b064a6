#!/usr/bin/env python3
"""The README's picture: examples/garden.svg before and after Korrand Dash, applied by real
Inkscape to a selection (the house, the pond, the walk and the arrow: the bed, the fence and
the trees are not selected) and rendered by Inkscape.

    make_picture.py BUILD_DIR OUTPUT.png
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inkscape_session  # noqa: E402

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "garden.svg")
WIDTH = 560


def main(build, output):
    with tempfile.TemporaryDirectory(prefix="korrand-picture-") as work:
        profile = os.path.join(work, "profile")
        inkscape_session.install(os.path.join(build, "inkscape", "korrand-inkscape.zip"), profile)
        inkscape_session.store_settings(profile, {"mode": "period", "period": "2.0", "unit": "mm"})
        dashed = os.path.join(work, "after.svg")
        result = inkscape_session.run(profile, SOURCE, ["house", "pond", "walk", "arrow"], dashed)
        if not os.path.exists(dashed):
            sys.exit("Inkscape wrote nothing: " + result.stderr[-2000:])
        for name, svg in (("before", SOURCE), ("after", dashed)):
            inkscape_session.export_png(svg, os.path.join(work, name + ".png"), WIDTH)
        height = WIDTH * 2 // 3
        side_by_side = os.path.join(work, "both.svg")
        with open(side_by_side, "w", encoding="utf-8") as f:
            f.write('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d">'
                    '<rect width="100%%" height="100%%" fill="#fff"/>'
                    '<image href="before.png" x="0" y="0" width="%d" height="%d"/>'
                    '<image href="after.png" x="%d" y="0" width="%d" height="%d"/>'
                    '<line x1="%d" y1="0" x2="%d" y2="%d" stroke="#999"/></svg>' % (
                        2 * WIDTH + 10, height, WIDTH, height, WIDTH + 10, WIDTH, height,
                        WIDTH + 5, WIDTH + 5, height))
        subprocess.run(["rsvg-convert", side_by_side, "-o", output], check=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])

#!/usr/bin/env python3
"""The demo's pictures show what each scenario promises.

usage: demo_pictures.py DEMO_OUT_DIR   (after tools/demo.sh BUILD DEMO_OUT_DIR)
Each PNG holds the last frame before | after (8 grey columns between); the "after" half is
looked at: where the black bands are, and whether the picture fills the frame.
"""
import os, subprocess, sys

W, H, GAP = 720, 576, 8
failures = []


def read_png(path):
    """Width and RGB rows of a PNG, decoded by ffmpeg."""
    rgb = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    width = 2 * W + GAP
    return width, [rgb[y * width * 3:(y + 1) * width * 3] for y in range(len(rgb) // (width * 3))]


def halves(path):
    width, rows = read_png(path)
    assert len(rows) == H, len(rows)
    return [r[:W * 3] for r in rows], [r[(W + GAP) * 3:] for r in rows]


def black(px):
    return max(px) <= 4


def bands(rows):
    """Widths of the all-black margins: left, right, top, bottom."""
    col_black = [all(black(r[x * 3:x * 3 + 3]) for r in rows) for x in range(W)]
    row_black = [all(black(r[x * 3:x * 3 + 3]) for x in range(W)) for r in rows]
    run = lambda flags: next((i for i, f in enumerate(flags) if not f), len(flags))
    return run(col_black), run(col_black[::-1]), run(row_black), run(row_black[::-1])


def check(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok else "  " + detail))
    if not ok:
        failures.append(what)


def main():
    out = sys.argv[1]
    for source in ("yuyv", "bgr24", "clip"):
        png = lambda name: os.path.join(out, "demo-%s-%s.png" % (name, source))
        before, after = halves(png("zoom-110"))
        corners = [after[y][x * 3:x * 3 + 3] for x in (0, W - 1) for y in (0, H - 1)]
        check(source + ": zoom 110 %: no black at the corners", not any(black(c) for c in corners), repr(corners))
        # 90 % of 720x576 is 648x518.4; 5 % right is 36 columns, 3 % up 17.3 rows.
        _, after = halves(png("shrink-90-offset"))
        got = bands(after)
        want = (72, 0, 11.5, 46.1)
        check(source + ": shrink 90 %% moved 5 %% right and 3 %% up: bands left, right, top, bottom %s" % (want,),
              all(abs(g - w) <= 1.5 for g, w in zip(got, want)), "got %s" % (got,))
        _, after = halves(png("interlaced-deinterlace"))
        check(source + ": interlaced zoom 105 %: the picture fills the frame", bands(after) == (0, 0, 0, 0),
              "bands %s" % (bands(after),))
        before, after = halves(png("defaults"))
        check(source + ": processing off: the picture is unchanged", before == after)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Draws the icons and backgrounds of decoder-ui with ImageMagick's convert.

Run from anywhere: python3 gui/resources/make-artwork.py. The PNG files it writes are
committed; this script is only needed to change them.
"""
import math
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "icons")
IMAGES = os.path.join(HERE, "images")
GREEN = "#22b24c"


def convert(args, out):
    subprocess.run(["convert"] + args + ["-strip", "-define", "png:exclude-chunks=date,time", out], check=True)


def canvas(size):
    return ["-size", "%dx%d" % size, "xc:none"]


def star(cx, cy, outer, inner, points=5):
    pts = []
    for k in range(points * 2):
        r = outer if k % 2 == 0 else inner
        a = -math.pi / 2 + k * math.pi / points
        pts.append("%.1f,%.1f" % (cx + r * math.cos(a), cy + r * math.sin(a)))
    return "polygon " + " ".join(pts)


def icon_pair(name, draw, size=120, colour="#ffffff"):
    """name: full-strength hover picture; name_translucent: the resting one."""
    for suffix, alpha in (("", 1.0), ("_translucent", 0.55)):
        args = canvas((size, size)) + ["-fill", "none", "-stroke", colour, "-strokewidth", "8"]
        for d in draw:
            if isinstance(d, tuple):
                args += list(d)
            else:
                args += ["-draw", d]
        args += ["-channel", "A", "-evaluate", "multiply", str(alpha), "+channel"]
        convert(args, os.path.join(ICONS, name + suffix + ".png"))


def main():
    os.makedirs(ICONS, exist_ok=True)
    os.makedirs(IMAGES, exist_ok=True)

    # Round icon buttons of the top bar: a ring with a symbol.
    ring = "circle 60,60 60,6"
    icon_pair("close_icon_x", [ring, "line 40,40 80,80", "line 80,40 40,80"])
    icon_pair("favourite_sources", [ring, ("-strokewidth", "6"), star(60, 63, 34, 14)])
    icon_pair("screen_setting", [ring, "roundrectangle 32,38 88,74 4,4", "line 60,76 60,86",
                                 "line 46,88 74,88"])
    icon_pair("sources_list", [ring, ("-strokewidth", "7"), "line 46,42 84,42", "line 46,60 84,60",
                               "line 46,78 84,78", ("-fill", "#ffffff", "-strokewidth", "0"),
                               "circle 36,42 36,37", "circle 36,60 36,55", "circle 36,78 36,73"])

    # Logo: a green mark and the name.
    convert(canvas((496, 140)) + [
        "-fill", GREEN, "-draw", "roundrectangle 4,20 104,120 18,18",
        "-fill", "#ffffff", "-draw", "polygon 38,44 38,96 80,70",
        "-fill", "#ffffff", "-font", "DejaVu-Sans-Bold", "-pointsize", "72",
        "-annotate", "+124+100", "TARNVIK",
        "-channel", "A", "-evaluate", "multiply", "0.85", "+channel"],
        os.path.join(ICONS, "tarnvik_logo_translucent.png"))

    convert(["-size", "256x256", "xc:none", "-fill", GREEN, "-draw", "roundrectangle 8,8 248,248 40,40",
             "-fill", "#ffffff", "-draw", "polygon 92,70 92,186 190,128"],
            os.path.join(ICONS, "appicon.png"))

    convert(canvas((50, 50)) + ["-fill", "#c8c8c8", "-draw", "polygon 6,14 44,14 25,38"],
            os.path.join(ICONS, "down_arrow.png"))

    # Eye of the PIN field: shown (open eye) and hidden (struck through).
    for state, colour in (("", "#707070"), ("_hover", "#ffffff")):
        eye = ["-fill", "none", "-stroke", colour, "-strokewidth", "5",
               "-draw", "ellipse 40,40 28,16 0,360", "-fill", colour, "-draw", "circle 40,40 40,32"]
        convert(canvas((80, 80)) + eye, os.path.join(ICONS, "pswd_eye_visible%s.png" % state))
        convert(canvas((80, 80)) + eye + ["-strokewidth", "6", "-draw", "line 14,64 66,16"],
                os.path.join(ICONS, "pswd_eye_hidden%s.png" % state))

    # Page dots of the favourites.
    for name, colour in (("dot_next_favourite", "#505050"), ("dot_next_favourite_hover", "#a0a0a0"),
                         ("dot_actual_favourite", GREEN)):
        convert(canvas((64, 64)) + ["-fill", colour, "-draw", "circle 32,32 32,10"],
                os.path.join(ICONS, name + ".png"))

    # Stars of the source rows.
    for name, fill, stroke in (("small_favourite_active", GREEN, GREEN),
                               ("small_favourite_unactive", "none", "#707070"),
                               ("small_favourite_hover", "none", "#ffffff")):
        convert(canvas((50, 50)) + ["-fill", fill, "-stroke", stroke, "-strokewidth", "3",
                                    "-draw", star(25, 27, 21, 9)], os.path.join(ICONS, name + ".png"))

    # Face of a favourite tile, as large as the large tile's face (the small one shows it
    # halved): a screen with a play mark in the upper half, the lower part left empty for
    # the caption, which is drawn there on the face's black.
    convert(canvas((768, 432)) + ["-fill", "none", "-stroke", "#505050", "-strokewidth", "12",
                                  "-draw", "roundrectangle 289,26 479,166 14,14", "-draw", "line 344,196 424,196",
                                  "-fill", "#505050", "-stroke", "none", "-draw", "polygon 364,66 364,126 414,96"],
            os.path.join(IMAGES, "favourite_source_unselected.png"))

    # Backgrounds behind the video: a vertical gradient with a faint name; cheap to store.
    for w, h in ((1920, 1080), (3840, 2160), (1080, 1920), (2160, 3840)):
        convert(["-size", "%dx%d" % (w, h), "gradient:#1c2a3a-#05080c",
                 "-fill", "#ffffff18", "-font", "DejaVu-Sans-Bold", "-pointsize", str(min(w, h) // 9),
                 "-gravity", "center", "-annotate", "+0+0", "TARNVIK", "-depth", "8"],
                os.path.join(IMAGES, "bg_%dx%d.png" % (w, h)))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the program's button pictures and application icon as PNG files.

Usage: scripts/draw-pictures.py [output-dir]   (default: src/ui/pictures)

Each picture is a list of filled shapes on a 16 x 16 grid, rendered with supersampling at the
sizes needed. The 16-pixel button pictures also get a disabled variant in the classic embossed
style: dark parts become grey with a white shadow one pixel down and to the right.
Standard library only, so that the pictures can be redrawn anywhere.
"""
import math
import os
import struct
import sys
import zlib


def hexcolor(h, a=1.0):
    h = h.lstrip("#")
    return (int(h[0:2], 16) / 255, int(h[2:4], 16) / 255, int(h[4:6], 16) / 255, a)


# Shapes: each has a bounding box and an inside test in grid units.
class Rect:
    def __init__(self, x0, y0, x1, y1, color, radius=0.0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, radius
        self.color = color
        self.box = (x0, y0, x1, y1)

    def inside(self, x, y):
        if not (self.x0 <= x < self.x1 and self.y0 <= y < self.y1):
            return False
        r = self.r
        if r <= 0:
            return True
        cx = min(max(x, self.x0 + r), self.x1 - r)
        cy = min(max(y, self.y0 + r), self.y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Circle:
    def __init__(self, cx, cy, r, color):
        self.cx, self.cy, self.r, self.color = cx, cy, r, color
        self.box = (cx - r, cy - r, cx + r, cy + r)

    def inside(self, x, y):
        return (x - self.cx) ** 2 + (y - self.cy) ** 2 <= self.r * self.r


class Polygon:
    def __init__(self, points, color):
        self.p, self.color = points, color
        xs = [q[0] for q in points]
        ys = [q[1] for q in points]
        self.box = (min(xs), min(ys), max(xs), max(ys))

    def inside(self, x, y):
        inside = False
        n = len(self.p)
        for i in range(n):
            (xa, ya), (xb, yb) = self.p[i], self.p[(i + 1) % n]
            if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
                inside = not inside
        return inside


def line(x0, y0, x1, y1, width, color):
    """A straight stroke with square ends, as a polygon."""
    dx, dy = x1 - x0, y1 - y0
    length = math.hypot(dx, dy)
    nx, ny = -dy / length * width / 2, dx / length * width / 2
    return Polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)],
                   color)


def star(cx, cy, outer, inner, color):
    pts = []
    for k in range(8):
        r = outer if k % 2 == 0 else inner
        a = math.pi / 4 * k - math.pi / 2
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return Polygon(pts, color)


def pager():
    dark = hexcolor("#1c2024")
    body = hexcolor("#3a4048")
    return [
        Rect(10, 1, 13.5, 4, dark, 0.8),                   # belt clip
        Rect(0.5, 2.5, 15.5, 14.5, dark, 2.2),             # outline
        Rect(1.5, 3.5, 14.5, 13.5, body, 1.4),             # body
        Rect(2.5, 4.5, 13.5, 9.5, hexcolor("#0e1a08")),    # screen frame
        Rect(3.5, 5.5, 12.5, 8.5, hexcolor("#a6d96a")),    # screen
        Rect(4.5, 6.5, 9.5, 7.5, hexcolor("#3d6b1e")),     # message on the screen
        Rect(2.5, 10.5, 5.0, 12.5, hexcolor("#c8ccd0"), 0.5),  # buttons
        Rect(6.0, 10.5, 8.5, 12.5, hexcolor("#c8ccd0"), 0.5),
        Rect(9.5, 10.5, 12.0, 12.5, hexcolor("#c8ccd0"), 0.5),
        Circle(13.0, 11.5, 0.9, hexcolor("#ff5a28")),     # light
    ]


def wand():
    return [
        line(2.5, 13.5, 10.5, 5.5, 3.0, hexcolor("#101010")),  # outline of the stick
        line(3.2, 12.8, 9.2, 6.8, 1.6, hexcolor("#505050")),   # stick
        line(9.0, 7.0, 10.4, 5.6, 1.6, hexcolor("#ffffff")),   # white tip
        star(12.0, 4.0, 3.6, 1.0, hexcolor("#c07000")),
        star(12.0, 4.0, 2.6, 0.6, hexcolor("#ffd800")),
        star(6.5, 3.0, 2.2, 0.6, hexcolor("#ffd800")),
        star(13.5, 10.0, 2.2, 0.6, hexcolor("#ffd800")),
    ]


def abort_sign():
    white = hexcolor("#ffffff")
    return [
        Circle(8, 8, 7.5, hexcolor("#7a0000")),
        Circle(8, 8, 6.5, hexcolor("#e01818")),
        line(5.0, 5.0, 11.0, 11.0, 2.2, white),
        line(11.0, 5.0, 5.0, 11.0, 2.2, white),
    ]


def render(shapes, size, samples):
    """RGBA floats (straight alpha), row-major."""
    scale = 16.0 / size
    step = 1.0 / samples
    out = []
    for py in range(size):
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(samples):
                y = (py + (sy + 0.5) * step) * scale
                for sx in range(samples):
                    x = (px + (sx + 0.5) * step) * scale
                    r = g = b = a = 0.0
                    for s in shapes:
                        x0, y0, x1, y1 = s.box
                        if x < x0 or x > x1 or y < y0 or y > y1 or not s.inside(x, y):
                            continue
                        cr, cg, cb, ca = s.color
                        r = cr * ca + r * (1 - ca)
                        g = cg * ca + g * (1 - ca)
                        b = cb * ca + b * (1 - ca)
                        a = ca + a * (1 - ca)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = samples * samples
            a = acc[3] / n
            if a > 0:
                out.append((acc[0] / n / a, acc[1] / n / a, acc[2] / n / a, a))
            else:
                out.append((0.0, 0.0, 0.0, 0.0))
    return out


def disabled(pixels, size):
    """Classic embossed look: dark parts grey, mid tones light grey, and a white copy of the
    shape one pixel down-right."""
    def tone(x, y):
        if not (0 <= x < size and 0 <= y < size):
            return 2
        r, g, b, a = pixels[y * size + x]
        if a < 0.5:
            return 2
        lum = 0.299 * r + 0.587 * g + 0.114 * b
        return 0 if lum < 0.6 else 1 if lum < 0.9 else 2

    out = []
    for y in range(size):
        for x in range(size):
            t = tone(x, y)
            if t == 0:
                out.append(hexcolor("#808080"))
            elif t == 1:
                out.append(hexcolor("#b4b4b4"))
            elif tone(x - 1, y - 1) < 2:
                out.append(hexcolor("#ffffff"))
            else:
                out.append((0.0, 0.0, 0.0, 0.0))
    return out


def write_png(path, pixels, size):
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            for c in pixels[y * size + x]:
                raw.append(max(0, min(255, int(round(c * 255)))))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def read_png(path):
    """Pixels of a PNG written by write_png, as 0xAARRGGBB words (straight alpha)."""
    with open(path, "rb") as f:
        data = f.read()
    size = struct.unpack(">I", data[16:20])[0]
    idat = data[33 + 8:data.index(b"IEND") - 8]
    raw = zlib.decompress(idat)
    words = []
    row = 1 + size * 4
    for y in range(size):
        for x in range(size):
            r, g, b, a = raw[y * row + 1 + x * 4:y * row + 5 + x * 4]
            words.append((a << 24) | (r << 16) | (g << 8) | b)
    return size, words


def write_header(outdir, names):
    """The small pictures again as C++ arrays: the program builds its icons from these, since
    reading a PNG at start-up makes Qt look through its image format plugins first."""
    lines = ["// Written by scripts/draw-pictures.py from the PNG files beside it; do not edit.",
             "#pragma once", "", "#include <cstdint>", "", "namespace dazoroz::ui::pictures {", "",
             "// clang-format off", ""]
    for name in names:
        size, words = read_png(os.path.join(outdir, name + ".png"))
        ident = "k" + "".join(part.capitalize() for part in name.replace("-", "_").split("_"))
        lines.append("inline constexpr int %sSize = %d;" % (ident, size))
        lines.append("inline constexpr std::uint32_t %s[%d] = {" % (ident, size * size))
        for i in range(0, len(words), 6):
            lines.append("    " + ", ".join("0x%08x" % w for w in words[i:i + 6]) + ",")
        lines.append("};")
        lines.append("")
    lines.append("// clang-format on")
    lines.append("")
    lines.append("} // namespace dazoroz::ui::pictures")
    with open(os.path.join(outdir, "pictures_data.h"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "ui", "pictures")
    os.makedirs(outdir, exist_ok=True)
    for name, shapes in (("pager", pager()), ("wand", wand()), ("abort", abort_sign())):
        pixels = render(shapes, 16, 8)
        write_png(os.path.join(outdir, name + "-16.png"), pixels, 16)
        write_png(os.path.join(outdir, name + "-16-disabled.png"), disabled(pixels, 16), 16)
    for size, samples in ((48, 4), (256, 2)):
        write_png(os.path.join(outdir, "dazoroz-%d.png" % size), render(pager(), size, samples),
                  size)
    write_header(outdir, ["pager-16", "pager-16-disabled", "wand-16", "wand-16-disabled",
                          "abort-16", "abort-16-disabled", "dazoroz-48"])


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws IrBench's built-in images (PNG and one animated GIF) from simple shapes.

Standard library only. Run from anywhere; writes next to this script:
    python3 resources/draw_resources.py
The output is deterministic, so regenerating leaves the committed files unchanged.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # supersampling per axis

# Palette of the program (kept in step with irbench.qss).
NAVY = (0x1F, 0x2D, 0x3D)
SLATE = (0x34, 0x49, 0x5E)
ICE = (0xE8, 0xEE, 0xF5)
ORANGE = (0xF3, 0x8B, 0x12)
RED = (0xD9, 0x3A, 0x2B)
YELLOW = (0xF7, 0xC9, 0x3E)
GREEN = (0x2E, 0xA0, 0x5A)
BLUE = (0x2F, 0x80, 0xC8)


# ---- shapes: functions (x, y) -> bool, coordinates in pixels -------------------

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def rrect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def segment(ax, ay, bx, by, w):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (w / 2.0) ** 2
    return inside


def polyline(points, w):
    segs = [segment(*points[i], *points[i + 1], w) for i in range(len(points) - 1)]
    return lambda x, y: any(s(x, y) for s in segs)


def polygon(points):
    def inside(x, y):
        c = False
        n = len(points)
        for i in range(n):
            x1, y1 = points[i]
            x2, y2 = points[(i + 1) % n]
            if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
                c = not c
        return c
    return inside


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def gear(cx, cy, r_out, r_root, r_hole, teeth):
    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if d2 < r_hole * r_hole or d2 > r_out * r_out:
            return False
        if d2 <= r_root * r_root:
            return True
        a = math.atan2(y - cy, x - cx) % (2 * math.pi / teeth)
        return a < (2 * math.pi / teeth) * 0.45
    return inside


# ---- colour helpers ------------------------------------------------------------

def solid(rgb, a=255):
    return lambda x, y: (rgb[0], rgb[1], rgb[2], a)


def vgrad(top, bottom, y0, y1, a=255):
    def col(x, y):
        t = min(1.0, max(0.0, (y - y0) / float(max(1e-9, y1 - y0))))
        return tuple(int(round(top[i] + (bottom[i] - top[i]) * t)) for i in range(3)) + (a,)
    return col


def hgrad(stops, x0, x1, a=255):
    def col(x, y):
        t = min(1.0, max(0.0, (x - x0) / float(max(1e-9, x1 - x0))))
        seg = t * (len(stops) - 1)
        i = min(int(seg), len(stops) - 2)
        f = seg - i
        c0, c1 = stops[i], stops[i + 1]
        return tuple(int(round(c0[k] + (c1[k] - c0[k]) * f)) for k in range(3)) + (a,)
    return col


# ---- rasteriser ----------------------------------------------------------------

def render(w, h, layers, background=None):
    """layers: list of (shape, colour_fn). Returns rows of RGBA tuples."""
    rows = []
    n = SS * SS
    for py in range(h):
        row = []
        for px in range(w):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SS):
                for sx in range(SS):
                    x = px + (sx + 0.5) / SS
                    y = py + (sy + 0.5) / SS
                    if background:
                        r, g, b = background
                        a = 1.0
                        pr, pg, pb = r / 255.0, g / 255.0, b / 255.0
                    else:
                        pr = pg = pb = a = 0.0
                    for shape, colour in layers:
                        if shape(x, y):
                            cr, cg, cb, ca = colour(x, y)
                            ca /= 255.0
                            pr = cr / 255.0 * ca + pr * (1 - ca)
                            pg = cg / 255.0 * ca + pg * (1 - ca)
                            pb = cb / 255.0 * ca + pb * (1 - ca)
                            a = ca + a * (1 - ca)
                    acc[0] += pr
                    acc[1] += pg
                    acc[2] += pb
                    acc[3] += a
            alpha = acc[3] / n
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(min(1.0, acc[i] / n / alpha) * 255)) for i in range(3))
                           + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def write_png(path, rows):
    h = len(rows)
    w = len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw.extend(px)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# ---- GIF (animated, 8-bit palette, LZW) ----------------------------------------

def lzw_encode(indices, min_code_size=8):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bit_buf = 0
    bit_len = 0

    def emit(code, size):
        nonlocal bit_buf, bit_len
        bit_buf |= code << bit_len
        bit_len += size
        while bit_len >= 8:
            out.append(bit_buf & 0xFF)
            bit_buf >>= 8
            bit_len -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, size = reset()
    emit(clear, size)
    prefix = ()
    for idx in indices:
        cand = prefix + (idx,)
        if cand in table:
            prefix = cand
            continue
        emit(table[prefix], size)
        if next_code < 4096:
            table[cand] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear, size)
            table, next_code, size = reset()
        prefix = (idx,)
    if prefix:
        emit(table[prefix], size)
    emit(end, size)
    if bit_len:
        out.append(bit_buf & 0xFF)
    return bytes(out)


def write_gif(path, w, h, palette, frames, delay_cs):
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", w, h, 0xF7, 0, 0)  # global table of 256 entries
    for i in range(256):
        data += bytes(palette[i] if i < len(palette) else (0, 0, 0))
    # Loop forever.
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for indices in frames:
        data += b"\x21\xF9\x04\x04" + struct.pack("<H", delay_cs) + b"\x00\x00"
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
        data += b"\x08"
        lzw = lzw_encode(indices)
        for i in range(0, len(lzw), 255):
            block = lzw[i:i + 255]
            data += bytes([len(block)]) + block
        data += b"\x00"
    data += b"\x3B"
    with open(path, "wb") as f:
        f.write(data)


def draw_spinner(path):
    size, dots, bg, fg = 48, 12, (0xF4, 0xF6, 0xF9), ORANGE
    palette = [tuple(int(round(bg[k] + (fg[k] - bg[k]) * i / 255.0)) for k in range(3)) for i in range(256)]
    frames = []
    for f in range(dots):
        layers = []
        for d in range(dots):
            ang = 2 * math.pi * d / dots - math.pi / 2
            age = (f - d) % dots
            strength = max(0.15, 1.0 - age / float(dots))
            cx = size / 2 + math.cos(ang) * 17
            cy = size / 2 + math.sin(ang) * 17
            layers.append((circle(cx, cy, 4.0), solid((255, 255, 255), int(255 * strength))))
        rows = render(size, size, layers)
        # Coverage times strength is the blend factor towards the accent colour.
        frames.append([int(round(px[3] * 1.0)) for row in rows for px in row])
    write_gif(path, size, size, palette, frames, 8)


# ---- the images ----------------------------------------------------------------

def lens_gradient(cx, cy, r):
    def col(x, y):
        t = min(1.0, math.hypot(x - cx, y - cy) / r)
        stops = [YELLOW, ORANGE, RED, (0x5A, 0x1A, 0x6E)]
        seg = t * (len(stops) - 1)
        i = min(int(seg), len(stops) - 2)
        f = seg - i
        return tuple(int(round(stops[i][k] + (stops[i + 1][k] - stops[i][k]) * f)) for k in range(3)) + (255,)
    return col


def images():
    out = {}
    # Window icon: a camera core with a thermal lens.
    out["camera1.png"] = (64, 64, [
        (rrect(20, 8, 40, 18, 3), solid(SLATE)),
        (rrect(4, 14, 60, 56, 8), vgrad((0x4A, 0x61, 0x78), NAVY, 14, 56)),
        (circle(32, 35, 17), solid(ICE)),
        (circle(32, 35, 14), lens_gradient(30, 32, 14)),
        (circle(27, 30, 3.5), solid((255, 255, 255), 190)),
        (circle(52, 21, 2.5), solid(ORANGE)),
    ])
    # Title-bar logo, 16 x 15.
    out["setting_logo.png"] = (16, 15, [
        (rrect(0.5, 0.5, 15.5, 14.5, 3), vgrad(ORANGE, RED, 0, 15)),
        (ring(8, 7.5, 5.2, 3.4), solid((255, 255, 255))),
        (circle(8, 7.5, 1.6), solid((255, 255, 255))),
    ])
    # Page list icons, 46 x 37, light on the dark list.
    out["zhuangtaitu.png"] = (46, 37, [
        (minus(rrect(5, 3, 41, 28, 3), rrect(8, 6, 38, 25, 1.5)), solid(ICE)),
        (rect(20, 28, 26, 32), solid(ICE)),
        (rrect(13, 32, 33, 34.5, 1.2), solid(ICE)),
        (polyline([(10, 17), (17, 17), (20, 10), (24, 22), (27, 14), (29, 17), (36, 17)], 2.2), solid(ORANGE)),
    ])
    out["shedingtu.png"] = (46, 37, [
        (gear(23, 18.5, 15, 11.5, 5, 8), solid(ICE)),
        (circle(23, 18.5, 2.5), solid(ORANGE)),
    ])
    out["shipingtu.png"] = (46, 37, [
        (minus(rect(7, 4, 33, 30), union(*[rect(7 + 6.5 * i + 1, 4 + 6.5 * j + 1, 7 + 6.5 * (i + 1) - 1, 4 + 6.5 * (j + 1) - 1)
                                            for i in range(4) for j in range(4)])), solid(ICE, 150)),
        (rect(20.5, 17.5, 25.5, 22.5), solid(RED)),
        (ring(27, 21, 9, 6.5), solid(ICE)),
        (segment(33.5, 27.5, 40, 34, 3.5), solid(ORANGE)),
    ])
    out["agctu.png"] = (46, 37, [
        (rrect(3, 7, 32, 30, 3), hgrad([(0x5A, 0x1A, 0x6E), RED, ORANGE, YELLOW], 5, 30)),
        (minus(rrect(3, 7, 32, 30, 3), rrect(5, 9, 30, 28, 2)), solid(ICE)),
        (polygon([(33, 15), (43, 9), (43, 28), (33, 22)]), solid(ICE)),
    ])
    # Workflow step buttons: next step (orange) and finished step (green).
    for name, top, bottom in (("btns_1.png", (0xF7, 0xA8, 0x3C), (0xE0, 0x76, 0x0B)),
                              ("btns_2.png", (0x55, 0xC0, 0x7F), (0x23, 0x8A, 0x4C))):
        out[name] = (120, 36, [
            (rrect(0.5, 0.5, 119.5, 35.5, 5), solid(tuple(int(c * 0.8) for c in bottom))),
            (rrect(1.5, 1.5, 118.5, 34.5, 4), vgrad(top, bottom, 1, 35)),
            (rrect(3, 2.5, 117, 12, 3), solid((255, 255, 255), 40)),
        ])
    # Title-bar glyphs, 12 x 12, white.
    white = solid((255, 255, 255))
    out["title_min.png"] = (12, 12, [(rect(2, 8.5, 10, 10), white)])
    out["title_max.png"] = (12, 12, [(minus(rect(1.5, 1.5, 10.5, 10.5), rect(3, 4, 9, 9)), white)])
    out["title_restore.png"] = (12, 12, [
        (minus(rect(4, 1, 11, 8), rect(5.3, 3, 9.7, 6.7)), white),
        (minus(rect(1, 4, 8, 11), rect(2.3, 6, 6.7, 9.7)), white),
    ])
    out["title_close.png"] = (12, 12, [(segment(2, 2, 10, 10, 1.6), white), (segment(10, 2, 2, 10, 1.6), white)])
    # Drop-down arrow of the combo boxes.
    out["arrow_down.png"] = (10, 6, [(polygon([(0.5, 0.5), (9.5, 0.5), (5, 5.5)]), solid(SLATE))])
    return out


def main():
    for name, (w, h, layers) in images().items():
        write_png(os.path.join(HERE, name), render(w, h, layers))
    draw_spinner(os.path.join(HERE, "processing.gif"))


if __name__ == "__main__":
    main()

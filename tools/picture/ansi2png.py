#!/usr/bin/env python3
"""Turns a terminal screen captured with `tmux capture-pane -e -p` into a PNG.

Reads the capture on stdin, writes an ImageMagick drawing (MVG) with one coloured cell per
character and lets `convert` render that file: usage  ansi2png.py COLS ROWS OUT.png < capture
"""
import re
import subprocess
import sys
import tempfile

CELL_W, CELL_H, FONT_PT = 9, 18, 14.5
FONT = "DejaVu-Sans-Mono"
FONT_BOLD = "DejaVu-Sans-Mono-Bold"
# xterm's default palette: the 16 colours, then the 6x6x6 cube and the grey ramp.
BASE = ["#000000", "#cd0000", "#00cd00", "#cdcd00", "#0000ee", "#cd00cd", "#00cdcd", "#e5e5e5",
        "#7f7f7f", "#ff0000", "#00ff00", "#ffff00", "#5c5cff", "#ff00ff", "#00ffff", "#ffffff"]
DEFAULT_FG, DEFAULT_BG = "#d0d0d0", "#101010"


def palette(n):
    if n < 16:
        return BASE[n]
    if n < 232:
        n -= 16
        steps = [0, 95, 135, 175, 215, 255]
        return "#%02x%02x%02x" % (steps[n // 36], steps[n // 6 % 6], steps[n % 6])
    v = 8 + (n - 232) * 10
    return "#%02x%02x%02x" % (v, v, v)


class Pen:
    def __init__(self):
        self.reset()

    def reset(self):
        self.fg, self.bg, self.bold, self.dim, self.reverse = None, None, False, False, False

    def apply(self, params):
        codes = [int(p) if p else 0 for p in params.split(";")] if params else [0]
        i = 0
        while i < len(codes):
            c = codes[i]
            if c == 0:
                self.reset()
            elif c == 1:
                self.bold = True
            elif c == 2:
                self.dim = True
            elif c == 22:
                self.bold = self.dim = False
            elif c == 7:
                self.reverse = True
            elif c == 27:
                self.reverse = False
            elif 30 <= c <= 37 or 90 <= c <= 97:
                self.fg = palette(c - 30 if c < 90 else c - 82)
            elif 40 <= c <= 47 or 100 <= c <= 107:
                self.bg = palette(c - 40 if c < 100 else c - 92)
            elif c == 39:
                self.fg = None
            elif c == 49:
                self.bg = None
            elif c in (38, 48) and i + 1 < len(codes):
                if codes[i + 1] == 5 and i + 2 < len(codes):
                    colour = palette(codes[i + 2])
                    i += 2
                elif codes[i + 1] == 2 and i + 4 < len(codes):
                    colour = "#%02x%02x%02x" % tuple(codes[i + 2:i + 5])
                    i += 4
                else:
                    colour = None
                if c == 38:
                    self.fg = colour
                else:
                    self.bg = colour
            i += 1

    def colours(self):
        fg, bg = self.fg or DEFAULT_FG, self.bg or DEFAULT_BG
        if self.reverse:
            fg, bg = bg, fg
        return fg, bg


def cells(lines):
    """Yields (col, row, char, fg, bg, bold) for every cell of the capture."""
    pen = Pen()
    for row, line in enumerate(lines):
        col = 0
        for token in re.finditer(r"\x1b\[([0-9;]*)m|\x1b[^m]*?[A-Za-z]|(.)", line):
            if token.group(1) is not None:
                pen.apply(token.group(1))
            elif token.group(2) is not None:
                fg, bg = pen.colours()
                yield col, row, token.group(2), fg, bg, pen.bold
                col += 1


def mvg(cols, rows, lines):
    out = ["viewbox 0 0 %d %d" % (cols * CELL_W, rows * CELL_H),
           "fill %s rectangle 0,0 %d,%d" % (DEFAULT_BG, cols * CELL_W, rows * CELL_H),
           "font-size %s" % FONT_PT]
    for col, row, ch, fg, bg, bold in cells(lines):
        if col >= cols or row >= rows:
            continue
        x, y = col * CELL_W, row * CELL_H
        if bg != DEFAULT_BG:
            out.append("fill %s rectangle %d,%d %d,%d" % (bg, x, y, x + CELL_W - 1, y + CELL_H - 1))
        if ch != " ":
            text = ch.replace("\\", "\\\\").replace("'", "\\'")
            out.append("font %s fill %s text %d,%d '%s'" % (FONT_BOLD if bold else FONT, fg, x, y + CELL_H - 5, text))
    return "\n".join(out) + "\n"


def main():
    cols, rows, target = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    lines = sys.stdin.read().split("\n")
    with tempfile.NamedTemporaryFile("w", suffix=".mvg", encoding="utf-8") as f:
        f.write(mvg(cols, rows, lines))
        f.flush()
        subprocess.run(["convert", "mvg:" + f.name, target], check=True)


if __name__ == "__main__":
    main()

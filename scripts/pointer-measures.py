#!/usr/bin/env python3
"""Pointer figures from pavrel-track --pointer output (one JSON object a line).

  pointer-measures.py jitter [--skip N] FILE   RMS frame-to-frame pointer movement, in pixels
                                               of a 1920 x 1080 monitor (after N frames, 30)
  pointer-measures.py lag [--skip N] FILE      frames the pointer trails the tracked centre on
                                               a constant-speed clip (original mapping)
  pointer-measures.py drift FILE               pointer displacement between each button down
                                               and the following up, in pixels

FILE may be - for standard input.
"""
import json
import math
import sys

W, H = 1920, 1080


def lines(path):
    stream = sys.stdin if path == "-" else open(path)
    return [json.loads(line) for line in stream if line.strip()]


def pixels(p):
    return (p[0] * W / 65536.0, p[1] * H / 65536.0)


def jitter(frames, skip):
    moves = []
    previous = None
    for f in frames[skip:]:
        p = f.get("pointer")
        if p is None:
            previous = None
            continue
        q = pixels(p)
        if previous is not None:
            moves.append((q[0] - previous[0]) ** 2 + (q[1] - previous[1]) ** 2)
        previous = q
    if not moves:
        sys.exit("no two consecutive pointers")
    return math.sqrt(sum(moves) / len(moves))


def lag(frames, skip):
    # The original mapping of the newest tracked column, against the pointer sent with it.
    xs, ps = [], []
    for f in frames[skip:]:
        if f.get("pointer") is None:
            continue
        xs.append((f["centre"][1] - 10) / 160 * 1.14 * 65535)
        ps.append(f["pointer"][0])
    n = len(xs)
    if n < 10:
        sys.exit("too few frames")
    speed = (xs[-1] - xs[0]) / (n - 1)  # units a frame
    if speed == 0:
        sys.exit("the centre does not move")
    return sum((x - p) / speed for x, p in zip(xs, ps)) / n


def drift(frames):
    results = []
    down = None
    previous = 0
    for f in frames:
        code = f.get("code", 0)
        p = f.get("pointer")
        if code & 8 and not previous & 8 and p is not None:
            down = pixels(p)
        elif code & 4 and previous & 8 and down is not None and p is not None:
            up = pixels(p)
            results.append(math.hypot(up[0] - down[0], up[1] - down[1]))
            down = None
        previous = code
    return results


def main(argv):
    if len(argv) < 2 or argv[0] not in ("jitter", "lag", "drift"):
        sys.exit(__doc__)
    skip = 30
    args = argv[1:]
    if args[0] == "--skip":
        skip = int(args[1])
        args = args[2:]
    frames = lines(args[0])
    if argv[0] == "jitter":
        print("%.2f" % jitter(frames, skip))
    elif argv[0] == "lag":
        print("%.2f" % lag(frames, skip))
    else:
        d = drift(frames)
        print("clicks %d, drift max %.1f px, mean %.1f px" %
              (len(d), max(d) if d else 0, sum(d) / len(d) if d else 0))


if __name__ == "__main__":
    main(sys.argv[1:])

#!/usr/bin/env python3
"""Pointer figures from pavrel-track --pointer output (one JSON object a line).

  pointer-measures.py jitter [--skip N] FILE   RMS frame-to-frame pointer movement, in pixels
                                               of a 1920 x 1080 monitor (after N frames, 30)
  pointer-measures.py lag [--skip N] FILE      frames the pointer trails the tracked centre on
                                               a constant-speed clip (original mapping)
  pointer-measures.py still TRUTH FILE          the same jitter only where the hand holds still:
                                               frame pairs whose truth palm moves less than
                                               3 px, in runs of 8 or more; also the truth
                                               palm's own RMS there and the pair count
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


STILL_BELOW = 3.0  # screen pixels a frame
STILL_RUN = 8  # frame pairs


def truth_palms(path):
    # The palm's truth point (wrist and four knuckles) by frame, in screen pixels of the
    # original mapping: clip pixels scaled as the picture's columns and rows are.
    truth = json.load(open(path))
    sx = W / truth["width"] * 1.14
    sy = H / truth["height"] * 1.2
    palms = {}
    for t in truth["truth"]:
        if t["hands"]:
            marks = [t["hands"][0]["landmarks"][i] for i in (0, 5, 9, 13, 17)]
            palms[t["frame"]] = (sum(m[0] for m in marks) / 5 * sx, sum(m[1] for m in marks) / 5 * sy)
    return palms


def still(frames, truth_path):
    palms = truth_palms(truth_path)
    calm = sorted(f for f in palms if f - 1 in palms and math.dist(palms[f], palms[f - 1]) < STILL_BELOW)
    # Only runs long enough to be a hand held still, not a turn of direction.
    runs, run = [], []
    for f in calm:
        if run and f != run[-1] + 1:
            runs.append(run)
            run = []
        run.append(f)
    runs.append(run)
    pairs = {f for r in runs if len(r) >= STILL_RUN for f in r}
    # pavrel-track counts frames from 1, the truth from 0.
    sent = {f["frame"] - 1: pixels(f["pointer"]) for f in frames if f.get("pointer") is not None}
    moves = [math.dist(sent[f], sent[f - 1]) ** 2 for f in sorted(pairs) if f in sent and f - 1 in sent]
    hand = [math.dist(palms[f], palms[f - 1]) ** 2 for f in sorted(pairs)]
    if not moves:
        sys.exit("no still frame pairs with pointers")
    return math.sqrt(sum(moves) / len(moves)), math.sqrt(sum(hand) / len(hand)), len(moves)


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
    if len(argv) < 2 or argv[0] not in ("jitter", "lag", "drift", "still"):
        sys.exit(__doc__)
    if argv[0] == "still":
        pointer, hand, count = still(lines(argv[2]), argv[1])
        print("%.2f px (truth palm %.2f px, %d frame pairs)" % (pointer, hand, count))
        return
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

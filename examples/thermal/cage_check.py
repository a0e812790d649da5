#!/usr/bin/env python3
"""An independent count of closed 5^12 and 5^12-6^2 cages, for checking
kavet on thermal frames.

It shares no code with kavet and uses no geometry beyond the bond test:
- bonds: oxygens closer than DIST (minimum image in a rectangular box) and,
  unless --nohyd, an O-H bond of either water making an angle below ANGLE
  with the O-O vector (the water's hydrogens are the two atoms after OW);
- faces: the chordless 5- and 6-cycles of the bond graph, from a plain
  depth-first search over simple paths;
- cages: every set of faces, grown face by face from a seed face, in which
  every edge lies in exactly two faces and every vertex in exactly three
  (a closed surface of degree-3 vertices), with V - E + F = 2 and 12
  pentagons plus 0 or 2 hexagons.

    python3 cage_check.py frames.gro [--frames 0 25] [--hb 3.5 30] [--nohyd] [--list]

Prints, per frame: frame, time, number of 5^12, number of 5^12-6^2 (with
--list, then each cage's oxygens as atom numbers from 1, as kavet's
-ocages writes them).
"""
import argparse
import math
from collections import defaultdict


def read_gro(path):
    with open(path) as f:
        while True:
            title = f.readline()
            if not title:
                return
            n = int(f.readline())
            atoms = []
            for _ in range(n):
                line = f.readline()
                atoms.append((line[5:10].strip(), line[10:15].strip(),
                              [float(line[20 + 8 * k:28 + 8 * k]) * 10 for k in range(3)]))
            box = [float(x) * 10 for x in f.readline().split()[:3]]
            yield title.strip(), atoms, box


def bonds_of(atoms, box, dist, angle, nohyd):
    ox = [i for i, a in enumerate(atoms) if a[1] == "OW"]
    def mi(d):
        return [d[k] - box[k] * round(d[k] / box[k]) for k in range(3)]
    oh = {}
    for i in ox:
        o = atoms[i][2]
        oh[i] = [mi([atoms[i + h][2][k] - o[k] for k in range(3)]) for h in (1, 2)]
    cmax = math.cos(math.radians(angle))
    def donates(i, d):
        r = math.sqrt(sum(x * x for x in d))
        for v in oh[i]:
            lv = math.sqrt(sum(x * x for x in v))
            if sum(a * b for a, b in zip(v, d)) / (lv * r) > cmax:
                return True
        return False
    adj = defaultdict(set)
    for a in range(len(ox)):
        for b in range(a + 1, len(ox)):
            i, j = ox[a], ox[b]
            d = mi([atoms[j][2][k] - atoms[i][2][k] for k in range(3)])
            if sum(x * x for x in d) >= dist * dist:
                continue
            if nohyd or donates(i, d) or donates(j, [-x for x in d]):
                adj[i].add(j)
                adj[j].add(i)
    return adj


def faces_of(adj):
    """Chordless cycles of 5 and 6 nodes, each once (as a frozenset key)."""
    found = {}
    for s in adj:
        stack = [[s]]
        while stack:
            path = stack.pop()
            last = path[-1]
            for nx in adj[last]:
                if nx < s:
                    continue
                if nx == s and len(path) >= 5 and path[1] < path[-1]:
                    ring = path
                    members = set(ring)
                    chord = any(len(adj[u] & members) != 2 for u in ring)
                    if not chord:
                        found[frozenset(ring)] = tuple(ring)
                elif nx not in path and len(path) < 6:
                    stack.append(path + [nx])
    return list(found.values())


def edges(face):
    return [frozenset((face[k], face[(k + 1) % len(face)])) for k in range(len(face))]


def cages_of(faces):
    by_edge = defaultdict(list)
    for f, face in enumerate(faces):
        for e in edges(face):
            by_edge[e].append(f)
    cages = set()

    def grow(chosen, edge_use, vert_use, n5, n6):
        open_edges = [e for e, c in edge_use.items() if c == 1]
        if not open_edges:
            if n5 == 12 and n6 in (0, 2):
                V = len(vert_use)
                E = len(edge_use)
                if all(c == 3 for c in vert_use.values()) and V - E + len(chosen) == 2:
                    cages.add(frozenset(chosen))
            return
        # The open edge with the fewest candidate faces.
        best = None
        for e in open_edges:
            cand = []
            for f in by_edge[e]:
                if f in chosen:
                    continue
                face = faces[f]
                if len(face) == 5 and n5 >= 12 or len(face) == 6 and n6 >= 2:
                    continue
                if any(edge_use.get(x, 0) >= 2 for x in edges(face)):
                    continue
                if any(vert_use.get(v, 0) >= 3 for v in face):
                    continue
                cand.append(f)
            if best is None or len(cand) < len(best[1]):
                best = (e, cand)
            if not cand:
                return
        for f in best[1]:
            face = faces[f]
            chosen.add(f)
            for x in edges(face):
                edge_use[x] = edge_use.get(x, 0) + 1
            for v in face:
                vert_use[v] = vert_use.get(v, 0) + 1
            grow(chosen, edge_use, vert_use, n5 + (len(face) == 5), n6 + (len(face) == 6))
            chosen.discard(f)
            for x in edges(face):
                edge_use[x] -= 1
                if not edge_use[x]:
                    del edge_use[x]
            for v in face:
                vert_use[v] -= 1
                if not vert_use[v]:
                    del vert_use[v]

    for f, face in enumerate(faces):
        if len(face) != 5:
            continue  # every wanted cage has a pentagon
        eu = {x: 1 for x in edges(face)}
        vu = {v: 1 for v in face}
        grow({f}, eu, vu, 1, 0)
    return [sorted({v for f in c for v in faces[f]}) for c in cages]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("gro")
    ap.add_argument("--frames", type=int, nargs="*", help="frame numbers from 0 (default: all)")
    ap.add_argument("--hb", type=float, nargs=2, default=[3.5, 30.0], metavar=("DIST", "ANGLE"))
    ap.add_argument("--nohyd", action="store_true")
    ap.add_argument("--list", action="store_true", help="also list each cage's oxygens (atom numbers from 1)")
    a = ap.parse_args()
    for k, (title, atoms, box) in enumerate(read_gro(a.gro)):
        if a.frames and k not in a.frames:
            continue
        adj = bonds_of(atoms, box, a.hb[0], a.hb[1], a.nohyd)
        cages = cages_of(faces_of(adj))
        n12 = sum(1 for c in cages if len(c) == 20)
        t = title.split("t=")[1].split()[0] if "t=" in title else "?"
        print(k, t, n12, len(cages) - n12, flush=True)
        if a.list:
            for c in sorted(cages):
                print("  %s: %s" % ("5^12" if len(c) == 20 else "5^12-6^2", " ".join(str(i + 1) for i in c)))


if __name__ == "__main__":
    main()

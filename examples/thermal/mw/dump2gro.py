"""LAMMPS dump (id type x y z) to a multi-frame one-site .gro: type 1 as SOL OW, type 2 as CH4 C; times step x dt(fs)."""
import sys
src, dst, dt = sys.argv[1], sys.argv[2], float(sys.argv[3])
with open(src) as f, open(dst, "w") as out:
    while True:
        line = f.readline()
        if not line: break
        if not line.startswith("ITEM: TIMESTEP"): continue
        step = int(f.readline()); f.readline(); n = int(f.readline()); f.readline()
        b = [tuple(map(float, f.readline().split()[:2])) for _ in range(3)]
        cols = f.readline().split()[2:]
        rows = [f.readline().split() for _ in range(n)]
        ci = {c: cols.index(c) for c in ("id", "type", "x", "y", "z")}
        rows.sort(key=lambda r: int(r[ci["id"]]))
        out.write("mW sI t= %.4f step= %d\n%5d\n" % (step * dt / 1000, step, n))
        for k, r in enumerate(rows, 1):
            t = int(r[ci["type"]]); p = [(float(r[ci[c]]) - b[j][0]) / 10 for j, c in enumerate("xyz")]
            res, name = ("SOL", "OW") if t == 1 else ("CH4", "C")
            out.write("%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n" % (k % 100000, res, name, k % 100000, *p))
        out.write("%10.5f%10.5f%10.5f\n" % tuple((hi - lo) / 10 for lo, hi in b))

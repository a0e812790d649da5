import csv, sys
def rows(p): return list(csv.DictReader(open(p)))
a, b = rows(sys.argv[1]), rows(sys.argv[2])
tol = float(sys.argv[3]) if len(sys.argv) > 3 else 1e-3
assert len(a) == len(b), (len(a), len(b))
bad, f4 = 0, 0.0
for ra, rb in zip(a, b):
    for k in ra:
        if k == "f4":
            if ra[k] != "nan": f4 = max(f4, abs(float(ra[k]) - float(rb[k])))
        elif ra[k] != rb[k]:
            bad += 1; print("frame", ra["frame"], k, ra[k], rb[k])
print("%s vs %s: %d rows, %d differing values outside f4, max |f4 diff| %.2g -> %s" % (sys.argv[1], sys.argv[2], len(a), bad, f4, "OK" if bad == 0 and f4 <= tol else "DIFFER"))

#!/usr/bin/env python3
"""Prints closed cages per frame of several kavet series side by side, as a
Markdown table: closed cages (5^12 + 5^12-6^2) per series, and the waters
that CHILL+ labels clathrate or interfacial clathrate (from the first
series: CHILL+ does not depend on the bond network).

    python3 table.py default.csv nohyd.csv angle40.csv
"""
import csv
import os
import sys

series = [list(csv.DictReader(open(p))) for p in sys.argv[1:]]
names = [os.path.splitext(os.path.basename(p))[0] for p in sys.argv[1:]]
print("| frame | t (ps) | " + " | ".join(names) + " | CHILL+ clathrate |")
print("|---:|---:|" + "---:|" * (len(names) + 1))
for rows in zip(*series):
    cells = ["%s (%s + %s)" % (r["closed"], r["5^12"], r["5^12-6^2"]) for r in rows]
    chill = int(rows[0]["chill_clathrate"]) + int(rows[0]["chill_interfacial_clathrate"])
    print("| %s | %s | %s | %d |" % (rows[0]["frame"], rows[0]["time_ps"], " | ".join(cells), chill))

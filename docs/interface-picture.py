#!/usr/bin/env python3
"""Draws a hydrate-liquid interface coloured by CHILL+ label, headless.

Runs kavet in series mode on tests/data/sI-interface.gro (a structure-I
methane hydrate slab between layers of its own melt, from the LAMMPS run of
examples/thermal/in.interface) with -oview, reads the frame file with ASE
and draws, with matplotlib, every water oxygen seen along the slab (y axis)
coloured by its label, the closed cages as rings at their centres, and below
it the share of each label in 1.5 A layers along z. Writes
docs/interface.png.

    python3 docs/interface-picture.py [--kavet build/release/kavet]

Needs Debian's python3-ase and python3-matplotlib.
"""
import argparse
import os
import subprocess
import tempfile

import ase.io
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LABELS = [  # value in the chill column, name, colour
    (0, "liquid", "#9db4c8"),
    (1, "cubic ice", "#6a3d9a"),
    (2, "hexagonal ice", "#1f78b4"),
    (3, "interfacial ice", "#a6cee3"),
    (4, "clathrate", "#d7301f"),
    (5, "interfacial clathrate", "#fd8d3c"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kavet", default=os.path.join(ROOT, "build", "release", "kavet"))
    parser.add_argument("-o", "--output", default=os.path.join(ROOT, "docs", "interface.png"))
    args = parser.parse_args()
    frame = os.path.join(ROOT, "tests", "data", "sI-interface.gro")
    with tempfile.TemporaryDirectory() as work:
        view = os.path.join(work, "view.xyz")
        subprocess.run([args.kavet, "-f", frame, "-t", frame, "-ot", os.path.join(work, "s.csv"), "-oview", view],
                       check=True, stdout=subprocess.DEVNULL)
        a = ase.io.read(view, index=":")[0]
    water = a.arrays["kind"] == "OW"
    pos, chill = a.positions, a.arrays["chill"]
    lz, lx = a.cell[2][2], a.cell[0][0]
    z = pos[:, 2] % lz

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8.0, 5.6), sharex=True,
                                      gridspec_kw={"height_ratios": [lx, 0.75 * lx]})
    for value, name, colour in LABELS:
        m = water & (chill == value)
        if m.any():
            top.scatter(z[m], pos[m, 0] % lx, s=9, c=colour, edgecolors="none",
                        label="%s (%d)" % (name, m.sum()))
    for kind, marker, tex in (("5^12", "o", "$5^{12}$"), ("5^12-6^2", "s", "$5^{12}6^{2}$")):
        m = a.arrays["kind"] == kind
        if m.any():
            top.scatter(z[m], pos[m, 0] % lx, s=70, facecolors="none", edgecolors="k", linewidths=0.9,
                        marker=marker, label="closed %s cage (%d)" % (tex, m.sum()))
    top.set_xlim(0, lz)
    top.set_ylim(0, lx)
    top.set_aspect("equal")
    top.set_ylabel("x (Å)")
    top.set_title("sI methane hydrate slab (middle) between layers of its melt, TIP4P/2005 at 250/270 K:\n"
                  "water oxygens seen along y, coloured by CHILL+ label (kavet -oview)", fontsize=9)
    top.legend(fontsize=7, loc="upper center", bbox_to_anchor=(0.5, -0.02), ncol=4, frameon=False)

    edges = np.arange(0, lz + 1.5, 1.5)
    centre = 0.5 * (edges[1:] + edges[:-1])
    total = np.histogram(z[water], edges)[0].clip(min=1)
    for value, name, colour in LABELS:
        share = np.histogram(z[water & (chill == value)], edges)[0] / total
        if share.any():
            bottom.plot(centre, share, color=colour, lw=1.8, label=name)
    for ax in (top, bottom):  # where the melt began
        for plane in (lz / 4, 3 * lz / 4):
            ax.axvline(plane, color="k", lw=0.8, ls="--", alpha=0.6)
    bottom.set_xlabel("z (Å); dashed: the planes between the held slab and the melted layers")
    bottom.set_ylabel("share of waters")
    bottom.set_ylim(0, 1)
    bottom.set_xlim(0, lz)
    fig.subplots_adjust(hspace=0.45)
    fig.savefig(args.output, dpi=110, bbox_inches="tight")
    print("wrote", args.output)


if __name__ == "__main__":
    main()

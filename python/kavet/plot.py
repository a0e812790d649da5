"""Cage names as a paper prints them, and matplotlib plots of kavet's tables.

    import kavet.plot
    kavet.plot.cage_name("5^12-6^2")                 # '5¹²6²'
    kavet.plot.cage_name("5^12-6^2", "mathtext")     # '$5^{12}6^{2}$'
    kavet.plot.series(table)                         # closed cages by type against time, F4 below
    kavet.plot.positions(xyz, labels)                # waters coloured by their CHILL+ label

Needs matplotlib (Debian's python3-matplotlib) for the plots; the names need nothing.
"""
import re

import numpy as np

_TYPE = re.compile(r"\d+\^\d+(?:-\d+\^\d+)*")
_SUPERSCRIPT = str.maketrans("0123456789", "⁰¹²³⁴⁵⁶⁷⁸⁹")
# Colours of the CHILL+ labels, by code (kavet.ChillLabel).
CHILL_COLOURS = ["#bdbdbd", "#1f77b4", "#17becf", "#9467bd", "#d62728", "#ff9896"]


def cage_name(name, style="unicode"):
    """A cage or cup type written with superscripts: "5^12-6^2" -> "5¹²6²" (style="unicode") or
    "$5^{12}6^{2}$" (style="mathtext", for matplotlib). Other text in `name` is kept, so column names
    work too: "occupied_5^12" -> "occupied 5¹²"."""
    if style not in ("unicode", "mathtext"):
        raise ValueError(f"style= is 'unicode' or 'mathtext', not {style!r}")

    def faces(match):
        pairs = re.findall(r"(\d+)\^(\d+)", match.group(0))
        if style == "unicode":
            return "".join(n + k.translate(_SUPERSCRIPT) for n, k in pairs)
        return "$" + "".join(f"{n}^{{{k}}}" for n, k in pairs) + "$"

    return _TYPE.sub(faces, name).replace("_", " ")


def cage_types(table):
    """The cage-type columns of a series table (5^12, 5^12-6^2, ...), in table order."""
    return [c for c in table.columns if _TYPE.fullmatch(c)]


def series(table, columns=None, ax=None, f4=True):
    """Closed cages (and each cage type that occurs) against time_ps, and F4 in a panel below when the
    table has F4 values. Returns the matplotlib axes."""
    import matplotlib.pyplot as plt

    if columns is None:
        columns = ["closed"] + [c for c in cage_types(table) if table[c].any()]
    show_f4 = f4 and "f4" in table and table["f4"].notna().any()
    if ax is None:
        _, axes = plt.subplots(2 if show_f4 else 1, 1, sharex=True, figsize=(6.4, 4.8 if show_f4 else 3.2),
                               squeeze=False)
        axes = list(axes[:, 0])
    else:
        axes = [ax]
        show_f4 = False
    for c in columns:
        axes[0].plot(table["time_ps"], table[c], label=cage_name(c, "mathtext"))
    axes[0].set_ylabel("closed cages")
    axes[0].legend(frameon=False)
    if show_f4:
        axes[1].plot(table["time_ps"], table["f4"], color="k")
        axes[1].set_ylabel("$F_4$")
    axes[-1].set_xlabel("time (ps)")
    return axes


def positions(xyz, labels, ax=None, axes=(0, 1), size=12):
    """Water positions (n, 3, angstrom) projected on two axes, coloured by CHILL+ label code."""
    import matplotlib.pyplot as plt

    from . import ChillLabel

    if ax is None:
        _, ax = plt.subplots(figsize=(5, 5))
    xyz, labels = np.asarray(xyz), np.asarray(labels)
    for label in ChillLabel:
        mine = labels == label
        if mine.any():
            ax.scatter(xyz[mine, axes[0]], xyz[mine, axes[1]], s=size, color=CHILL_COLOURS[label],
                       label=f"{label.name.lower().replace('_', ' ')} ({mine.sum()})")
    ax.set_xlabel(f"{'xyz'[axes[0]]} (Å)")
    ax.set_ylabel(f"{'xyz'[axes[1]]} (Å)")
    ax.set_aspect("equal")
    ax.legend(frameon=False, fontsize="small", loc="upper left", bbox_to_anchor=(1, 1))
    return ax

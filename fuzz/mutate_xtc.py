#!/usr/bin/env python3
"""Random small changes to an .xtc file, each run through `kavet -t`.

Every trial changes 1 to 4 random bytes of the file and runs a series over
it. A run passes when it ends with status 1 and a message naming the file,
or with status 0 and one row per frame, where every frame whose bytes were
left alone gives the same row as in the unchanged file and no value is
nan or inf. Anything else (a signal, another status, a silent failure, a
wrong row) is a fault; the changed file is kept for each fault.

    fuzz/mutate_xtc.py --kavet build/release/kavet --structure examples/si-2x2x2.gro \\
        --xtc melting.xtc --trials 1000
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile


def frame_ranges(data):
    """(start, end) of every frame of a sound .xtc file."""
    ranges, at = [], 0
    while at < len(data):
        natoms = struct.unpack(">i", data[at + 4:at + 8])[0]
        if natoms <= 9:
            end = at + 56 + 12 * natoms
        else:
            count = struct.unpack(">i", data[at + 88:at + 92])[0]
            end = at + 92 + (count + 3) // 4 * 4
        ranges.append((at, end))
        at = end
    return ranges


def run(kavet, structure, xtc, workdir):
    for name in os.listdir(workdir):
        if name != os.path.basename(xtc):
            os.remove(os.path.join(workdir, name))
    p = subprocess.run([kavet, "-f", structure, "-t", xtc, "-ot", "s.csv", "-nt", "1"], cwd=workdir,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    rows = None
    series = os.path.join(workdir, "s.csv")
    if p.returncode == 0 and os.path.exists(series):
        with open(series) as f:
            rows = f.read().splitlines()[1:]
    return p.returncode, p.stdout.decode(errors="replace"), rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kavet", required=True)
    parser.add_argument("--structure", required=True)
    parser.add_argument("--xtc", required=True)
    parser.add_argument("--trials", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", default="mutate-faults", help="directory for the files of faulty runs")
    args = parser.parse_args()
    kavet, structure = os.path.abspath(args.kavet), os.path.abspath(args.structure)
    with open(args.xtc, "rb") as f:
        original = f.read()
    ranges = frame_ranges(original)
    rng = random.Random(args.seed)
    counts = {"refused": 0, "read": 0, "fault": 0}
    with tempfile.TemporaryDirectory() as workdir:
        xtc = os.path.join(workdir, "t.xtc")
        with open(xtc, "wb") as f:
            f.write(original)
        code, err, reference = run(kavet, structure, xtc, workdir)
        if code != 0 or reference is None or len(reference) != len(ranges):
            sys.exit("the unchanged file does not read: status %d\n%s" % (code, err))
        for trial in range(args.trials):
            data = bytearray(original)
            changed = set()
            for _ in range(rng.randint(1, 4)):
                at = rng.randrange(len(data))
                data[at] = (data[at] + rng.randrange(1, 256)) % 256
                changed.add(at)
            with open(xtc, "wb") as f:
                f.write(data)
            code, err, rows = run(kavet, structure, xtc, workdir)
            fault = None
            if code == 1:
                if xtc not in err:
                    fault = "status 1 without a message naming the file"
            elif code != 0:
                fault = "status %d: %s" % (code, err[-300:])
            elif rows is None or len(rows) != len(ranges):
                fault = "status 0 with %s rows for %d frames" % (None if rows is None else len(rows), len(ranges))
            else:
                for k, (start, end) in enumerate(ranges):
                    if "nan" in rows[k] or "inf" in rows[k]:
                        fault = "frame %d: %s" % (k, rows[k])
                    elif not any(start <= c < end for c in changed) and rows[k] != reference[k]:
                        fault = "frame %d left alone, but its row changed: %s" % (k, rows[k])
            if fault:
                counts["fault"] += 1
                os.makedirs(args.keep, exist_ok=True)
                kept = os.path.join(args.keep, "trial-%d.xtc" % trial)
                shutil.copy(xtc, kept)
                print("trial %d (bytes %s): %s; kept as %s" % (trial, sorted(changed), fault, kept), flush=True)
            else:
                counts["refused" if code == 1 else "read"] += 1
    print("%d trials: %d refused with a message (status 1), %d read whole (status 0), %d faults"
          % (args.trials, counts["refused"], counts["read"], counts["fault"]))
    sys.exit(1 if counts["fault"] else 0)


if __name__ == "__main__":
    main()

#!/bin/sh
# Makes the thermal frames and the interface frame of docs/thermal-frames.md
# and counts their cages with kavet in every mode.
#
#   sh examples/thermal/run.sh [KAVET] [OUT]   (from the repository root)
#
# Needs Debian's lammps package (lmp). Everything goes to OUT (default
# build/thermal/). The runs of -thermal's figures (crystals at 260 and 280 K,
# a supercooled liquid, a heating ramp, all at 100 bar) take about 25
# minutes of CPU, last round's heating run about 5, the interface run about 3.
set -e
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
KAVET=${1:-$ROOT/build/release/kavet}
HERE=$ROOT/examples/thermal
OUT=${2:-$ROOT/build/thermal}
mkdir -p "$OUT"
cd "$OUT"

# 2x2x2 sI with a methane in every cage: 368 waters, 64 methanes.
python3 "$ROOT/tools/lattice.py" --structure sI --cells 2 2 2 --guests 1 -o si222.gro
python3 "$HERE/make_data.py" si222.gro si222.data

# -thermal's figures: crystals held at 260 and 280 K, a supercooled liquid
# with 8 methanes, heating through melting; every mode of modes.py on each.
python3 "$ROOT/tools/lattice.py" --structure sI --cells 2 2 2 --guests 0.125 --seed 8 -o si222-8.gro
python3 "$HERE/make_data.py" si222-8.gro si222-8.data
export OMP_NUM_THREADS=1
lmp -in "$HERE/in.hold" -var data si222.data -var temp 260.0 -var dump hold260.dump -log hold260.log > /dev/null
python3 "$HERE/dump2gro.py" hold260.dump hold260.gro
lmp -in "$HERE/in.liquid" -var data si222-8.data -var kacc 1.0e-4 -var dump liquid260.dump -log liquid260.log > /dev/null
python3 "$HERE/dump2gro.py" liquid260.dump liquid260.gro
tail -n 1171 hold260.gro > hold260-last.gro
python3 "$HERE/make_data.py" hold260-last.gro hold260-last.data
lmp -in "$HERE/in.hold" -var data hold260-last.data -var kacc 1.0e-4 -var temp 280.0 -var nsettle 500 -var neq 2000 \
    -var dump hold280.dump -log hold280.log > /dev/null
python3 "$HERE/dump2gro.py" hold280.dump hold280.gro
lmp -in "$HERE/in.ramp" -var data hold260-last.data -var kacc 1.0e-4 -var thigh 520.0 -var nramp 25000 -var nhold 0 \
    -var dump ramp.dump -log ramp.log > /dev/null
python3 "$HERE/dump2gro.py" ramp.dump ramp.gro
for tol in 0 2; do
    python3 "$HERE/modes.py" "$KAVET" hold260.gro --kind crystal --tol $tol --out modes-260-tol$tol
    python3 "$HERE/modes.py" "$KAVET" hold280.gro --kind crystal --tol $tol --out modes-280-tol$tol
done
python3 "$HERE/modes.py" "$KAVET" liquid260.gro --kind liquid --out modes-liquid
python3 "$HERE/modes.py" "$KAVET" ramp.gro --kind heating --out modes-ramp

# Last round's run: NPT at 250 K and 1 atm, then heating at constant volume.
lmp -in "$HERE/in.heat" -var data si222.data -log heat.log > /dev/null
python3 "$HERE/dump2gro.py" heat.dump heat.gro

# Closed cages per frame: the default network, distance only, a wider angle.
"$KAVET" -f heat.gro -t heat.gro -ot default.csv > /dev/null
"$KAVET" -f heat.gro -t heat.gro -ot nohyd.csv -nohyd > /dev/null
"$KAVET" -f heat.gro -t heat.gro -ot angle40.csv -hb 3.5 40 > /dev/null
"$KAVET" -f heat.gro -t heat.gro -ot angle45.csv -hb 3.5 45 > /dev/null
python3 "$HERE/table.py" default.csv nohyd.csv angle40.csv angle45.csv

# 2x2x4 sI, its outer half melted: the interface frame.
python3 "$ROOT/tools/lattice.py" --structure sI --cells 2 2 4 --guests 1 -o si224.gro
python3 "$HERE/make_data.py" si224.gro si224.data
lmp -in "$HERE/in.interface" -var data si224.data -log interface.log > /dev/null
python3 "$HERE/dump2gro.py" interface.dump interface.gro

#!/bin/sh
# Makes the thermal frames and the interface frame of docs/thermal-frames.md
# and counts their cages with kavet on three networks.
#
#   sh examples/thermal/run.sh [KAVET]      (from the repository root)
#
# Needs Debian's lammps package (lmp). Everything goes to build/thermal/.
# The heating run takes about 5 minutes of CPU, the interface run about 3.
set -e
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
KAVET=${1:-$ROOT/build/release/kavet}
HERE=$ROOT/examples/thermal
OUT=$ROOT/build/thermal
mkdir -p "$OUT"
cd "$OUT"

# 2x2x2 sI with a methane in every cage: 368 waters, 64 methanes.
python3 "$ROOT/tools/lattice.py" --structure sI --cells 2 2 2 --guests 1 -o si222.gro
python3 "$HERE/make_data.py" si222.gro si222.data
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

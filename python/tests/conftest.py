import os
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

ROOT = Path(__file__).resolve().parents[2]
STRUCTURE = ROOT / "examples" / "si-2x2x2.gro"
MELTING = ROOT / "examples" / "si-2x2x2-melting.gro"


def gro_frames(path):
    """(positions in angstrom, box lengths in angstrom, time) of every frame of a .gro file, in single
    precision as kavet's reader converts them (float nm times 10)."""
    lines = Path(path).read_text().splitlines()
    frames, i = [], 0
    while i < len(lines):
        n = int(lines[i + 1])
        atoms = lines[i + 2:i + 2 + n]
        ten = np.float32(10)
        xyz = np.array([[a[20 + 8 * k:28 + 8 * k] for k in range(3)] for a in atoms], dtype=np.float32) * ten
        box = np.array(lines[i + 2 + n].split()[:3], dtype=np.float32) * ten
        time = float(lines[i].split("t=")[1].split()[0]) if "t=" in lines[i] else 0.0
        frames.append((xyz, box, time))
        i += n + 3
    return frames


@pytest.fixture(scope="session")
def kavet_binary():
    binary = os.path.abspath(os.environ.get("KAVET_BINARY", ROOT / "build" / "release" / "kavet"))
    if not Path(binary).exists():
        pytest.skip(f"no kavet program at {binary} (set KAVET_BINARY)")
    return binary


def cli_table(binary, work, structure, trajectory, *options):
    """The command line's -ot table of a series run, in the folder `work`."""
    subprocess.run([binary, "-f", str(structure), "-t", str(trajectory), "-ot", "series.csv", *options],
                   cwd=work, check=True, capture_output=True)
    return pd.read_csv(Path(work) / "series.csv")


@pytest.fixture(scope="session")
def cli_series(tmp_path_factory, kavet_binary):
    """The command line's -ot table of the bundled melting trajectory."""
    return cli_table(kavet_binary, tmp_path_factory.mktemp("cli"), STRUCTURE, MELTING, "-nt", "2")

"""kavet.series runs the library's series run: the command line's CSV on every kind of input, and its
refusals and warnings as ValueError and RuntimeWarning."""
import shutil
import signal
import subprocess
import sys
import time
import warnings

import pandas as pd
import pytest

import kavet
from conftest import MELTING, ROOT, STRUCTURE, cli_table


def lattice(path, *args):
    subprocess.run([sys.executable, str(ROOT / "tools" / "lattice.py"), "--structure", "sI", "--cells", "2", "2",
                    "2", "--frames", "3", "--seed", "3", *args, "-o", str(path)], check=True)
    lines = path.read_text().splitlines(keepends=True)
    first = path.with_name(path.stem + "0.gro")
    first.write_text("".join(lines[:int(lines[1]) + 3]))
    return first


def group(name, first, last):
    numbers = [str(a) for a in range(first, last + 1)]
    return f"[ {name} ]\n" + "\n".join(" ".join(numbers[k:k + 15]) for k in range(0, len(numbers), 15)) + "\n"


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    d = tmp_path_factory.mktemp("inputs")
    files = {"structure": STRUCTURE, "melting": MELTING}
    files["guest0"] = lattice(d / "guest.gro", "--guests", "1", "--disorder", "0.3")
    files["guest"] = d / "guest.gro"
    files["tric0"] = lattice(d / "tric.gro", "--guests", "0.5", "--disorder", "0.2", "--shear", "xy")
    files["tric"] = d / "tric.gro"
    (d / "idx.ndx").write_text(group("Water", 1, 1104) + group("Guests", 1105, 1168))
    files["idx"] = d / "idx.ndx"
    if shutil.which("gmx"):
        subprocess.run(["gmx", "trjconv", "-f", str(MELTING), "-s", str(STRUCTURE), "-o", str(d / "melting.xtc")],
                       input=b"0\n", check=True, capture_output=True)
        files["xtc"] = d / "melting.xtc"
    return files


# (structure, trajectory, command-line options, keywords)
CASES = {
    "melting": ("structure", "melting", ["-nt", "2"], {"nt": 2}),
    "xtc": ("structure", "xtc", ["-b", "20", "-dt", "20"], {"b": 20, "dt": 20}),
    "guests": ("guest0", "guest", ["-guest", "CH4", "-tol", "2"], {"guest": "CH4", "tol": 2}),
    "groups": ("guest0", "guest", ["-n", "{idx}", "-wat-group", "Water", "-guest-group", "Guests"],
               {"n": "{idx}", "wat_group": "Water", "guest_group": "Guests"}),
    "one-site": ("structure", "melting", ["-nohyd", "-e", "30", "-qbar", "8,2"],
                 {"nohyd": True, "e": 30, "qbar": (8, 2)}),
    "triclinic": ("tric0", "tric", ["-guest", "CH4", "-hb", "3.5", "40", "-ring", "4", "8", "100"],
                  {"guest": "CH4", "hb": (3.5, 40), "ring": (4, 8, 100)}),
}


@pytest.mark.parametrize("case", CASES)
def test_series_equals_the_command_lines_csv(tmp_path, kavet_binary, inputs, case):
    structure, trajectory, args, keywords = CASES[case]
    if trajectory not in inputs:
        pytest.skip("no gmx to write the .xtc")
    args = [a.format(**inputs) for a in args]
    keywords = {k: v.format(**inputs) if isinstance(v, str) else v for k, v in keywords.items()}
    cli = cli_table(kavet_binary, tmp_path, inputs[structure], inputs[trajectory], *args)
    table = kavet.series(inputs[structure], inputs[trajectory], **keywords)
    # The CSV rounds real numbers to 6 decimals and times to the decimals the trajectory carries.
    pd.testing.assert_frame_equal(table, cli, check_dtype=False, check_exact=False, rtol=0, atol=1e-6)
    reals = ("time_ps", "f4", "volume", "f3", "q_tet")
    kinds = {c: ("float64" if c in reals or c.startswith("qbar_") else "int64") for c in cli.columns}
    assert {c: str(t) for c, t in table.dtypes.items()} == kinds


# (case, the files' command-line options, keywords): every table a series run writes.
FILE_CASES = {
    "melting": (["-thermal", "-ocages", "cages.jsonl", "-olife", "life.csv", "-oview", "view.xyz",
                 "-oclusters", "clusters.csv", "-oprofile", "profile.csv", "-profile", "x", "3"],
                {"thermal": True, "profile": ("x", 3)}),
    "guests": (["-ocages", "cages.csv", "-oguests", "guests.csv", "-olife", "life.csv", "-oview", "view.extxyz",
                "-oclusters", "clusters.csv", "-oprofile", "profile.csv"], {}),
}


@pytest.mark.parametrize("case", FILE_CASES)
def test_series_files_and_tables_equal_the_command_lines(tmp_path, kavet_binary, inputs, case, capsys):
    structure, trajectory, args, keywords = CASES[case]
    files, more = FILE_CASES[case]
    (tmp_path / "cli").mkdir()
    cli = cli_table(kavet_binary, tmp_path / "cli", inputs[structure], inputs[trajectory], *args, *files)
    named = {o[1:]: f for o, f in zip(files, files[1:]) if o.startswith("-o")}
    # Written where a path is given: the command line's files, byte for byte.
    got = kavet.series(inputs[structure], inputs[trajectory], **keywords, **more, ot=tmp_path / "series.csv",
                       **{k: tmp_path / f for k, f in named.items()}, per_water=True, verbose=True)
    for name in ["series.csv", "series~types.csv", *named.values()]:
        assert (tmp_path / name).read_bytes() == (tmp_path / "cli" / name).read_bytes(), name
    assert f"{len(cli)} frames" in capsys.readouterr().err
    # As tables: the files as kavet.read_table reads them.
    tables = kavet.series(inputs[structure], inputs[trajectory], **keywords, **more,
                          **{k: True for k in named if k != "oview"})
    pd.testing.assert_frame_equal(tables.rows, got.rows)
    for keyword, attribute in (("ocages", "cages"), ("oguests", "residence"), ("olife", "lifetimes"),
                               ("oclusters", "clusters"), ("oprofile", "profile")):
        if keyword not in named:
            assert getattr(tables, attribute) is None
            continue
        expected = kavet.read_table(tmp_path / "cli" / named[keyword])
        assert len(expected) > 0
        pd.testing.assert_frame_equal(getattr(tables, attribute), expected)
    # The per-water arrays are the water columns of the view file, frame by frame.
    lines = (tmp_path / "cli" / named["oview"]).read_text().splitlines()
    header = lines[1].split("Properties=")[1].split()[0].split(":")
    columns = [header[k] for k in range(0, len(header), 3) for _ in range(int(header[k + 2]))]
    waters, at = got.chill.shape[1], 0
    for k in range(len(cli)):
        rows = [l.split() for l in lines[at + 2:at + 2 + waters]]
        at += int(lines[at]) + 2
        view = {c: [r[j] for r in rows] for j, c in enumerate(columns) if c in ("chill", "cages") or "_" in c or
                c.startswith("f")}
        assert view["chill"] == [str(v) for v in got.chill[k]]
        assert view["cages"] == [str(v) for v in got.closed_cages[k]]
        for name, array in [("f4", got.f4), ("f3", got.f3), ("q_tet", got.q_tet)] + [
                (f"qbar_{l}", a) for l, a in got.qbar.items()]:
            assert [float(v) for v in view[name]] == pytest.approx(array[k], abs=1e-6, nan_ok=True), name
    assert at == len(lines)


def test_refusals_and_warnings_name_the_keywords():
    refused = [({"guest": "SOL"}, ValueError, "guest='SOL' selects the waters"),
               ({"b": 5000}, ValueError, "no frame analysed: b=5000 selects none"),
               ({"hb": "35"}, ValueError, "hb= takes 2 numbers"),
               ({"wat_group": "Water"}, ValueError, "need the index file: give it with n="),
               ({"cages": True}, TypeError, "unknown keyword cages="),
               ({"ocages": "c.txt"}, ValueError, "ocages='c.txt': the file is written as CSV"),
               ({"oguests": True}, ValueError, "oguests= needs the guests"),
               ({"oview": True}, ValueError, "oview= takes the path")]
    for keywords, error, message in refused:
        with pytest.raises(error, match=message):
            kavet.series(STRUCTURE, MELTING if "b" in keywords else STRUCTURE, **keywords)
    for keywords, message in [({"wat": "XXX"}, "wat='XXX' oxy='OW' select no water oxygen"),
                              ({"hb": (0.35, 30)}, "no hydrogen bond .* with hb=\\(0.35, 30\\)")]:
        with pytest.warns(RuntimeWarning, match=message):
            kavet.series(STRUCTURE, STRUCTURE, **keywords)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        kavet.series(STRUCTURE, STRUCTURE)


def test_ctrl_c_stops_a_series_between_frames(tmp_path):
    """SIGINT during a run of 480 frames (some 25 s on one core) raises KeyboardInterrupt within seconds."""
    trajectory = tmp_path / "long.gro"
    trajectory.write_text(MELTING.read_text() * 40)
    script = f"import kavet; print('go', flush=True); kavet.series({str(STRUCTURE)!r}, {str(trajectory)!r}, nt=1)"
    run = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert run.stdout.readline() == "go\n"
        time.sleep(1)
        run.send_signal(signal.SIGINT)
        _, err = run.communicate(timeout=10)
    finally:
        run.kill()
    assert run.returncode != 0 and err.rstrip().endswith("KeyboardInterrupt"), err

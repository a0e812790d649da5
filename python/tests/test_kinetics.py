"""kavet.kinetics on data from stochastic models whose answers are known."""
import json

import numpy as np
import pandas as pd
import pytest

pytest.importorskip("scipy")
from kavet import kinetics  # noqa: E402

VOLUME = 8000.0  # A^3, 8 nm^3


def waiting_runs(rng, runs, rate, lag, length, dt=10.0):
    """Series of runs whose largest cluster jumps above 20 after the lag plus an exponential wait (rate in
    nm^-3 ns^-1), with a one-frame spike to 25 before it that a hold of 30 ps must ignore."""
    k = rate * VOLUME * 1e-6  # per ps
    out = {}
    for i in range(runs):
        when = lag + rng.exponential(1 / k)
        t = np.arange(0, length + dt / 2, dt)
        y = np.where(t >= when, 40, rng.integers(0, 5, len(t)))
        spike = rng.integers(0, len(t))
        if t[spike] < when - dt:
            y[spike] = 25
        out[f"run{i}"] = pd.DataFrame({"time_ps": t, "largest_cluster": y, "volume": VOLUME})
    return out


def test_survival_rate_with_lag_and_censoring():
    rng = np.random.default_rng(1)
    rate, lag = 0.05, 300.0
    # 200 runs, long enough that all nucleate: J within 10 %, the spikes ignored, the lag found.
    times = kinetics.induction_times(waiting_runs(rng, 200, rate, lag, 40000.0), threshold=20, hold=30)
    assert not times["censored"].any()
    fit = kinetics.survival_rate(times)
    assert abs(fit.J / rate - 1) < 0.10 and fit.J_low < rate < fit.J_high
    assert abs(fit.t0 - lag) < 30
    # Runs cut at a length where a third has not nucleated: the censored fit keeps the rate within its
    # interval; dropping the censored runs overestimates it, beyond its own interval.
    length = lag + np.log(3) / (rate * VOLUME * 1e-6)
    times = kinetics.induction_times(waiting_runs(rng, 200, rate, lag, length), threshold=20, hold=30)
    assert 0.25 < times["censored"].mean() < 0.42
    fit = kinetics.survival_rate(times)
    dropped = kinetics.survival_rate(times[~times["censored"]])
    assert fit.J_low < rate < fit.J_high
    assert dropped.J_low > rate and dropped.J > 1.5 * rate


def test_induction_time_hold_and_end_censoring():
    t = np.arange(0.0, 100.0, 10.0)
    y = np.array([0, 5, 0, 6, 6, 6, 6, 0, 6, 6])
    assert kinetics.induction_time(t, y, 5, hold=0) == (10.0, False)
    assert kinetics.induction_time(t, y, 5, hold=30) == (30.0, False)
    # A hold longer than any stay: censored where a whole hold could last have been seen.
    assert kinetics.induction_time(t, y, 5, hold=40) == (50.0, True)


def birth_death(barrier, n_star, n_max, f=0.5):
    """Up and down probabilities per step (1 ps) of a chain over the free energy
    barrier * (3 x^2 - 2 x^3), x = n / n_star (in kT), with Metropolis rates."""
    x = np.arange(n_max + 1) / n_star
    dg = np.diff(barrier * (3 * x ** 2 - 2 * x ** 3))
    return f * np.minimum(1, np.exp(-dg)), f * np.minimum(1, np.exp(dg))


def exact_mfpt(up, down):
    """The exact mean first-passage time (steps) from 0 to each size of the chain: the wait to step from k to
    k + 1 is w_k = (1 + d_k w_(k-1)) / u_k, with d_k the chance to step down from k."""
    waits, w = [], 0.0
    for k, u in enumerate(up):
        w = (1 + (down[k - 1] * w if k else 0.0)) / u
        waits.append(w)
    return np.r_[0.0, np.cumsum(waits)]


def chain_frames(rng, up, down, runs, every):
    """Sizes of `runs` chains from 0, one frame every `every` steps, until every run has reached the end."""
    p_up, p_any = np.r_[up, 0], np.r_[up, 0] + np.r_[0, down]
    state, best, frames = np.zeros(runs, np.int64), np.zeros(runs, np.int64), []
    while (best < len(up)).any():
        for u in rng.random((every, runs)):
            state = state + (u < p_up[state]) - ((u >= p_up[state]) & (u < p_any[state]))
            best = np.maximum(best, state)
        frames.append(state.copy())
    return np.array(frames)


def chain_series(frames, every):
    t = every * np.arange(1, len(frames) + 1, dtype=float)
    return {i: pd.DataFrame({"time_ps": t, "largest_cluster": frames[:, i], "volume": VOLUME})
            for i in range(frames.shape[1])}


def test_mfpt_birth_death_chain():
    """150 runs over a 4 kT barrier at 15, watched every step and (the same runs) every 5 and 10 steps: J within
    20 % and n* within 2 sizes; n* and its interval hold the inflection that the fit gives to the exact
    tau(n), at every spacing, where the sampled curve's inflection falls by more than a size."""
    up, down = birth_death(4.0, 15, 30)
    exact = exact_mfpt(up, down)
    true_j = 1 / (exact[-1] * 1e-3 * VOLUME * 1e-3)
    _, true_n_star, _ = kinetics._wsr_fit(np.arange(len(exact), dtype=float), exact)
    frames = chain_frames(np.random.default_rng(0), up, down, 150, 1)
    found = {}
    for every in (1, 5, 10):
        fit = kinetics.mfpt(chain_series(frames[every - 1::every], every), bootstrap=40)
        assert abs(fit.J / true_j - 1) < 0.20 and abs(fit.n_star - 15) <= 2
        lo, hi = fit.intervals["n_star"]
        assert lo < true_n_star < hi and fit.intervals["J"][0] < fit.J < fit.intervals["J"][1]
        found[every] = fit
    assert found[1].n_star_shift < 0.1 and found[10].n_star_sampled < true_n_star - 1
    assert abs(found[10].n_star - found[1].n_star) < 0.3 and abs(found[5].n_star - found[1].n_star) < 0.3


def moving_slab(rng, speed):
    """A profile (30 slabs of 2 A) of a hydrate slab whose ends both move up at `speed` A/ps."""
    rows = []
    for frame, t in enumerate(np.arange(0, 2001, 25.0)):
        lo, hi = 16 + speed * t, 36 + speed * t
        for s in range(30):
            x = (s + 0.5) * 2
            d = (x - lo) % 60  # periodic: the slab may cross the cell's edge
            clathrate = rng.binomial(30, 0.9 if d < hi - lo else 0.05)
            rows.append((frame, t, s, x, clathrate, 0, 30 - clathrate, 0))
    return pd.DataFrame(rows, columns=["frame", "time_ps", "slab", "position", "chill_clathrate",
                                       "chill_interfacial_clathrate", "chill_liquid", "cages"])


def test_fronts_and_command_line(tmp_path, capsys):
    # The slab moves up by 0.01 A/ps = 1 nm/ns and wraps: its high end grows, its low end melts.
    profile = tmp_path / "profile" / "slabs.csv"
    profile.parent.mkdir()
    moving_slab(np.random.default_rng(3), 0.01).to_csv(profile, index=False)
    moving_slab(np.random.default_rng(3), 0.01).to_csv(tmp_path / "slabs.csv", index=False)
    assert kinetics.main(["front", str(profile), "--json", "--plot", str(tmp_path)]) == 0
    out = json.loads(capsys.readouterr().out)
    assert out["unit"] == "nm/ns" and len(out["fronts"]) == 2
    for front, sign in zip(out["fronts"], (-1, 1)):
        assert abs(front["velocity"] - sign) < 0.1
        assert front["velocity_low"] < front["velocity"] < front["velocity_high"]
    # A folder of series files, CSV and .xvg, in one command: the table and the plots.
    runs = waiting_runs(np.random.default_rng(5), 30, 0.05, 100.0, 4000.0)
    for name, table in list(runs.items())[:15]:
        table.to_csv(tmp_path / f"{name}.csv", index=False)
    for name, table in list(runs.items())[15:]:
        with open(tmp_path / f"{name}.xvg", "w") as f:
            f.write('# kavet\n@ s0 legend "largest_cluster"\n@ s1 legend "volume"\n')
            for r in table.itertuples():
                f.write(f"{r.time_ps}  {r.largest_cluster}  {r.volume}\n")
    (tmp_path / "run0~types.csv").write_text("frame,time_ps,type,closed,count\n")
    assert kinetics.main(["rate", str(tmp_path), "--threshold", "20", "--hold", "20", "--json"]) == 0
    out = json.loads(capsys.readouterr().out)
    assert {"J", "J_low", "J_high", "unit", "t0", "runs", "censored"} <= set(out) and out["runs"] == 30
    assert kinetics.main(["rate", str(tmp_path), "--threshold", "20", "--plot", str(tmp_path)]) == 0
    table = capsys.readouterr().out
    assert "run29.xvg" in table and "nm^-3 ns^-1" in table
    assert kinetics.main(["mfpt", str(tmp_path), "--json", "--bootstrap", "5", "--plot", str(tmp_path)]) == 0
    assert {"J", "n_star", "n_star_low", "n_star_high", "Z", "tau_J"} <= set(json.loads(capsys.readouterr().out))
    assert all((tmp_path / p).stat().st_size > 10000 for p in ("survival.png", "mfpt.png", "fronts.png"))
    assert kinetics.main(["rate", str(profile), "--threshold", "1"]) == 1
    assert "no column largest_cluster" in capsys.readouterr().err


def test_growth_front_of_a_moving_hydrate_slab(tmp_path, kavet_binary):
    """sI frames whose waters outside [26 - v t, 46 + v t] A (along z of a 72 A cell) are moved and turned at
    random: kavet's -oprofile and the fronts give the hydrate's growth speed v on both sides."""
    import subprocess

    from conftest import ROOT

    structure = tmp_path / "si.gro"
    subprocess.run(["/usr/bin/python3", str(ROOT / "tools" / "lattice.py"), "--cells", "1", "1", "6", "-o",
                    str(structure)], check=True, capture_output=True)
    lines = structure.read_text().splitlines()
    atoms = lines[2:-1]
    xyz = np.array([[float(a[20 + 8 * k:28 + 8 * k]) for k in range(3)] for a in atoms]) * 10
    water = xyz.reshape(-1, 3, 3)  # OW, HW1, HW2 of each water
    speed = 0.02  # A/ps: 2 nm/ns
    rng = np.random.default_rng(4)
    frames = []
    for k in range(21):
        t = 50.0 * k
        lo, hi = 26 - speed * t, 46 + speed * t
        w = water.copy()
        melt = (w[:, 0, 2] < lo) | (w[:, 0, 2] > hi)
        q = rng.normal(size=(melt.sum(), 4))
        q /= np.linalg.norm(q, axis=1)[:, None]
        a, b, c, d = q.T
        rot = np.array([[a*a+b*b-c*c-d*d, 2*(b*c-a*d), 2*(b*d+a*c)], [2*(b*c+a*d), a*a-b*b+c*c-d*d, 2*(c*d-a*b)],
                        [2*(b*d-a*c), 2*(c*d+a*b), a*a-b*b-c*c+d*d]]).transpose(2, 0, 1)
        centre = w[melt, :1, :]
        w[melt] = np.einsum("nij,nkj->nki", rot, w[melt] - centre) + centre
        cell = np.array([12.0, 12.0, 72.0])
        for n in np.flatnonzero(melt):  # moved by up to 1.5 A where no oxygen comes within 2.3 A of another
            for _ in range(20):
                step = rng.uniform(-1.5, 1.5, 3)
                d = w[:, 0] - (w[n, 0] + step)
                d -= cell * np.round(d / cell)
                r = np.linalg.norm(d, axis=1)
                r[n] = np.inf
                if r.min() > 2.3:
                    w[n] += step
                    break
        body = [a[:20] + "".join(f"{v / 10:8.3f}" for v in p) for a, p in zip(atoms, w.reshape(-1, 3))]
        frames.append("\n".join([f"moving slab t= {t:.1f}", lines[1], *body, lines[-1]]))
    (tmp_path / "traj.gro").write_text("\n".join(frames) + "\n")
    subprocess.run([kavet_binary, "-f", str(structure), "-t", "traj.gro", "-ot", "s.csv", "-oprofile", "p.csv",
                    "-profile", "z", "2", "-nt", "2"], cwd=tmp_path, check=True, capture_output=True)
    profile = kinetics.read_profile(tmp_path / "p.csv")
    assert len(profile) == 21 * 36 and profile.groupby("frame")["cages"].sum().iloc[-1] > 0
    assert (pd.read_csv(tmp_path / "s.csv")["volume"].round(1) == 12 * 12 * 72).all()
    # The Python counterpart gives the command line's lines of a frame.
    (tmp_path / "last.gro").write_text(frames[-1] + "\n")
    import kavet
    last = kinetics.profile(kavet.analyse(kavet.read_gro(tmp_path / "last.gro")), "z", 2, frame=20)
    pd.testing.assert_frame_equal(last, profile[profile["frame"] == 20].reset_index(drop=True))
    found = kinetics.fronts(profile)
    assert [f.side for f in found] == ["low", "high"]
    for f in found:
        assert abs(f.velocity / 2.0 - 1) < 0.10, f.velocity

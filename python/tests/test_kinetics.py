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


def exact_passage(up, down):
    """The exact mean first-passage time (steps) from 0 to the chain's last state."""
    m = len(up)
    a = np.eye(m) - np.diag(1 - up - np.r_[0, down[:-1]]) - np.diag(up[:-1], 1) - np.diag(down[:-1], -1)
    return np.linalg.solve(a, np.ones(m))[0]


def test_mfpt_birth_death_chain():
    up, down = birth_death(4.0, 15, 30)
    rng = np.random.default_rng(0)
    runs, every = 150, 5
    p_up, p_any = np.r_[up, 0], np.r_[up, 0] + np.r_[0, down]
    state, best, frames = np.zeros(runs, np.int64), np.zeros(runs, np.int64), []
    while (best < len(up)).any():
        for u in rng.random((every, runs)):
            state = state + (u < p_up[state]) - ((u >= p_up[state]) & (u < p_any[state]))
            best = np.maximum(best, state)
        frames.append(state.copy())
    frames = np.array(frames)
    t = every * np.arange(1, len(frames) + 1, dtype=float)
    series = {i: pd.DataFrame({"time_ps": t, "largest_cluster": frames[:, i], "volume": VOLUME})
              for i in range(runs)}
    fit = kinetics.mfpt(series, bootstrap=40)
    true_j = 1 / (exact_passage(up, down) * 1e-3 * VOLUME * 1e-3)
    assert abs(fit.J / true_j - 1) < 0.20
    assert abs(fit.n_star - 15) <= 2
    lo, hi = fit.intervals["J"]
    assert lo < fit.J < hi


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

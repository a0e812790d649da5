"""Kinetics from kavet's series: induction times, nucleation rates, critical sizes and growth fronts.

    from kavet import kinetics
    runs = kinetics.read_runs(["runs/"])                      # series files (CSV or .xvg) of many runs
    times = kinetics.induction_times(runs, "largest_cluster", threshold=20, hold=50)
    rate = kinetics.survival_rate(times)                      # J per nm^3 per ns, its interval, the lag t0
    mfpt = kinetics.mfpt(runs, "largest_cluster")             # J, n*, Z with bootstrap intervals
    fronts = kinetics.fronts(kinetics.read_profile("run.profile.csv"))

Times are in ps and lengths in angstrom as in the series; rates are given per nm^3 per ns, velocities in
nm/ns (and A/ns). The methods and their sources are described in docs/kinetics.md. The command line:

    python3 -m kavet.kinetics rate SERIES... --column C --threshold N [--hold PS] [--json] [--plot DIR]
    python3 -m kavet.kinetics mfpt SERIES... [--column C] [--json] [--plot DIR]
    python3 -m kavet.kinetics front PROFILE [--json] [--plot DIR]
"""
import argparse
import glob
import json
import math
import os
import re
import sys
from dataclasses import dataclass, field

import numpy as np
import pandas as pd

__all__ = ["read_series", "read_runs", "read_profile", "profile", "induction_times", "survival_rate", "mfpt", "mfpt_curve",
           "wsr_tau", "fronts", "plot_survival", "plot_mfpt", "plot_fronts", "main"]

# Unit conversions: the series hold A^3 and ps.
NM3_PER_A3 = 1e-3
NS_PER_PS = 1e-3
UNIT_RATE = "nm^-3 ns^-1"
# The CHILL+ classes counted as hydrate-like by default in a profile.
HYDRATE_CLASSES = ("chill_clathrate", "chill_interfacial_clathrate")


class KineticsError(Exception):
    """Input that the kinetics cannot work on (no such column, no runs, no volume ...)."""


# ---------------------------------------------------------------------------------------------------------------
# Reading

def _untypeset(legend):
    """A legend as kavet writes it to .xvg, back to its column name: 5\\S12\\N6\\S2\\N -> 5^12-6^2."""
    name = re.sub(r"\\S(\d+)\\N(?=\d)", r"^\1-", legend)
    return re.sub(r"\\S(\d+)\\N", r"^\1", name).replace("''", '"')


def _read_xvg(path):
    legends, rows = [], []
    with open(path) as f:
        for lineno, line in enumerate(f, 1):
            if line.startswith("@"):
                m = re.match(r"@\s*s\d+\s+legend\s+(.*)$", line)
                if m:
                    legends.append(_untypeset(m.group(1).strip().strip('"')))
            elif line.strip() and line[0] not in "#&":
                try:
                    rows.append([float(v) for v in line.split()])
                except ValueError:
                    raise KineticsError(f"{path} line {lineno}: not a number in {line.strip()!r}") from None
    names = ["time_ps"] + legends
    for k, r in enumerate(rows):
        if len(r) != len(names):
            raise KineticsError(f"{path}: row {k + 1} has {len(r)} values for {len(names)} columns")
    return pd.DataFrame(rows, columns=names) if rows else pd.DataFrame(columns=names, dtype=float)


def read_series(path):
    """A series file of `kavet -ot` (CSV with its header line, or .xvg with its legends) as a DataFrame.
    For NAME.xvg the F4 set of NAME~f4.xvg beside it is added as column f4 when its times match."""
    path = os.fspath(path)
    try:
        if path.endswith(".xvg"):
            table = _read_xvg(path)
            f4 = path[:-len(".xvg")] + "~f4.xvg"
            if "f4" not in table and os.path.exists(f4):
                extra = _read_xvg(f4)
                if len(extra) == len(table) and len(extra.columns) >= 2 \
                        and np.allclose(extra["time_ps"], table["time_ps"]):
                    table["f4"] = extra.iloc[:, 1].to_numpy()
        else:
            table = pd.read_csv(path)
    except OSError as e:
        raise KineticsError(f"cannot read {path}: {e.strerror}") from None
    except (UnicodeDecodeError, pd.errors.ParserError, pd.errors.EmptyDataError) as e:
        raise KineticsError(f"{path} is not a series file: {str(e).splitlines()[0]}") from None
    if "time_ps" not in table:
        raise KineticsError(f"{path} has no time_ps column; is it a kavet series?")
    return table


def _is_side_file(name):
    """Files kavet writes beside a series (NAME~types.csv, NAME~f4.xvg) and profiles, which are no runs."""
    return "~" in os.path.basename(name) or os.path.basename(name).startswith("#")


def read_runs(sources):
    """Runs as {name: DataFrame} from series files, folders of them (every *.csv and *.xvg in the folder,
    except the ~types and ~f4 files beside series, #backups# and slab profiles), DataFrames, or a dict of
    DataFrames."""
    if isinstance(sources, dict):
        return dict(sources)
    if isinstance(sources, (str, os.PathLike, pd.DataFrame)):
        sources = [sources]
    runs = {}
    for k, s in enumerate(sources):
        if isinstance(s, pd.DataFrame):
            runs[f"run{k}"] = s
            continue
        s = os.fspath(s)
        if os.path.isdir(s):
            files = sorted(f for f in glob.glob(os.path.join(s, "*")) if f.endswith((".csv", ".xvg"))
                           and not _is_side_file(f))
            if not files:
                raise KineticsError(f"{s} holds no series file (*.csv, *.xvg)")
            for f in files:
                table = read_series(f)
                if "slab" not in table:  # a profile (-oprofile) beside the series is no run
                    runs[f] = table
            if not any(f in runs for f in files):
                raise KineticsError(f"{s} holds no series file, only profiles")
        else:
            runs[s] = read_series(s)
    if not runs:
        raise KineticsError("no runs given")
    return runs


def read_profile(path):
    """A profile file of `kavet -oprofile` (long format: frame, time_ps, slab, position, the CHILL+ class
    counts, cages; one line per slab and frame) as a DataFrame."""
    try:
        table = pd.read_csv(os.fspath(path), comment="#")
    except OSError as e:
        raise KineticsError(f"cannot read {path}: {e.strerror}") from None
    except (UnicodeDecodeError, pd.errors.ParserError, pd.errors.EmptyDataError) as e:
        raise KineticsError(f"{path} is not a profile file: {str(e).splitlines()[0]}") from None
    missing = [c for c in ("time_ps", "slab", "position") if c not in table]
    if missing:
        raise KineticsError(f"{path} has no column {', '.join(missing)}; is it a kavet profile (-oprofile)?")
    return table


def profile(result, axis="z", width=2.0, frame=0):
    """The slab profile of one analysed frame (a kavet.Result), as the command line's -oprofile writes it for
    that frame: one row per slab along `axis` (x, y or z) of `width` A, with the waters by CHILL+ class and
    the closed cages' centres. Profiles of frames in order, concatenated, go to fronts()."""
    import io

    if axis not in ("x", "y", "z"):
        raise KineticsError(f"the profile's axis is x, y or z, not {axis!r}")
    return pd.read_csv(io.StringIO(result.profile_text("xyz".index(axis), float(width), int(frame))))


def _column(table, column, name):
    if column not in table:
        raise KineticsError(f"{name} has no column {column} (it has: {', '.join(map(str, table.columns))})")
    return table[column].to_numpy(dtype=float)


# ---------------------------------------------------------------------------------------------------------------
# Induction times

def _run_volume(table, volume, name):
    """The run's volume in A^3: `volume` when given, else the mean of its volume column, else NaN."""
    if volume is not None:
        return float(volume)
    if "volume" in table and len(table):
        return float(np.nanmean(table["volume"].to_numpy(dtype=float)))
    return math.nan


def induction_time(time, values, threshold, hold=0.0):
    """(time, censored) of one run: the first time at which `values` reaches `threshold` and stays at or above
    it for `hold` ps (every frame up to that time + hold). A run without such a time is censored at the last
    time from which a hold could still have been seen whole (its last time minus `hold`), so a crossing too
    close to its end to be confirmed counts as not yet seen."""
    time = np.asarray(time, dtype=float)
    values = np.asarray(values, dtype=float)
    if len(time) == 0:
        raise KineticsError("a run without frames")
    above = values >= threshold
    # below[k]: the first frame at or after k that is below the threshold (len when none).
    n = len(time)
    below = np.minimum.accumulate(np.where(above, n, np.arange(n))[::-1])[::-1]
    end = time[-1]
    for k in np.flatnonzero(above):
        if time[k] + hold > end + 1e-9:
            break
        stays_until = time[below[k]] if below[k] < n else math.inf
        if stays_until > time[k] + hold + 1e-9:
            return float(time[k]), False
    return float(max(end - hold, time[0])), True


def induction_times(runs, column="largest_cluster", threshold=None, hold=0.0, volume=None):
    """A table of the runs: run, time (ps), censored, volume (A^3), last_time (ps), with the induction time of
    each run by the rule of induction_time(). `runs` as read_runs() takes them; `volume` (A^3), when given,
    stands for every run's volume, else it is the mean of each run's volume column (NaN without one)."""
    if threshold is None:
        raise KineticsError("the induction times need a threshold")
    rows = []
    for name, table in read_runs(runs).items():
        t = _column(table, "time_ps", name)
        y = _column(table, column, name)
        if len(t) == 0:
            raise KineticsError(f"{name} holds no frame")
        when, censored = induction_time(t, y, threshold, hold)
        rows.append({"run": name, "time": when, "censored": censored,
                     "volume": _run_volume(table, volume, name), "first_time": float(t[0]), "last_time": float(t[-1])})
    out = pd.DataFrame(rows)
    out.attrs.update(column=column, threshold=threshold, hold=hold)
    return out


# ---------------------------------------------------------------------------------------------------------------
# The rate from the survival probability

@dataclass
class SurvivalFit:
    """The fit P(t) = exp(-J V (t - t0)) of the runs' survival: J in nm^-3 ns^-1 with its interval (at `level`,
    profile likelihood with t0 held), the lag t0 (ps), the runs, the censored ones, the events."""
    J: float
    J_low: float
    J_high: float
    t0: float
    runs: int
    censored: int
    events: int
    level: float
    exposure: float  # sum of V (t - t0) over the runs, nm^3 ns
    times: pd.DataFrame = field(repr=False, default=None)
    unit: str = UNIT_RATE

    def as_dict(self):
        return {"J": self.J, "J_low": self.J_low, "J_high": self.J_high, "unit": self.unit, "t0": self.t0,
                "runs": self.runs, "censored": self.censored, "events": self.events, "level": self.level,
                "J_SI": self.J * 1e36, "unit_SI": "m^-3 s^-1", "t0_unit": "ps"}


def _profile_interval(d, exposure, level):
    """The profile-likelihood interval of J for d events over an exposure (the log likelihood
    d log J - J exposure): the J where twice the drop from its maximum reaches the chi-square quantile."""
    from scipy import optimize, stats

    q = stats.chi2.ppf(level, 1)
    if d == 0:
        # The likelihood exp(-J exposure) is largest at 0; its drop reaches q/2 at J = q / (2 exposure).
        return 0.0, q / (2 * exposure)
    j = d / exposure

    def drop(x):
        return 2 * (d * math.log(j / x) - d + x * exposure) - q

    low = optimize.brentq(drop, j * 1e-12, j)
    high = optimize.brentq(drop, j, j * 1e3 + 100 / exposure)
    return low, high


def survival_rate(times, volume=None, t0="fit", level=0.95):
    """The nucleation rate from induction times (the table of induction_times(), or a DataFrame with columns
    time, censored and volume), by maximum likelihood with censoring: each run waits the lag t0, then
    nucleates at the rate J V (P(t) = exp(-J V (t - t0)) for t > t0, 1 before).

    t0: "fit" (the earliest event, less the expected gap 1 / (J sum V) between the lag and the first of the
    runs' events; not before the runs' start), "none" (no lag: the runs' start), or a number in ps.
    volume (A^3) replaces the table's volumes. The interval is that of the profile likelihood of J with t0
    held at its value, at `level`."""
    table = times.copy()
    if volume is not None:
        table["volume"] = float(volume)
    if "volume" not in table or table["volume"].isna().any():
        raise KineticsError("the rate needs each run's volume: the series have no volume column; give the volume "
                            "(A^3) of the box")
    if (table["volume"] <= 0).any():
        raise KineticsError("a run's volume is not positive")
    t = table["time"].to_numpy(dtype=float)
    cens = table["censored"].to_numpy(dtype=bool)
    vol = table["volume"].to_numpy(dtype=float) * NM3_PER_A3
    start = table["first_time"].to_numpy(dtype=float) if "first_time" in table else np.zeros(len(t))
    if len(t) == 0:
        raise KineticsError("no runs")
    events = ~cens
    d = int(events.sum())

    def fit_at(lag):
        exposure = float(np.sum(vol * np.clip(t - lag, 0, None))) * NS_PER_PS
        return exposure, (d / exposure if exposure > 0 else math.nan)

    if t0 == "none":
        lag = float(start.min())
    elif t0 == "fit":
        if d == 0:
            lag = float(start.min())
        else:
            first = float(t[events].min())
            lag = first
            for _ in range(50):  # the gap depends on J, which depends on the lag: iterate to a fixed point
                exposure, j = fit_at(lag)
                at_risk = float(np.sum(vol[t >= first]))
                new = max(first - 1 / (j * at_risk) / NS_PER_PS, float(start.min()))
                if abs(new - lag) < 1e-9 * max(1.0, abs(first)):
                    lag = new
                    break
                lag = new
    else:
        lag = float(t0)
    exposure, j = fit_at(lag)
    if not exposure > 0:
        raise KineticsError(f"no run lasts past the lag t0 = {lag:g} ps")
    low, high = _profile_interval(d, exposure, level)
    return SurvivalFit(J=float(j) if d else 0.0, J_low=low, J_high=high, t0=lag, runs=len(t),
                       censored=int(cens.sum()), events=d, level=level, exposure=exposure, times=table)


def survival_curve(times):
    """The empirical survival (Kaplan-Meier) of the induction times: (times in ps, fraction not yet nucleated)
    as step points, starting at the runs' start with 1."""
    t = times["time"].to_numpy(dtype=float)
    cens = times["censored"].to_numpy(dtype=bool)
    start = float(times["first_time"].min()) if "first_time" in times else 0.0
    xs, ps, p = [start], [1.0], 1.0
    for when in np.unique(t[~cens]):
        at_risk = np.sum(t >= when)
        dead = np.sum((t == when) & ~cens)
        p *= 1 - dead / at_risk
        xs.append(float(when))
        ps.append(p)
    if len(t) and t.max() > xs[-1]:  # the curve goes on to the last run's end
        xs.append(float(t.max()))
        ps.append(p)
    return np.array(xs), np.array(ps)


# ---------------------------------------------------------------------------------------------------------------
# Mean first-passage times

def wsr_tau(n, tau_j, n_star, z):
    """The mean first-passage time of Wedekind, Strey and Reguera: (tau_J / 2)(1 + erf(Z sqrt(pi) (n - n*)))."""
    from scipy.special import erf

    return 0.5 * tau_j * (1 + erf(z * math.sqrt(math.pi) * (np.asarray(n, dtype=float) - n_star)))


def _passage_times(time, values, sizes):
    """The first time each of `sizes` is reached (NaN where it is never reached)."""
    best = np.maximum.accumulate(values)
    k = np.searchsorted(best, sizes, side="left")
    out = np.full(len(sizes), math.nan)
    ok = k < len(best)
    out[ok] = time[k[ok]]
    return out


def mfpt_curve(runs, column="largest_cluster", sizes=None):
    """(sizes, mean first-passage time in ps over the runs, passage times per run) for the sizes reached by
    every run: the first time each run's `column` reaches n, averaged over the runs. By default the sizes run
    from the smallest value seen to the largest size every run reaches."""
    runs = read_runs(runs)
    series = [(_column(tb, "time_ps", nm), _column(tb, column, nm)) for nm, tb in runs.items()]
    if sizes is None:
        low = min(float(np.nanmin(y)) for _, y in series if len(y))
        high = min(float(np.nanmax(y)) for _, y in series if len(y))
        sizes = np.arange(math.floor(low), math.floor(high) + 1, dtype=float)
    sizes = np.asarray(sizes, dtype=float)
    passage = np.array([_passage_times(t, y, sizes) for t, y in series])
    keep = ~np.isnan(passage).any(axis=0)
    return sizes[keep], passage[:, keep].mean(axis=0), passage[:, keep]


@dataclass
class MfptFit:
    """The Wedekind-Strey-Reguera fit of tau(n): tau_J (ps), n*, Z, J = 1 / (tau_J V) in nm^-3 ns^-1 (NaN
    without a volume), each with its bootstrap interval over runs at `level`. n* is the inflection of the
    fitted curve (n_star_sampled) moved up by the frame-spacing correction n_star_shift (see mfpt());
    step_sd is the spread of the size from one frame to the next near n*."""
    tau_J: float
    n_star: float
    Z: float
    J: float
    intervals: dict
    runs: int
    volume: float  # A^3
    level: float
    sizes: np.ndarray = field(repr=False, default=None)
    tau: np.ndarray = field(repr=False, default=None)
    unit: str = UNIT_RATE
    n_star_sampled: float = math.nan
    n_star_shift: float = 0.0
    step_sd: float = math.nan

    def as_dict(self):
        out = {"J": self.J, "n_star": self.n_star, "Z": self.Z, "tau_J": self.tau_J, "unit": self.unit,
               "tau_unit": "ps", "runs": self.runs, "volume": self.volume, "level": self.level,
               "n_star_sampled": self.n_star_sampled, "n_star_shift": self.n_star_shift, "step_sd": self.step_sd}
        for key, (low, high) in self.intervals.items():
            out[key + "_low"], out[key + "_high"] = low, high
        return {k: (None if isinstance(v, float) and math.isnan(v) else v) for k, v in out.items()}


def _wsr_fit(sizes, tau):
    """(tau_J, n*, Z) fitted to tau(n) by least squares, started from the plateau and the half-height size."""
    from scipy import optimize

    top = float(np.max(tau))
    half = sizes[np.argmax(tau >= top / 2)]
    q1, q3 = sizes[np.argmax(tau >= top / 4)], sizes[np.argmax(tau >= 3 * top / 4)]
    # erf(x) = +-1/2 at x = +-0.477, so the quarter heights lie 2 * 0.477 / (Z sqrt(pi)) apart.
    z0 = 2 * 0.477 / (math.sqrt(math.pi) * max(q3 - q1, 1.0))
    p, _ = optimize.curve_fit(wsr_tau, sizes, tau, p0=[top, half, z0], maxfev=20000,
                              bounds=([0, sizes.min() - 1, 1e-6], [np.inf, sizes.max() + 1, 10]))
    return tuple(float(v) for v in p)


# The expected overshoot of a driftless Gaussian random walk of step deviation s over a distant level is
# OVERSHOOT * s, OVERSHOOT = -zeta(1/2) / sqrt(2 pi) (Siegmund 1979; Broadie, Glasserman and Kou 1997).
OVERSHOOT = 0.5825971579390106


class _Steps:
    """The frame-to-frame changes of each run's size, binned by the whole size they start from (runs x bins
    of counts, sums and sums of squares), to give the spread of one frame's change near a size for any
    resampling of the runs."""

    def __init__(self, series):
        starts, changes = [], []
        self.whole = True
        for _, y in series:
            y = np.asarray(y, dtype=float)
            ok = np.isfinite(y[:-1]) & np.isfinite(y[1:])
            starts.append(np.floor(y[:-1][ok]).astype(np.int64))
            changes.append(np.diff(y)[ok])
            self.whole &= bool(np.all(y[np.isfinite(y)] == np.round(y[np.isfinite(y)])))
        found = [s for s in starts if len(s)]
        self.low = min(int(s.min()) for s in found) if found else 0
        bins = (max(int(s.max()) for s in found) - self.low + 1) if found else 1
        self.moments = np.zeros((3, len(series), bins))
        for i, (s, d) in enumerate(zip(starts, changes)):
            for k, w in enumerate((None, d, d * d)):
                self.moments[k, i] = np.bincount(s - self.low, weights=w, minlength=bins)

    def spread(self, pick, size, window=2.0):
        """The standard deviation of one frame's change of the size over the runs `pick` (indices, repeats
        allowed), from the frames whose size lies within `window` of `size` (NaN without two such frames)."""
        near = np.abs(self.low + np.arange(self.moments.shape[2]) - size) <= window
        count, total, squares = self.moments[:, pick][:, :, near].sum(axis=(1, 2))
        if count < 2:
            return math.nan
        return math.sqrt(max(squares / count - (total / count) ** 2, 0.0))

    def shift(self, pick, size):
        """(shift, spread): how far the inflection of the sampled tau(n) lies below the one of the size
        watched without gaps. The first frame at or beyond n sees the size past n by the overshoot of the
        sampled walk, OVERSHOOT times its spread per frame, less half a step for whole sizes (the overshoot
        of a walk on the integers, counted from n, is smaller by half its lattice step); it is 0 where the
        frames follow the size step by step."""
        s = self.spread(pick, size)
        if math.isnan(s):
            return 0.0, s
        return max(OVERSHOOT * s - (0.5 if self.whole else 0.0), 0.0), s


def mfpt(runs, column="largest_cluster", volume=None, sizes=None, bootstrap=200, level=0.95, seed=0,
         n_max=None, spacing_correction=True):
    """tau(n) over the runs and its Wedekind-Strey-Reguera fit, with bootstrap intervals (`bootstrap`
    resamplings of the runs with replacement, percentile intervals at `level`). volume (A^3) or the mean of
    the runs' volume columns gives J = 1 / (tau_J V). n_max limits the sizes fitted.

    Frames far apart record a size's first passage late, at the first frame past it, which moves the
    sampled curve's inflection below n*; with spacing_correction (the default) n* is moved back up by the
    expected overshoot of the size between frames near n* (the discrete-monitoring correction of Broadie,
    Glasserman and Kou), measured from the runs' own frame-to-frame changes, in every resampling too."""
    runs = read_runs(runs)
    names = list(runs)
    if volume is None:
        vols = [_run_volume(runs[n], None, n) for n in names]
        volume = float(np.mean(vols))
    sizes, tau, passage = mfpt_curve(runs, column, sizes)
    if n_max is not None:
        keep = sizes <= n_max
        sizes, tau, passage = sizes[keep], tau[keep], passage[:, keep]
    if len(sizes) < 4:
        raise KineticsError(f"too few sizes of {column} reached by every run to fit tau(n) ({len(sizes)})")
    tau_j, sampled, z = _wsr_fit(sizes, tau)
    steps = _Steps([(None, _column(runs[n], column, n)) for n in names]) if spacing_correction else None
    everyone = np.arange(len(names))
    shift, spread = steps.shift(everyone, sampled) if steps else (0.0, math.nan)

    def rate(tj):
        return 1 / (tj * NS_PER_PS * volume * NM3_PER_A3) if volume and not math.isnan(volume) else math.nan

    rng = np.random.default_rng(seed)
    draws = []
    for _ in range(bootstrap):
        pick = rng.integers(0, len(names), len(names))
        try:
            tj, ns, zz = _wsr_fit(sizes, passage[pick].mean(axis=0))
        except (RuntimeError, ValueError):
            continue
        draws.append((tj, ns + (steps.shift(pick, ns)[0] if steps else 0.0), zz))
    intervals = {}
    if draws:
        draws = np.array(draws)
        a = 100 * (1 - level) / 2
        for key, col in (("tau_J", draws[:, 0]), ("n_star", draws[:, 1]), ("Z", draws[:, 2])):
            intervals[key] = tuple(float(v) for v in np.percentile(col, [a, 100 - a]))
        lo, hi = intervals["tau_J"]
        intervals["J"] = (rate(hi), rate(lo))
    return MfptFit(tau_J=tau_j, n_star=sampled + shift, Z=z, J=rate(tau_j), intervals=intervals, runs=len(names),
                   volume=volume, level=level, sizes=sizes, tau=tau, n_star_sampled=sampled, n_star_shift=shift,
                   step_sd=spread)


# ---------------------------------------------------------------------------------------------------------------
# Growth fronts

@dataclass
class Front:
    """One hydrate-liquid boundary: its side ("low": hydrate on the side of larger coordinates, so it grows
    towards smaller ones; "high": the other way), its positions (A, unwrapped) against time (ps), and the
    velocity of the hydrate's growth through it (nm/ns, positive where the hydrate grows) with its interval."""
    side: str
    time: np.ndarray
    position: np.ndarray
    velocity: float
    velocity_low: float
    velocity_high: float
    slope: float      # d position / d t, A/ps
    intercept: float  # A

    def as_dict(self):
        return {"side": self.side, "velocity": self.velocity, "velocity_low": self.velocity_low,
                "velocity_high": self.velocity_high, "velocity_A_per_ns": self.velocity * 10,
                "velocity_low_A_per_ns": self.velocity_low * 10, "velocity_high_A_per_ns": self.velocity_high * 10,
                "frames": int(len(self.time))}


def hydrate_fraction(profile, classes=HYDRATE_CLASSES, smooth=1):
    """Per frame and slab, the fraction of waters in `classes` among all the waters of the slab's CHILL+
    columns (the columns named chill_*), averaged over `smooth` neighbouring slabs (periodically). Returns a
    DataFrame with time_ps, slab, position and fraction."""
    chill = [c for c in profile.columns if str(c).startswith("chill_")]
    missing = [c for c in classes if c not in profile]
    if missing or not chill:
        raise KineticsError(f"the profile has no column {', '.join(missing) or 'chill_*'}")
    out = []
    for _, frame in profile.groupby("time_ps", sort=True):
        frame = frame.sort_values("slab")
        hyd = frame[list(classes)].to_numpy(dtype=float).sum(axis=1)
        tot = frame[chill].to_numpy(dtype=float).sum(axis=1)
        if smooth > 1:
            kernel = np.ones(smooth)
            pad = smooth // 2
            def circ(v):
                w = np.concatenate([v[-pad:], v, v[:pad]]) if pad else v
                return np.convolve(w, kernel, mode="valid")[:len(v)]
            hyd, tot = circ(hyd), circ(tot)
        with np.errstate(invalid="ignore", divide="ignore"):
            frac = np.where(tot > 0, hyd / np.where(tot > 0, tot, 1), 0.0)
        out.append(pd.DataFrame({"time_ps": frame["time_ps"].to_numpy(), "slab": frame["slab"].to_numpy(),
                                 "position": frame["position"].to_numpy(dtype=float), "fraction": frac}))
    return pd.concat(out, ignore_index=True)


def boundaries(position, fraction, periodic=True, period=None):
    """The two ends of the widest hydrate region (fraction >= 1/2) of one frame, interpolated where the
    fraction crosses 1/2: (low, high) in A, either None when the region has no such end (all hydrate or no
    hydrate; or, without periodicity, a region against the edge)."""
    x = np.asarray(position, dtype=float)
    f = np.asarray(fraction, dtype=float)
    n = len(x)
    if n < 2:
        return None, None
    if period is None:
        period = n * (x[1] - x[0])
    inside = f >= 0.5
    if inside.all() or not inside.any():
        return None, None
    # Runs of hydrate slabs, periodically when asked: start at a liquid slab.
    order = np.roll(np.arange(n), -int(np.argmin(inside))) if periodic else np.arange(n)
    runs, current = [], None
    for i in order:
        if inside[i]:
            current = [i, i] if current is None else [current[0], i]
        elif current is not None:
            runs.append(current)
            current = None
    if current is not None:
        runs.append(current)
    first, last = max(runs, key=lambda r: (int(r[1]) - int(r[0])) % n)

    def cross(i, j, xi, xj):  # where f crosses 1/2 between slab i (at xi) and j (at xj)
        return xi + (0.5 - f[i]) / (f[j] - f[i]) * (xj - xi)

    low = high = None
    prev = first - 1
    if prev >= 0 or periodic:
        xp = x[prev % n] - (period if prev < 0 else 0)
        low = cross(prev % n, first, xp, x[first])
    nxt = last + 1
    if nxt < n or periodic:
        xn = x[nxt % n] + (period if nxt >= n else 0)
        high = cross(last, nxt % n, x[last], xn)
    if periodic:
        low, high = low % period, high % period
    return low, high


def _unwrap(values, period):
    v = np.asarray(values, dtype=float)
    if period is None or len(v) < 2:
        return v
    return v[0] + np.concatenate([[0.0], np.cumsum((np.diff(v) + period / 2) % period - period / 2)])


def fronts(profile, classes=HYDRATE_CLASSES, smooth=1, periodic=True, begin=None, end=None, level=0.95):
    """The hydrate-liquid boundaries of every frame of a profile (read_profile()) and their velocities by a
    linear fit of position against time, with the t-distribution interval of the slope at `level`. Returns
    the Fronts, one per boundary (two for a hydrate slab in a periodic box; one or none otherwise)."""
    from scipy import stats

    frac = hydrate_fraction(profile, classes, smooth)
    found = {"low": [], "high": []}
    periods = []
    for t, frame in frac.groupby("time_ps", sort=True):
        if (begin is not None and t < begin) or (end is not None and t > end):
            continue
        x = frame["position"].to_numpy()
        period = len(x) * (x[1] - x[0]) if len(x) > 1 else None
        low, high = boundaries(x, frame["fraction"].to_numpy(), periodic, period)
        periods.append(period)
        for side, value in (("low", low), ("high", high)):
            if value is not None:
                found[side].append((t, value, period))
    out = []
    for side, points in found.items():
        if len(points) < 3:
            continue
        t = np.array([p[0] for p in points])
        period = float(np.median([p[2] for p in points])) if periodic else None
        x = _unwrap([p[1] for p in points], period)
        fit = stats.linregress(t, x)
        half = stats.t.ppf(0.5 + level / 2, len(t) - 2) * fit.stderr
        sign = 1.0 if side == "high" else -1.0  # the hydrate grows where its high end moves up, its low end down
        lo, hi = sorted((sign * (fit.slope - half), sign * (fit.slope + half)))
        to_nm_ns = 0.1 / NS_PER_PS  # A/ps -> nm/ns
        out.append(Front(side=side, time=t, position=x, velocity=sign * fit.slope * to_nm_ns,
                         velocity_low=lo * to_nm_ns, velocity_high=hi * to_nm_ns, slope=float(fit.slope),
                         intercept=float(fit.intercept)))
    return out


# ---------------------------------------------------------------------------------------------------------------
# Plots

def _pyplot():
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        raise KineticsError("the plots need matplotlib: apt-get install python3-matplotlib") from None
    return plt


def _save(fig, path):
    fig.tight_layout()
    fig.savefig(path)
    _pyplot().close(fig)
    return path


def plot_survival(fit, path):
    """The survival of the runs (Kaplan-Meier steps, censored runs marked) with the fitted exponential."""
    plt = _pyplot()
    times = fit.times
    xs, ps = survival_curve(times)
    t_ns = xs * NS_PER_PS
    fig, ax = plt.subplots(figsize=(5.5, 4), dpi=150)
    ax.step(t_ns, ps, where="post", color="k", label=f"runs ({fit.runs}, {fit.censored} censored)")
    cens = times[times["censored"]]["time"].to_numpy() * NS_PER_PS
    if len(cens):  # each censored run marked on the curve where it left the count
        k = np.clip(np.searchsorted(t_ns, cens, side="right") - 1, 0, None)
        ax.plot(cens, ps[k], "|", color="tab:gray", markersize=8, label="censored")
    end = max(float(times["time"].max()), fit.t0) * NS_PER_PS
    grid = np.linspace(xs[0] * NS_PER_PS, end, 200)
    vol = float(np.mean(times["volume"])) * NM3_PER_A3
    model = np.where(grid < fit.t0 * NS_PER_PS, 1.0, np.exp(-fit.J * vol * (grid - fit.t0 * NS_PER_PS)))
    ax.plot(grid, model, color="tab:red",
            label=f"fit: J = {fit.J:.3g} nm$^{{-3}}$ ns$^{{-1}}$\n"
                  f"({fit.level:.0%}: {fit.J_low:.3g}–{fit.J_high:.3g}), $t_0$ = {fit.t0 * NS_PER_PS:.3g} ns")
    ax.set_xlabel("time (ns)")
    ax.set_ylabel("survival probability $P(t)$")
    ax.set_ylim(-0.02, 1.05)
    ax.grid(alpha=0.3)
    ax.legend(loc="upper right", fontsize="small")
    return _save(fig, path)


def plot_mfpt(fit, path, column="largest_cluster"):
    """tau(n) over the runs with the Wedekind-Strey-Reguera fit, n* and tau_J marked."""
    plt = _pyplot()
    fig, ax = plt.subplots(figsize=(5.5, 4), dpi=150)
    ax.plot(fit.sizes, fit.tau * NS_PER_PS, "o", color="k", markersize=3, label=f"MFPT over {fit.runs} runs")
    grid = np.linspace(fit.sizes.min(), fit.sizes.max(), 300)
    sampled = fit.n_star if math.isnan(fit.n_star_sampled) else fit.n_star_sampled
    moved = f"\n({sampled:.1f} + {fit.n_star_shift:.1f} for the frame spacing)" if fit.n_star_shift else ""
    ax.plot(grid, wsr_tau(grid, fit.tau_J, sampled, fit.Z) * NS_PER_PS, color="tab:red",
            label=f"fit: $n^*$ = {fit.n_star:.1f}{moved}\nZ = {fit.Z:.3g}, $\\tau_J$ = {fit.tau_J * NS_PER_PS:.3g} ns")
    ax.axvline(fit.n_star, color="tab:red", linestyle=":", linewidth=1)
    ax.axhline(fit.tau_J * NS_PER_PS, color="tab:gray", linestyle="--", linewidth=1)
    ax.set_xlabel(f"size n ({column.replace('_', ' ')})")
    ax.set_ylabel(r"mean first-passage time $\tau(n)$ (ns)")
    ax.grid(alpha=0.3)
    ax.legend(loc="best", fontsize="small")
    return _save(fig, path)


def plot_fronts(found, path):
    """Front positions against time with their fitted lines."""
    plt = _pyplot()
    fig, ax = plt.subplots(figsize=(5.5, 4), dpi=150)
    colours = {"low": "tab:blue", "high": "tab:orange"}
    for fr in found:
        t = fr.time * NS_PER_PS
        ax.plot(t, fr.position * 0.1, "o", markersize=3, color=colours[fr.side],
                label=f"{fr.side} boundary")
        ax.plot(t, (fr.intercept + fr.slope * fr.time) * 0.1, "-", color=colours[fr.side],
                label=f"fit: growth {fr.velocity:.3g} nm/ns")
    ax.set_xlabel("time (ns)")
    ax.set_ylabel("boundary position (nm)")
    ax.grid(alpha=0.3)
    if found:
        ax.legend(loc="best", fontsize="small")
    return _save(fig, path)


# ---------------------------------------------------------------------------------------------------------------
# Command line

def _number(v):
    return None if v is None or (isinstance(v, float) and (math.isnan(v) or math.isinf(v))) else v


def _clean(d):
    if isinstance(d, dict):
        return {k: _clean(v) for k, v in d.items()}
    if isinstance(d, list):
        return [_clean(v) for v in d]
    if isinstance(d, (np.floating, np.integer)):
        d = d.item()
    return _number(d)


def _plot_path(directory, name):
    os.makedirs(directory, exist_ok=True)
    return os.path.join(directory, name)


def _cmd_rate(args):
    times = induction_times(args.series, args.column, args.threshold, args.hold, args.volume)
    t0 = "none" if args.no_lag else ("fit" if args.t0 is None else args.t0)
    fit = survival_rate(times, t0=t0, level=args.level)
    if args.plot:
        print(plot_survival(fit, _plot_path(args.plot, "survival.png")), file=sys.stderr)
    if args.json:
        return fit.as_dict()
    width = max(len("run"), *(len(os.path.basename(str(r))) for r in times["run"]))
    lines = [f"# induction times: {args.column} >= {args.threshold:g} held {args.hold:g} ps",
             f"{'run':<{width}}  {'time_ps':>12}  censored  {'volume_A3':>12}"]
    for _, r in times.iterrows():
        lines.append(f"{os.path.basename(str(r['run'])):<{width}}  {r['time']:12.3f}  {'yes' if r['censored'] else 'no':>8}"
                     f"  {r['volume']:12.1f}")
    lines.append(f"# runs {fit.runs}, events {fit.events}, censored {fit.censored}; lag t0 = {fit.t0:g} ps")
    lines.append(f"J = {fit.J:.6g} {fit.unit}  ({fit.level:.0%} profile-likelihood interval "
                 f"{fit.J_low:.6g} .. {fit.J_high:.6g}) = {fit.J * 1e36:.4g} m^-3 s^-1")
    return "\n".join(lines)


def _cmd_mfpt(args):
    fit = mfpt(args.series, args.column, volume=args.volume, bootstrap=args.bootstrap, level=args.level,
               seed=args.seed, n_max=args.n_max, spacing_correction=not args.no_spacing_correction)
    if args.plot:
        print(plot_mfpt(fit, _plot_path(args.plot, "mfpt.png"), args.column), file=sys.stderr)
    if args.json:
        return fit.as_dict()
    d = fit.as_dict()

    def iv(key):
        lo, hi = d.get(key + "_low"), d.get(key + "_high")
        return f"  ({fit.level:.0%} bootstrap {lo:.6g} .. {hi:.6g})" if lo is not None and hi is not None else ""
    lines = [f"# mean first-passage times of {args.column} over {fit.runs} runs, sizes {fit.sizes.min():g}"
             f"..{fit.sizes.max():g}",
             f"{'n':>8}  {'tau_ps':>12}"]
    lines += [f"{n:8g}  {t:12.3f}" for n, t in zip(fit.sizes, fit.tau)]
    lines.append(f"tau_J = {fit.tau_J:.6g} ps{iv('tau_J')}")
    lines.append(f"n* = {fit.n_star:.4g}{iv('n_star')}")
    if fit.n_star_shift:
        lines.append(f"# n*: the sampled curve's inflection {fit.n_star_sampled:.4g} + {fit.n_star_shift:.3g} for the frame "
                     f"spacing (the size changes by {fit.step_sd:.3g} from frame to frame near n*)")
    if fit.step_sd * fit.Z > 0.5:
        lines.append("# the frames are sparse beside the barrier's width (1/Z): n* is uncertain beyond its interval")
    lines.append(f"Z = {fit.Z:.4g}{iv('Z')}")
    if d["J"] is None:
        lines.append("J: no volume (the series have no volume column; give --volume)")
    else:
        lines.append(f"J = {fit.J:.6g} {fit.unit}{iv('J')}")
    return "\n".join(lines)


def _cmd_front(args):
    profile = read_profile(args.profile)
    classes = tuple(c if c.startswith("chill_") else "chill_" + c for c in args.hydrate.split(","))
    found = fronts(profile, classes, args.smooth, not args.no_periodic, args.begin, args.end, args.level)
    if args.plot:
        print(plot_fronts(found, _plot_path(args.plot, "fronts.png")), file=sys.stderr)
    if args.json:
        return {"fronts": [f.as_dict() for f in found], "unit": "nm/ns"}
    lines = [f"# boundaries where the fraction of {'+'.join(classes)} crosses 1/2",
             f"{'side':<6}  {'frames':>6}  {'nm/ns':>10}  {'low':>10}  {'high':>10}  {'A/ns':>10}"]
    for f in found:
        lines.append(f"{f.side:<6}  {len(f.time):6d}  {f.velocity:10.4g}  {f.velocity_low:10.4g}  "
                     f"{f.velocity_high:10.4g}  {f.velocity * 10:10.4g}")
    if not found:
        lines.append("# no boundary in three frames or more")
    return "\n".join(lines)


def main(argv=None):
    p = argparse.ArgumentParser(prog="python3 -m kavet.kinetics",
                                description="Induction times, nucleation rates, critical sizes and growth fronts "
                                            "from kavet series (see docs/kinetics.md).")
    sub = p.add_subparsers(dest="command", required=True)
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--json", action="store_true", help="print one JSON object instead of the table")
    common.add_argument("--plot", metavar="DIR", help="write the plot (PNG) into DIR")
    common.add_argument("--level", type=float, default=0.95, help="confidence level of the intervals (0.95)")

    r = sub.add_parser("rate", parents=[common], help="rate from the survival of the runs (censored likelihood)")
    r.add_argument("series", nargs="+", help="series files (.csv, .xvg) of the runs, or folders of them")
    r.add_argument("--column", default="largest_cluster", help="column that marks nucleation (largest_cluster)")
    r.add_argument("--threshold", type=float, required=True, help="value the column must reach")
    r.add_argument("--hold", type=float, default=0.0, help="ps it must stay at or above the threshold (0)")
    r.add_argument("--volume", type=float, help="box volume in A^3 when the series have no volume column")
    r.add_argument("--t0", type=float, help="lag time in ps (default: fitted)")
    r.add_argument("--no-lag", action="store_true", help="no lag: P(t) = exp(-J V t) from the runs' start")

    m = sub.add_parser("mfpt", parents=[common], help="J, n* and Z from mean first-passage times")
    m.add_argument("series", nargs="+", help="series files (.csv, .xvg) of the runs, or folders of them")
    m.add_argument("--column", default="largest_cluster", help="cluster size column (largest_cluster)")
    m.add_argument("--volume", type=float, help="box volume in A^3 when the series have no volume column")
    m.add_argument("--bootstrap", type=int, default=200, help="bootstrap resamplings of the runs (200)")
    m.add_argument("--seed", type=int, default=0, help="seed of the bootstrap (0)")
    m.add_argument("--n-max", type=float, help="largest size to fit")
    m.add_argument("--no-spacing-correction", action="store_true",
                   help="give n* as the sampled curve's inflection, not corrected for the frame spacing")

    f = sub.add_parser("front", parents=[common], help="growth fronts from a profile (kavet -oprofile)")
    f.add_argument("profile", help="profile file written by kavet -oprofile")
    f.add_argument("--hydrate", default="clathrate,interfacial_clathrate",
                   help="CHILL+ classes counted as hydrate-like (clathrate,interfacial_clathrate)")
    f.add_argument("--smooth", type=int, default=1, help="average the fraction over this many slabs (1)")
    f.add_argument("--no-periodic", action="store_true", help="the axis is not periodic")
    f.add_argument("--begin", type=float, help="first time to fit, ps")
    f.add_argument("--end", type=float, help="last time to fit, ps")
    args = p.parse_args(argv)
    if not 0 < args.level < 1:
        p.error("--level must lie between 0 and 1")
    try:
        out = {"rate": _cmd_rate, "mfpt": _cmd_mfpt, "front": _cmd_front}[args.command](args)
    except KineticsError as e:
        print(f"kavet.kinetics: {e}", file=sys.stderr)
        return 1
    print(json.dumps(_clean(out)) if args.json else out)
    return 0


if __name__ == "__main__":
    sys.exit(main())

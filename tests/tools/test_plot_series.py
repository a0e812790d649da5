"""Tests for tools/plot-series: its panels and labels, both series formats, and
one-line failures (run from the repo root like test_lattice.py)."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "plot-series")

CSV = ("frame,time_ps,waters,closed,5^12,5^12-6^2,other_closed,cups_5^6,defective,f4\n"
       "0,0,368,64,16,0,0,3,1,0.91\n"
       "1,0.6,368,3,1,0,1,0,2,nan\n")
# What kavet writes for the same frames with -ot s.xvg (F4 beside it).
XVG = ("@ s0 legend \"closed\"\n@ s1 hidden true\n@ s1 legend \"waters\"\n"
       "@ s2 legend \"5\\S12\\N\"\n@ s3 legend \"5\\S12\\N6\\S2\\N\"\n@ s4 legend \"other_closed\"\n"
       "0  64  368  16  0  0\n0.6  3  368  1  0  1\n")
F4 = "@TYPE xy\n0  0.91\n0.6  nan\n"


class PlotSeries(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="plot-series-")
        self.addCleanup(shutil.rmtree, self.dir)
        for name, text in (("s.csv", CSV), ("s.xvg", XVG), ("s~f4.xvg", F4), ("head.csv", CSV.splitlines()[0])):
            with open(os.path.join(self.dir, name), "w") as f:
                f.write(text)

    def plot(self, *args):
        r = subprocess.run([SCRIPT, *args], cwd=self.dir, capture_output=True, text=True)
        if "needs matplotlib" in r.stderr:
            self.skipTest("matplotlib is not installed")
        return r

    def panels(self, svg):
        """The y labels of the panels of an SVG the script drew, top to bottom."""
        with open(os.path.join(self.dir, svg)) as f:
            text = f.read()
        return text.count('<g id="axes_'), re.findall(r">([a-z ]+)</text>", text)

    def test_cages_and_f4_in_panels_of_their_own_from_csv_and_xvg(self):
        for series in ("s.csv", "s.xvg"):
            r = self.plot(series, "-o", series + ".svg")
            self.assertEqual(r.returncode, 0, r.stderr)
            axes, texts = self.panels(series + ".svg")
            # closed, 5^12 and other_closed over F4; the all-zero type and the unknown columns left out
            self.assertEqual(axes, 2)
            self.assertIn("closed cages", texts)
            self.assertIn("other closed", texts)
            self.assertNotIn("defective", texts)
        r = self.plot("s.xvg", "--columns", "5^12-6^2", "waters", "f4", "-o", "x.svg")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.plot("s.csv", "--columns", "closed", "cups_5^6", "defective", "-o", "c.svg")
        self.assertEqual(r.returncode, 0, r.stderr)
        axes, texts = self.panels("c.svg")
        self.assertEqual(axes, 3)
        self.assertIn("defective", texts)

    def test_failures_are_one_line(self):
        for args in (["missing.csv"], ["head.csv"], ["s.csv", "--columns", "nope"], ["s.csv", "-o", "s.foo"]):
            r = self.plot(*args)
            self.assertEqual(r.returncode, 1, args)
            self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
            self.assertNotIn("Traceback", r.stderr)


if __name__ == "__main__":
    unittest.main()

"""tools/plot-series: panels and labels from both series formats, one-line failures."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "plot-series")
FILES = {  # the same two frames as CSV and as kavet's .xvg, F4 beside it; extra columns unknown to the plot
    "s.csv": "frame,time_ps,waters,closed,5^12,5^12-6^2,other_closed,defective,f4\n"
             "0,0,368,64,16,0,0,1,0.91\n1,0.6,368,3,1,0,1,2,nan\n",
    "s.xvg": "@ s0 legend \"closed\"\n@ s1 hidden true\n@ s1 legend \"waters\"\n@ s2 legend \"5\\S12\\N\"\n"
             "@ s3 legend \"5\\S12\\N6\\S2\\N\"\n@ s4 legend \"other_closed\"\n0  64  368  16  0  0\n0.6  3  368  1  0  1\n",
    "s~f4.xvg": "0  0.91\n0.6  nan\n",
    "head.csv": "frame,time_ps,closed\n"}


class PlotSeries(unittest.TestCase):
    def plot(self, *args):
        d = tempfile.mkdtemp(prefix="plot-series-")
        self.addCleanup(shutil.rmtree, d)
        for name, text in FILES.items():
            with open(os.path.join(d, name), "w") as f:
                f.write(text)
        r = subprocess.run([SCRIPT, *args], cwd=d, capture_output=True, text=True)
        if "needs matplotlib" in r.stderr:
            self.skipTest("matplotlib is not installed")
        svg = os.path.join(d, "p.svg")
        return r, open(svg).read() if os.path.exists(svg) else ""

    def test_panels_labels_and_failures(self):
        for args, panels, labels in ((["s.csv"], 2, ["closed cages", "other closed"]), (["s.xvg"], 2, ["closed cages"]),
                                     (["s.csv", "--columns", "closed", "defective"], 2, ["defective"])):
            r, svg = self.plot(*args, "-o", "p.svg")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(svg.count('<g id="axes_'), panels, args)
            texts = re.findall(r">([a-z ]+)</text>", svg)
            self.assertTrue(set(labels) <= set(texts), (args, texts))
            self.assertEqual("defective" in texts, "defective" in args)
        for args, said in ((["missing.csv"], ""), (["head.csv"], ""), (["s.csv", "--columns", "nope"], ""),
                           (["s.csv", "-o", "s.foo"], ""), (["s.csv", "--title", "$x^$"], "cannot typeset the title"),
                           (["s~f4.xvg"], "is the F4 file of the series s.xvg; pass s.xvg")):
            r, _ = self.plot(*args)
            self.assertEqual((r.returncode, len(r.stderr.splitlines())), (1, 1), r.stderr)
            self.assertIn(said, r.stderr)


if __name__ == "__main__":
    unittest.main()

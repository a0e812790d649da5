"""tools/merge-lifetimes: -o under the rules of kavet's -olife, and errors that name the file and line."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "merge-lifetimes")
HEAD = ("id,type,first_frame,last_frame,first_time_ps,last_time_ps,frames_present,alive_at_end,closed,"
        "first_index,last_index,run_frames,waters\n")
PIECES = {"a.csv": HEAD + "1,5^12,0,1,0,1,2,1,1,0,1,2,1 4 7\n",
          "b.csv": HEAD + "1,5^12,2,3,2,3,2,1,1,0,1,2,1 4 7\n",
          "noid.csv": HEAD + "1,5^12,2,3,2,3,2,1,1,0,1,2,1 4 7\n,5^12,2,3,2,3,2,1,1,0,1,2,2 5\n"}
MERGED = HEAD + "1,5^12,0,3,0,3,4,1,1,0,3,4,1 4 7\n"


class MergeLifetimes(unittest.TestCase):
    def test_output_rules_and_errors(self):
        d = tempfile.mkdtemp(prefix="merge-lifetimes-")
        self.addCleanup(shutil.rmtree, d)
        for name, text in PIECES.items():
            with open(os.path.join(d, name), "w") as f:
                f.write(text)
        with open(os.path.join(d, "bin.csv"), "wb") as f:
            f.write(HEAD.encode() + b"1,\xff\xfe\n")
        with open(os.path.join(d, "real.csv"), "w") as f:
            f.write("old\n")
        os.chmod(os.path.join(d, "real.csv"), 0o600)
        os.symlink("real.csv", os.path.join(d, "link.csv"))
        os.symlink("nowhere.csv", os.path.join(d, "dangling.csv"))
        os.symlink("a.csv", os.path.join(d, "alink.csv"))

        def run(*args):
            return subprocess.run([SCRIPT, *args], cwd=d, capture_output=True, text=True)

        # Written through the link into its file, whose permissions stay.
        r = run("-o", "link.csv", "a.csv", "b.csv")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.islink(os.path.join(d, "link.csv")))
        with open(os.path.join(d, "real.csv")) as f:
            self.assertEqual(f.read(), MERGED)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(d, "real.csv")).st_mode), 0o600)
        for args, said in ((["-o", "a.csv", "a.csv", "b.csv"], "the output file a.csv is the input piece a.csv"),
                           (["-o", "alink.csv", "a.csv", "b.csv"], "the output file alink.csv is the input piece a.csv"),
                           (["-o", "dangling.csv", "a.csv", "b.csv"], "a symbolic link to nowhere.csv, which does not"),
                           (["-o", "m.xvg", "a.csv", "b.csv"], "written as CSV (.csv), but the name ends in .xvg"),
                           (["a.csv", "bin.csv"], "bin.csv line 2: not text"),
                           (["a.csv", "noid.csv"], "noid.csv line 3: id is '', not a whole number")):
            r = run(*args)
            self.assertEqual((r.returncode, len(r.stderr.splitlines())), (1, 1), (args, r.stderr))
            self.assertIn(said, r.stderr)
        with open(os.path.join(d, "a.csv")) as f:
            self.assertEqual(f.read(), PIECES["a.csv"])
        self.assertFalse(os.path.exists(os.path.join(d, "nowhere.csv")))


if __name__ == "__main__":
    unittest.main()

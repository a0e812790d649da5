"""The ```python blocks of README.md and docs/python.md run as they stand, as from the top of the
tree (in a folder that links its entries, so that files the blocks write land there), each page's
blocks in order in one namespace, as a reader would type them into one session.
A block whose first line starts with NOT_RUN needs what a test run does not have (a cluster, a
file of one's own); the mark is visible to readers, and such blocks are kept few."""
import re
import warnings

import pytest

from conftest import ROOT

PAGES = ["README.md", "docs/python.md"]
NOT_RUN = "# not run by the tests:"


def blocks(page):
    """(line number, code) of each ```python block of a page."""
    text = (ROOT / page).read_text()
    return [(text.count("\n", 0, m.start()) + 2, m.group(1))
            for m in re.finditer(r"^```python\n(.*?)^```", text, re.S | re.M)]


@pytest.mark.parametrize("page", PAGES)
def test_snippets_run(page, monkeypatch, tmp_path):
    found = blocks(page)
    assert found, f"{page} holds no ```python block"
    for entry in ROOT.iterdir():
        if not entry.name.startswith("."):
            (tmp_path / entry.name).symlink_to(entry)
    monkeypatch.chdir(tmp_path)
    namespace = {"__name__": "__snippet__"}
    ran = 0
    for line, code in found:
        if code.startswith(NOT_RUN):
            continue
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            exec(compile("\n" * (line - 1) + code, str(ROOT / page), "exec"), namespace)
        ran += 1
    assert ran >= len(found) - ran, f"more of {page}'s blocks are marked as not run than run"

"""The examples of docs/reference.md give what it says they give."""

import doctest
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]


def test_reference_examples(monkeypatch):
    monkeypatch.chdir(TOP)
    failed, tried = doctest.testfile(str(TOP / "docs/reference.md"), module_relative=False,
                                     optionflags=doctest.ELLIPSIS)
    assert tried > 0 and failed == 0

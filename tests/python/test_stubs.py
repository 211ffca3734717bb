"""The committed type stubs are the ones the built module gives, and mypy
checks calls with them."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import sanitizer

TOP = Path(__file__).resolve().parents[2]
STUB = TOP / "stubs/nubracore-stubs/__init__.pyi"


def test_committed_stub_is_the_generated_one(tmp_path):
    subprocess.run([sys.executable, TOP / "scripts/make_stubs", tmp_path / "stub.pyi"], check=True)
    assert (tmp_path / "stub.pyi").read_text() == STUB.read_text(), "run scripts/make_stubs"


@pytest.mark.skipif(sanitizer.ACTIVE, reason="mypy runs none of the module")
def test_mypy_passes_the_tour_and_sequence_coordinates_and_reports_a_wrong_call(tmp_path):
    shutil.copy(STUB, tmp_path / "nubracore.pyi")
    wrong = tmp_path / "wrong.py"
    wrong.write_text("import nubracore\n\nnubracore.dot(nubracore.vecd(1), nubracore.vecs(1))\n"
                     "nubracore.model('m').set(0, (0, 1), nubracore.model('m').get(0, range(2)))\n")
    done = subprocess.run([sys.executable, "-m", "mypy", "--cache-dir", str(tmp_path / "cache"),
                           str(TOP / "examples/tour.py"), str(wrong)],
                          env=dict(os.environ, MYPYPATH=str(tmp_path)), capture_output=True, text=True)
    errors = [line for line in done.stdout.splitlines() if ": error: " in line]
    assert errors == [f'{wrong}:3: error: No overload variant of "dot" matches argument types "vecd", "vecs"  '
                      '[call-overload]']

#!/usr/bin/env bash
# A wheel on another Debian, with that Debian's own interpreter and numpy,
# pytest and onnx: in the chroot of SUITE (in_chroot.sh), the wheel of
# VERSION (PYTHON's) and the chroot's machine (aarch64 for SUITE-arm64, under
# emulation) is installed offline into a venv that sees the system's
# packages; there it passes installed.py, each module maps its own libraries
# in either import order (own_copies.py), the tour runs, the Python tests run
# where the chroot has pytest (with the fast paths on and off; under
# emulation on only, and one test fewer), and the seeded transcript is
# written to OUT/transcript-SUITE-VERSION.txt. Skipped (77) when not root.
#   chroot.sh SUITE PYTHON VERSION SOURCE OUT
set -euo pipefail
suite=$1 python=$2 version=$3 source=$(realpath "$4") out=$(realpath -m "$5")
[ "$(id -u)" -eq 0 ] || { echo "skipped: chroots take root"; exit 77; }
transcript=$out/transcript-$suite-$version.txt
rm -f "$transcript"
shopt -s nullglob
machine=$([ "${suite%-arm64}" != "$suite" ] && echo aarch64 || uname -m)
wheels=("$source"/dist/nubracore-*-cp${version/./}-*_$machine.whl)
[ ${#wheels[@]} -eq 1 ] || { echo "want one $machine wheel for $version in dist/ (make wheels), found ${#wheels[@]}"; exit 1; }

# The Python tests but three that need the build folder: the call layer's
# and the bounded message's (their twin modules) and the stubs' (make_stubs
# and mypy) run on this machine only.
tests=$(cd "$source/tests/python" && ls test_*.py | grep -v -e test_call_layer -e test_no_match -e test_stubs | tr '\n' ' ')
# Under emulation a run of them takes over ten minutes: there, only as
# users run the module, with the fast paths on, and without the check that
# models are freed, which reads the process's RSS: under qemu-user the
# emulator's, its growing cache of translated code included.
if [ "$machine" = aarch64 ]; then
    modes=1 left_out=test_models_are_freed
else
    modes="1 0" left_out=
fi

"$source/tests/wheels/in_chroot.sh" "$suite" "$source" "$out" bash -c '
    set -e
    python=$1 source=$2 wheel=$3 tests=$4 transcript=$5 modes=$6 left_out=$7
    "$python" -m venv --system-site-packages --without-pip /tmp/venv
    /tmp/venv/bin/python -m pip install --quiet --no-index --disable-pip-version-check "$wheel"
    cd /tmp
    cp "$source/examples/models/nearest_centroid.onnx" .
    /tmp/venv/bin/python "$source/tests/wheels/installed.py" nearest_centroid.onnx
    for first in numpy nubracore; do /tmp/venv/bin/python "$source/tests/wheels/own_copies.py" $first; done
    /tmp/venv/bin/python "$source/examples/tour.py" > /dev/null
    cd "$source/tests/python"
    if "$python" -c "import pytest" 2> /dev/null; then
        for fast in $modes; do
            echo "NUBRACORE_FAST_PATHS=$fast:"
            NUBRACORE_FAST_PATHS=$fast /tmp/venv/bin/python -m pytest -q -p no:cacheprovider -p no:warnings ${left_out:+-k "not $left_out"} $tests
        done
    fi
    /tmp/venv/bin/python "$source/tests/wheels/transcript.py" 20261209 /tmp/nearest_centroid.onnx "$transcript"' \
    run "$python" "$source" "${wheels[0]}" "$tests" "$transcript" "$modes" "$left_out"

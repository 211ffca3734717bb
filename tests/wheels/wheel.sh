#!/usr/bin/env bash
# A wheel as a user gets it: installed by pip alone, offline, into a plain
# venv of its interpreter; then, from another folder and with Debian's
# OpenBLAS, LAPACK(E), gfortran and quadmath hidden, imported, the tour run,
# the numpy-free tests run with Debian's pytest, and the seeded transcript
# written to OUT/transcript-VERSION.txt.
# Where the interpreter has numpy (Debian's), the wheel also goes into a
# venv that sees it, and each module maps its own libraries in either
# import order.
# Skipped (77) where there is no interpreter of that version, or not as root.
#   wheel.sh VERSION SOURCE OUT
set -euo pipefail
version=$1 source=$(realpath "$2") out=$3
rm -f "$out/transcript-$version.txt"
python=$("$source/scripts/pythons" "$version")
[ -n "$python" ] || { echo "skipped: no CPython $version here"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "skipped: hiding Debian's BLAS stack takes root (unshare -m)"; exit 77; }
shopt -s nullglob
wheels=("$source"/dist/nubracore-*-cp${version/./}-*_"$(uname -m)".whl)
[ ${#wheels[@]} -eq 1 ] || { echo "want one wheel for $version in dist/ (make wheels), found ${#wheels[@]}"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$python" -m venv "$tmp/venv"
"$tmp/venv/bin/pip" install --quiet --no-index --disable-pip-version-check "${wheels[0]}"

# Debian's pytest is pure Python: its packages alone, on the path.
mkdir "$tmp/pytest"
for p in _pytest pytest pluggy iniconfig packaging attr py.py; do ln -s "/usr/lib/python3/dist-packages/$p" "$tmp/pytest/"; done
cp "$source/examples/models/nearest_centroid.onnx" "$tmp"
mkdir -p "$out"

cd "$tmp"
unshare -m bash -c '
    set -e
    lib=/usr/lib/x86_64-linux-gnu
    for d in openblas-pthread blas lapack; do mount -t tmpfs none $lib/$d; done
    for f in liblapacke.so.3 libgfortran.so.5 libquadmath.so.0; do mount --bind /dev/null "$(realpath $lib/$f)"; done
    [ -z "$(ls $lib/openblas-pthread)" ]
    exec "$@"' hide bash -c '
    set -e
    "$1"/venv/bin/python "$2"/tests/wheels/installed.py "$1"/nearest_centroid.onnx
    "$1"/venv/bin/python "$2"/examples/tour.py > /dev/null
    PYTHONPATH="$1"/pytest "$1"/venv/bin/python -m pytest -q -p no:cacheprovider -p no:warnings \
        "$2"/tests/python/test_containers.py "$2"/tests/python/test_module.py "$2"/tests/python/test_reference.py \
        "$2"/tests/python/test_interpreter.py "$2"/tests/python/test_quiet.py
    "$1"/venv/bin/python "$2"/tests/wheels/transcript.py 20261209 "$1"/nearest_centroid.onnx "$3"' \
    run "$tmp" "$source" "$out/transcript-$version.txt"

if "$python" -c "import numpy" 2> /dev/null; then
    "$python" -m venv --system-site-packages "$tmp/numpy-venv"
    "$tmp/numpy-venv/bin/pip" install --quiet --no-index --disable-pip-version-check "${wheels[0]}"
    for first in numpy nubracore; do "$tmp/numpy-venv/bin/python" "$source/tests/wheels/own_copies.py" $first; done
fi

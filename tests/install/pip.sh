#!/usr/bin/env bash
# The Python package: pip installs a clone of the repository (its committed
# state) into a new plain venv, offline, with nothing but pip in it; with the
# clone gone, the module runs a model from another folder, reports its
# version, and mypy finds its stubs; pip uninstall then leaves nothing
# behind. An editable install is refused with the reason.
#   pip.sh SOURCE VERSION
set -euo pipefail
source=$(realpath "$1") version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

git clone --quiet "$source" "$tmp/clone"
/usr/bin/python3 -m venv "$tmp/venv"
if "$tmp/venv/bin/pip" install --no-index -e "$tmp/clone" > "$tmp/editable.out" 2>&1; then
    echo "pip install -e was not refused"
    exit 1
fi
grep -q "nubracore has no editable install" "$tmp/editable.out" || { cat "$tmp/editable.out"; exit 1; }
"$tmp/venv/bin/pip" install --quiet --no-index "$tmp/clone"
cp "$source/examples/models/nearest_centroid.onnx" "$tmp"
rm -rf "$tmp/clone"

cd "$tmp"
"$tmp/venv/bin/python" - "$version" <<'PYTHON'
import importlib.metadata
import sys

import nubracore

assert importlib.metadata.version("nubracore") == sys.argv[1]
model = nubracore.model("nearest_centroid.onnx")
model.set(0, [0, 0], 3.0)
model.set(0, [0, 1], 1.0)
model.run()
assert [model.get(0, [0, k]) for k in range(3)] == [0.0, 4.0, -4.0]
PYTHON

printf 'import nubracore\n\nnubracore.dot(nubracore.vecd(1), nubracore.vecs(1))\n' > wrong.py
if /usr/bin/python3 -m mypy --python-executable "$tmp/venv/bin/python" --cache-dir "$tmp/cache" wrong.py > mypy.out; then
    echo "mypy missed the wrong call"
    exit 1
fi
grep -q 'wrong.py:3: error: No overload variant of "dot"' mypy.out || { cat mypy.out; exit 1; }

"$tmp/venv/bin/pip" uninstall --quiet --yes nubracore
site=$("$tmp/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
if ls "$site" | grep -i nubra; then
    echo "left behind by pip uninstall"
    exit 1
fi

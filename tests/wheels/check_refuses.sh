#!/usr/bin/env bash
# The wheel check refuses the module as the build folder holds it: it needs
# Debian's OpenBLAS and LAPACKE and searches the ONNX Runtime copy in .deps.
#   check_refuses.sh SOURCE MODULE
set -euo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$2" "$tmp"
if /usr/bin/python3 "$1/scripts/wheel_backend.py" check "$tmp" > "$tmp/out" 2>&1; then
    echo "the check passed a module that needs libraries outside the wheel"
    exit 1
fi
cat "$tmp/out"
grep -q "needs libopenblas.so.0" "$tmp/out"
grep -q "needs liblapacke.so.3" "$tmp/out"
grep -q "searches .*/.deps/onnxruntime/lib" "$tmp/out"

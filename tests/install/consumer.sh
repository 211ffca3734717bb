#!/usr/bin/env bash
# The C++ package: installs the build into a new prefix, which must not
# refer to the source or build tree, then builds and runs the example
# consumer from a copy outside the source tree against that prefix, with a
# utils.h and a types/Vector.h of the consumer's own on its include path
# that the package's headers must not pick up.
#   consumer.sh BUILD SOURCE
set -euo pipefail
build=$(realpath "$1") source=$(realpath "$2")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" > /dev/null
if grep -rlI -e "$source" -e "$build" "$tmp/prefix"; then
    echo "the installed files above refer to the source or build tree"
    exit 1
fi
cp -r "$source/examples/consumer" "$source/examples/models/nearest_centroid.onnx" "$tmp"
mkdir -p "$tmp/own/types"
echo '#error "the consumer'"'"'s own utils.h"' > "$tmp/own/utils.h"
echo '#error "the consumer'"'"'s own types/Vector.h"' > "$tmp/own/types/Vector.h"
cmake -S "$tmp/consumer" -B "$tmp/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" -DCMAKE_CXX_FLAGS="-I$tmp/own" > /dev/null
cmake --build "$tmp/build" > /dev/null
"$tmp/build/consumer" "$tmp/nearest_centroid.onnx" | tee "$tmp/out"
grep -qx "\[ *6.00000000000000e+00\]" "$tmp/out"
grep -qx "\[ *1.50000000000000e+01\]" "$tmp/out"
grep -qx "scores 0 4 -4" "$tmp/out"

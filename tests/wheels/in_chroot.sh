#!/usr/bin/env bash
# Runs COMMAND in the chroot of SUITE (scripts/chroot, made or found in the
# cache) in a mount namespace of its own: with /proc, /sys, /dev, an empty /tmp,
# SOURCE read-only and OUT writable, each at its own path; a clean
# environment but for the caller's OPENBLAS_* settings, which choose
# OpenBLAS's kernels and so the last bits of its results. In an arm64
# chroot, /proc/cpuinfo is an arm64 server's (cpuinfo-arm64): qemu-user
# shows the host's, which ONNX Runtime warns it can't read. Skipped (77)
# when not root.
#   in_chroot.sh SUITE SOURCE OUT COMMAND...
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "skipped: chroots take root"; exit 77; }
suite=$1 source=$(realpath "$2") out=$(realpath -m "$3")
shift 3
root=$("$source/scripts/chroot" "$suite")
cpuinfo=$([ "${suite%-arm64}" = "$suite" ] || echo "$source/tests/wheels/cpuinfo-arm64")
mkdir -p "$out"
exec unshare -m bash -c '
    set -e
    root=$1 source=$2 out=$3 cpuinfo=$4
    shift 4
    mount -t proc proc "$root/proc"
    [ -z "$cpuinfo" ] || mount --bind "$cpuinfo" "$root/proc/cpuinfo"
    mount -t sysfs sysfs "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
    for folder in "$source" "$out"; do mkdir -p "$root$folder"; mount --bind "$folder" "$root$folder"; done
    mount -o remount,bind,ro "$root$source"
    exec chroot "$root" env -i PATH=/usr/bin:/bin HOME=/tmp LANG=C.UTF-8 $(env | grep ^OPENBLAS_) "$@"' \
    in_chroot "$root" "$source" "$out" "$cpuinfo" "$@"

#!/usr/bin/env bash
# Runs an ARM64 Linux program on this machine under qemu-aarch64, with the system's arm64
# libraries (multiarch: libc6:arm64 and its iconv modules, libstdc++6:arm64) as its root.
#   scripts/qemu-aarch64-run.sh PROGRAM [ARGS...]
exec qemu-aarch64 -L / "$@"

#!/usr/bin/env bash
# Runs an ARM64 Linux program on this machine under qemu-aarch64, with the system's arm64
# libraries (multiarch: libc6:arm64 and its iconv modules, libstdc++6:arm64) as its root.
# idcard's reader process runs under the same emulator (qemu does not follow an exec).
#   scripts/qemu-aarch64-run.sh PROGRAM [ARGS...]
IDCARD_READER_LAUNCHER="$(command -v qemu-aarch64) -L /" exec qemu-aarch64 -L / "$@"

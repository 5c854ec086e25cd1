#!/usr/bin/env bash
# Sets everything up, builds, and starts the monitor. With no arguments it starts with the simulated
# controller on COM1; any arguments are passed to the program instead, e.g.
#   scripts/run.sh --port COM1=/dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja
cmake --build build
if [[ $# -eq 0 ]]; then set -- --demo; fi
exec build/bin/kestlsugraph "$@"

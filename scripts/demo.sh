#!/bin/sh
# The main job on a fresh machine: installs what is needed, builds the Linux
# library and its command-line host, and runs the demonstration (two phones,
# a small local store, IrMC and SyncML sessions with changes on both sides).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target zelsync zelsyncdll
exec build/linux/zelsync demo "$@"

#!/bin/sh
# Installs what is needed, builds both variants and the sanitizer build from
# nothing, and runs every test: Linux natively, Windows under Wine; then a
# short run of each fuzz target. First, that every include points down the
# layer list.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
echo "== layers"
python3 scripts/check-layers.py
rm -rf build/linux build/windows build/sanitize
for preset in linux windows sanitize; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
status=0
for preset in linux windows sanitize; do
  echo "== $preset: tests"
  ctest --preset "$preset" || status=1
done
# The readers and decoders under libFuzzer, a short bounded run of each.
rm -rf build/fuzz
scripts/fuzz.sh 12 || status=1
exit $status

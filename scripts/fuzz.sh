#!/bin/sh
# Builds the libFuzzer targets with clang (build/fuzz) and runs each from its
# seeds for SECONDS seconds (default 12; CI runs them about a minute in
# all). Longer runs: scripts/fuzz.sh 3600, or one target by hand:
#   build/fuzz/fuzz/codecs_fuzz -max_total_time=3600 fuzz/seeds/codecs
# New inputs found go into build/fuzz/corpus/<target>, crashes into
# build/fuzz/crashes/.
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-12}
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELSYNC_FUZZ=ON -DZELSYNC_TESTS=OFF -DZELSYNC_WERROR=OFF >/dev/null
cmake --build build/fuzz
mkdir -p build/fuzz/crashes
status=0
for target in vmessage_reader vnote_reader codecs store_readers bookkeeping_files; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== fuzz $target for ${SECONDS_EACH}s"
  if ! build/fuzz/fuzz/${target}_fuzz "$corpus" "fuzz/seeds/$target" -max_total_time="$SECONDS_EACH" \
      -rss_limit_mb=1024 -artifact_prefix=build/fuzz/crashes/"$target"- -print_final_stats=1 2>&1 |
      grep -E "^(stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)|Done [0-9]+ runs"; then
    :
  fi
  if ls build/fuzz/crashes/"$target"-* >/dev/null 2>&1; then status=1; fi
done
exit $status

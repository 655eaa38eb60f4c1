#!/bin/bash
# The session benchmark: builds a Release build, makes N contacts, and times
# through the command-line host a first session, a session with nothing to
# move, a session after ten contacts were edited on the PC and a first
# session from a phone holding the contacts to an empty PC store, for the IrMC
# and the SyncML road, side by side with vdirsyncer moving the same contacts
# between two folders. Then one call of each record bookkeeping export on a
# 10,000-record database against a `cat` of that file. Prints both tables.
#
#   bench/run.sh [--sizes "500 1000 2000 5000"] [--runs 3] [--first-runs 1]
#                [--build DIR] [--no-build] [--work DIR] [--skip-calls]
#
# Installs hyperfine and vdirsyncer (Debian packages) when they are missing.
set -euo pipefail

BENCH=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(dirname "$BENCH")

# --- Steps run by hyperfine before each timed run -----------------------
if [[ ${1:-} == step ]]; then
  what=$2 dir=$3
  case $what in
    reset-zelsync)  # a fresh PC store holding the contacts, no sync state, no phone
      rm -rf "$dir/store" "$dir/data" "$dir/run" "$dir/tmp" "$dir/phone"
      mkdir -p "$dir/store" "$dir/data" "$dir/tmp"
      mkdir -m 700 "$dir/run"
      cp -r "$dir/../contacts" "$dir/store/contacts" ;;
    reset-vdirsyncer)  # the contacts in folder a, folder b empty, no status
      rm -rf "$dir/a" "$dir/b" "$dir/status"
      cp -r "$dir/../contacts" "$dir/a"
      mkdir -p "$dir/b"
      VDIRSYNCER_CONFIG=$dir/config vdirsyncer discover contacts </dev/null >/dev/null 2>&1 ;;
    reset-phone)  # an empty PC store, no sync state, a phone holding the contacts
      rm -rf "$dir/store" "$dir/data" "$dir/run" "$dir/tmp" "$dir/phone"
      mkdir -p "$dir/store" "$dir/data" "$dir/tmp" "$dir/phone"
      mkdir -m 700 "$dir/run"
      cp -r "$dir/../contacts" "$dir/phone/contacts" ;;
    edit-zelsync) python3 "$BENCH/contacts.py" edit 10 "$dir/store/contacts" ;;
    edit-vdirsyncer) python3 "$BENCH/contacts.py" edit 10 "$dir/a" ;;
    *) echo "unknown step $what" >&2; exit 2 ;;
  esac
  exit 0
fi

SIZES="500 1000 2000 5000"
RUNS=3
FIRST_RUNS=1
BUILD=$SOURCE/build/bench
WORK=${TMPDIR:-/tmp}/zelsync-bench
DO_BUILD=1
DO_CALLS=1
while [[ $# -gt 0 ]]; do
  case $1 in
    --sizes) SIZES=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --first-runs) FIRST_RUNS=$2; shift 2 ;;
    --build) BUILD=$2; shift 2 ;;
    --no-build) DO_BUILD=0; shift ;;
    --work) WORK=$2; shift 2 ;;
    --skip-calls) DO_CALLS=0; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
command -v vdirsyncer >/dev/null || missing+=(vdirsyncer)
if [[ ${#missing[@]} -gt 0 ]]; then
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [[ $DO_BUILD == 1 ]]; then
  cmake -S "$SOURCE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELSYNC_TESTS=OFF \
    -DZELSYNC_BENCHMARKS=$DO_CALLS >/dev/null
  cmake --build "$BUILD" --target zelsync zelsyncdll $([[ $DO_CALLS == 1 ]] && echo record_calls_bench) >/dev/null
fi
ZELSYNC=$BUILD/zelsync
[[ -x $ZELSYNC ]] || { echo "no host at $ZELSYNC" >&2; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK/results"

session() {  # road dir: one session of the host against the phone in dir
  echo "env ZELSYNC_STORE=$2/store XDG_DATA_HOME=$2/data XDG_RUNTIME_DIR=$2/run" \
       "XDG_CONFIG_HOME=$2/config TMPDIR=$2/tmp $ZELSYNC sync $1 --device $2/phone"
}

vdir_config() {  # dir
  cat >"$1/config" <<EOF
[general]
status_path = "$1/status/"
[pair contacts]
a = "contacts_a"
b = "contacts_b"
collections = null
conflict_resolution = "a wins"
[storage contacts_a]
type = "filesystem"
path = "$1/a/"
fileext = ".vcf"
[storage contacts_b]
type = "filesystem"
path = "$1/b/"
fileext = ".vcf"
EOF
}

check_moved() {  # n: every contact reached the phones and folder b
  local n=$1 dir=$WORK/$1 count
  for road in irmc syncml; do
    count=$(find "$dir/$road/phone/contacts" -name '*.vcf' | wc -l)
    [[ $count == "$n" ]] || { echo "$road phone holds $count of $n contacts" >&2; exit 1; }
  done
  count=$(find "$dir/vdirsyncer/b" -name '*.vcf' | wc -l)
  [[ $count == "$n" ]] || { echo "vdirsyncer's folder b holds $count of $n contacts" >&2; exit 1; }
}

for n in $SIZES; do
  dir=$WORK/$n
  mkdir -p "$dir/irmc" "$dir/syncml" "$dir/vdirsyncer"
  python3 "$BENCH/contacts.py" make "$n" "$dir/contacts"
  vdir_config "$dir/vdirsyncer"
  vdir="env VDIRSYNCER_CONFIG=$dir/vdirsyncer/config vdirsyncer -v ERROR sync"
  step="$0 step"
  echo "== $n contacts" >&2
  hyperfine -N --style basic --runs "$FIRST_RUNS" --export-json "$WORK/results/$n-first.json" \
    -n irmc -p "$step reset-zelsync $dir/irmc" "$(session irmc "$dir/irmc")" \
    -n syncml -p "$step reset-zelsync $dir/syncml" "$(session syncml "$dir/syncml")" \
    -n vdirsyncer -p "$step reset-vdirsyncer $dir/vdirsyncer" "$vdir" >&2
  check_moved "$n"
  hyperfine -N --style basic --runs "$RUNS" --export-json "$WORK/results/$n-nochange.json" \
    -n irmc "$(session irmc "$dir/irmc")" -n syncml "$(session syncml "$dir/syncml")" \
    -n vdirsyncer "$vdir" >&2
  hyperfine -N --style basic --runs "$RUNS" --export-json "$WORK/results/$n-edits.json" \
    -n irmc -p "$step edit-zelsync $dir/irmc" "$(session irmc "$dir/irmc")" \
    -n syncml -p "$step edit-zelsync $dir/syncml" "$(session syncml "$dir/syncml")" \
    -n vdirsyncer -p "$step edit-vdirsyncer $dir/vdirsyncer" "$vdir" >&2
  # The other way: a phone full of contacts meets an empty PC store.
  hyperfine -N --style basic --runs "$FIRST_RUNS" --export-json "$WORK/results/$n-fromphone.json" \
    -n irmc -p "$step reset-phone $dir/irmc" "$(session irmc "$dir/irmc")" \
    -n syncml -p "$step reset-phone $dir/syncml" "$(session syncml "$dir/syncml")" \
    -n vdirsyncer -p "$step reset-vdirsyncer $dir/vdirsyncer" "$vdir" >&2
  for road in irmc syncml; do
    count=$(find "$dir/$road/store/contacts" -name '*.vcf' | wc -l)
    [[ $count == "$n" ]] || { echo "$road: the PC store holds $count of $n contacts" >&2; exit 1; }
  done
  rm -rf "$dir"
done

if [[ $DO_CALLS == 1 ]]; then
  calls=$WORK/calls
  mkdir -p "$calls"
  # The database of the call benchmark, for `cat`: 4-byte counter, 10,000 records.
  python3 -c "
import sys
with open(sys.argv[1], 'wb') as out:
    out.write(bytes(4))
    for n in range(10000):
        field = lambda s: s.encode('utf-16-le').ljust(520, b'\0')
        out.write((2).to_bytes(4, 'little') + field('bench-entry-%d' % n) + field('%d' % (100000 + n)))
" "$calls/database.DAT"
  hyperfine -N --style basic --warmup 3 --runs 30 --export-json "$WORK/results/cat.json" \
    -n cat "cat $calls/database.DAT" >&2
  TMPDIR=$calls "$BUILD/bench/record_calls_bench" --benchmark_format=json \
    --benchmark_out="$WORK/results/calls.json" --benchmark_out_format=json >/dev/null
fi

python3 "$BENCH/report.py" "$WORK/results" $SIZES

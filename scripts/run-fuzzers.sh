#!/usr/bin/env bash
# Runs every fuzz_* program in BINDIR for SECONDS each, with a corpus folder per target under BINDIR/corpus.
# Seeds checked in under fuzz/seeds/<target>/ are used when present.
set -euo pipefail
BINDIR=$1
SECONDS_EACH=${2:-20}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
status=0
for f in "$BINDIR"/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$BINDIR/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$ROOT/fuzz/seeds/$name" ] && seeds=("$ROOT/fuzz/seeds/$name")
  echo "== $name (${SECONDS_EACH}s)"
  if ! "$f" -max_total_time="$SECONDS_EACH" -print_final_stats=1 "$corpus" "${seeds[@]}" 2> "$BINDIR/$name.log"; then
    status=1
    tail -40 "$BINDIR/$name.log"
  fi
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$BINDIR/$name.log" || true
done
exit $status

#!/usr/bin/env bash
# Runs every benchmark in bench/ against the build given as $1; a second
# argument --quick runs each once on small inputs (to see that it works).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
quick=${2:-}
for b in bench/[!_]*.py; do
  echo "== $b"
  PYTHONPATH="$build" .venv/bin/python "$b" $quick
done
# Only the executables: meson keeps each one's objects in a folder beside it.
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $b"
  "$b" $quick
done

#!/usr/bin/env bash
# Runs every benchmark in bench/ against the build given as $1.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
for b in bench/[!_]*.py; do
  echo "== $b"
  PYTHONPATH="$build" .venv/bin/python "$b"
done
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $b"
  "$b"
done

#!/usr/bin/env bash
# Runs every benchmark in bench/ against the build given as $1; a second
# argument --quick runs each once on small inputs (to see that it works).
# Every benchmark runs, whatever the others gave; the exit status is 1 when
# any of them failed (a wrong result, a leak), and the failures are listed.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
quick=${2:-}
failed=()
for b in bench/[!_]*.py; do
  echo "== $b"
  PYTHONPATH="$build" .venv/bin/python "$b" $quick || failed+=("$b (exit status $?)")
done
# Only the executables: meson keeps each one's objects in a folder beside it.
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $b"
  "$b" $quick || failed+=("$b (exit status $?)")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "== benchmarks that failed:"
  printf '  %s\n' "${failed[@]}"
  exit 1
fi

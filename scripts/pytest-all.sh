#!/usr/bin/env bash
# Runs tests/python against one build of the module, on every CPython >= 3.12
# that scripts/setup.sh found (.venv and the .venv-3.x listed in .venv-pythons).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
venvs=(.venv)
[ -f .venv-pythons ] && mapfile -t -O 1 venvs < .venv-pythons
status=0
for v in "${venvs[@]}"; do
  echo "== pytest on $("$v/bin/python" -c 'import sys; print(sys.version.split()[0])') ($v)"
  PYTHONPATH="$build:$build/tests/python/probe" "$v/bin/python" -m pytest -q -p no:cacheprovider tests/python || status=$?
done
exit $status

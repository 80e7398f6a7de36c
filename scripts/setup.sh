#!/usr/bin/env bash
# Installs what the project needs and is missing: Debian packages with
# apt-get, then one virtual environment per CPython >= 3.12 on the machine.
# .venv is made from the oldest such CPython and is the one that builds;
# the others (.venv-3.13, ...) only run the tests against the same build.
# Usage: scripts/setup.sh [extra Debian packages...]
set -euo pipefail
cd "$(dirname "$0")/.."

debs=(g++ make pkg-config libfftw3-dev libgtest-dev "$@")
missing=()
for p in "${debs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Debian's own python3 (3.13 on Debian 13) needs its venv and headers packages.
if [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import sys; sys.exit(sys.version_info < (3, 12))'; then
  v=$(/usr/bin/python3 -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
  for p in "python$v-venv" "python$v-dev"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Every CPython >= 3.12 we can find, one per minor version, oldest first.
declare -A seen=()
found=()
candidates=()
for root in "${PYENV_ROOT:-}" "$HOME/.pyenv" /root/.pyenv /opt/pyenv; do
  [ -n "$root" ] && [ -d "$root/versions" ] && candidates+=("$root"/versions/*/bin/python3)
done
candidates+=(/usr/bin/python3 /usr/bin/python3.1[2-9] /usr/local/bin/python3 /usr/local/bin/python3.1[2-9])
for c in "${candidates[@]}"; do
  [ -x "$c" ] || continue
  v=$("$c" -c 'import sys; print("%d.%d" % sys.version_info[:2]) if sys.version_info >= (3, 12) and sys.implementation.name == "cpython" else None' 2>/dev/null) || continue
  [ "$v" = "None" ] || [ -z "$v" ] && continue
  [ -n "${seen[$v]:-}" ] && continue
  seen[$v]=$c
  found+=("$v")
done
if [ ${#found[@]} -eq 0 ]; then
  echo "setup: no CPython >= 3.12 found (looked in pyenv's versions and /usr/bin, /usr/local/bin)" >&2
  exit 1
fi
IFS=$'\n' sorted=($(printf '%s\n' "${found[@]}" | sort -t. -k1,1n -k2,2n)); unset IFS

make_venv() {  # make_venv DIR PYTHON REQUIREMENTS
  local dir=$1 python=$2 req=$3
  local stamp="$dir/.requirements"
  if [ -x "$dir/bin/python" ] && [ -f "$stamp" ] && cmp -s "$req" "$stamp"; then
    return
  fi
  echo "setup: $dir from $python"
  [ -x "$dir/bin/python" ] || "$python" -m venv "$dir"
  "$dir/bin/python" -m pip install -q --disable-pip-version-check -r "$req"
  cp "$req" "$stamp"
}

first=${sorted[0]}
make_venv .venv "${seen[$first]}" requirements.txt
rm -f .venv-pythons
for v in "${sorted[@]:1}"; do
  make_venv ".venv-$v" "${seen[$v]}" requirements-test.txt
  echo ".venv-$v" >> .venv-pythons
done

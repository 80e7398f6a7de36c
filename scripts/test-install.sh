#!/usr/bin/env bash
# Installs the project with `pip install .` into a bare virtual environment
# made from .venv's interpreter, then checks what landed in site-packages:
# the module imports, its stub lies beside it and in the stub-only package
# vatel_sdr-stubs, no py.typed sits at the top of site-packages, and mypy
# run against that environment sees the module's types.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
base=$(.venv/bin/python -c 'import sys; print(sys._base_executable)')
"$base" -m venv "$tmp/venv"
"$tmp/venv/bin/python" -m pip install -q --disable-pip-version-check . >"$tmp/pip.log" 2>&1 ||
  { cat "$tmp/pip.log"; exit 1; }
site=$("$tmp/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
status=0
[ ! -e "$site/py.typed" ] || { echo "test-install: py.typed at the top of $site"; status=1; }
[ -f "$site/vatel_sdr.pyi" ] || { echo "test-install: no vatel_sdr.pyi beside the module"; status=1; }
[ -f "$site/vatel_sdr-stubs/__init__.pyi" ] || { echo "test-install: no vatel_sdr-stubs package"; status=1; }
(cd "$tmp" && "$tmp/venv/bin/python" -c 'import vatel_sdr; assert len(vatel_sdr.__all__) == 70') || status=1
cat > "$tmp/use.py" <<'PY'
import numpy as np
import vatel_sdr as v

reveal_type(v.QpskMod(48000.0, 0.0, 1.0).process(np.zeros(8, np.uint8)))
v.QpskMod("fast", 0.0, 1.0)
PY
out=$(cd "$tmp" && MYPY_CACHE_DIR="$tmp/cache" "$OLDPWD/.venv/bin/python" -m mypy \
        --python-executable "$tmp/venv/bin/python" --no-error-summary use.py || true)
echo "$out" | grep -q 'complexfloating' || { echo "test-install: mypy did not see the types:"; echo "$out"; status=1; }
echo "$out" | grep -q 'use.py:5: error' || { echo "test-install: mypy accepted a wrong argument:"; echo "$out"; status=1; }
[ $status -eq 0 ] && echo "test-install: pip install . into a bare environment: module, stubs and types as they should be"
exit $status

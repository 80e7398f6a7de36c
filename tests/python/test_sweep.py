"""Every callable of the module, called the way a careless or hostile caller
would, returns or raises one of the calling conventions' errors: never a
crash, an abort, a hang or runaway memory (tools/sweep.py does the work)."""

import os
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SWEEP = ROOT / "tools" / "sweep.py"


def under_asan():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


def test_hostile_calls_never_crash_hang_or_exhaust_memory():
    # A fixed seed set, so a failure replays; the sanitizer build is several
    # times slower and sweeps fewer of them.
    asan = under_asan()
    cmd = [sys.executable, str(SWEEP), "--seeds", "1-4" if asan else "1-32", "--calls", "3000"]
    if asan:
        cmd += ["--asan", "--call-timeout", "60"]
    run = subprocess.run(cmd, capture_output=True, text=True, env=dict(os.environ), timeout=900)
    print(run.stdout)
    assert run.returncode == 0, run.stdout + run.stderr[-4000:]
    reached = re.search(r"(\d+) of (\d+) callables called, (\d+) reached", run.stdout)
    assert reached and int(reached.group(3)) > 0, run.stdout

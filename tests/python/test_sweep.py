"""Every callable of the module, called the way a careless or hostile caller
would, returns or raises one of the calling conventions' errors: never a
crash, an abort, a hang or runaway memory (tools/sweep.py does the work)."""

import os
import re
import subprocess
import sys
from pathlib import Path

from conftest import under_asan

ROOT = Path(__file__).resolve().parents[2]
SWEEP = ROOT / "tools" / "sweep.py"


# What the seeds below never take past argument binding: the constructors
# of the result classes, which the module alone creates, and the getters of
# the one result that only a matched super-frame decode returns.
NO_CONSTRUCTOR = {"DvbTFrame", "DvbTRxFrame", "DvbTRxSuperFrame", "DvbTSuperFrame", "OfdmRxFrame", "TpsWord"}
ONLY_FROM_A_MATCHED_DECODE = {"DvbTRxSuperFrame.payload", "DvbTRxSuperFrame.cell_id"}


def unreached(summary):
    """The callables the sweep never called or never took past the argument
    checks, from its summary."""
    names = set()
    for label in ("never past the argument checks", "never called"):
        m = re.search(rf"^sweep: {label}: (.*)$", summary, re.MULTILINE)
        if m:
            names |= set(m.group(1).split(", "))
    return names


def test_hostile_calls_never_crash_hang_or_exhaust_memory():
    # A fixed seed set, so a failure replays; the sanitizer build is several
    # times slower and sweeps fewer of them.
    asan = under_asan()
    cmd = [sys.executable, str(SWEEP), "--seeds", "1-12" if asan else "1-64", "--calls", "3000"]
    if asan:
        cmd += ["--asan", "--call-timeout", "300"]
    run = subprocess.run(cmd, capture_output=True, text=True, env=dict(os.environ), timeout=900)
    print(run.stdout)
    assert run.returncode == 0, run.stdout + run.stderr[-4000:]
    counts = re.search(r"(\d+) of (\d+) callables called, (\d+) reached", run.stdout)
    assert counts, run.stdout
    missed = unreached(run.stdout)
    assert int(counts.group(2)) - int(counts.group(3)) == len(missed), run.stdout
    if asan:
        # Fewer seeds, and calls that allocate more here than the plain
        # build's address-space limit allows, take another path: the set is
        # not fixed, only the constructors that cannot be called are in it.
        assert missed >= NO_CONSTRUCTOR, run.stdout
    else:
        assert missed == NO_CONSTRUCTOR | ONLY_FROM_A_MATCHED_DECODE, run.stdout


FAKE = '''
import os, signal, time
__all__ = ["Ok", "fault"]

class PanicException(BaseException):  # what the binding layer raises, by name
    pass

class Ok:
    def fine(self, *args):
        return None

def fault(*args, **kwargs):
    {body}

# A receiver's parameter, so that the sweep draws from its real-signal pool.
fault.__text_signature__ = "(iq)"
'''

# A transmitter of the real-signal pool that fails on a well-formed call.
BROKEN_TRANSMITTER = '''
def DvbTFrameParams(*args):
    raise ValueError("transmitter broken")

DvbTFrameMod = DvbTFrameParams
'''


def test_sweep_reports_a_signal_an_abort_a_hang_and_a_foreign_exception(tmp_path):
    # The sweep is only worth its time if it notices: each of these must fail
    # the run with the seed and a replay command; a refusal the module makes
    # on purpose (a listed text, a refused allocation) must not.
    off_list = "with a text that is not a deliberate refusal"
    cases = [
        # (ASan's own handler turns a SIGSEGV into a report and exit status 1)
        ("os.kill(os.getpid(), signal.SIGSEGV)", "", "killed by signal SIGSEGV|exit status 1 during call"),
        ("os.abort()", "", "killed by signal SIGABRT"),
        ("time.sleep(60)", "", "no progress for 2.0 s"),
        ("raise KeyError('x')", "", "raised builtins.KeyError"),
        # An exception of the C++ library that the binding layer let through.
        ("raise PanicException('vector::_M_fill_insert')", "", "raised PanicException " + off_list),
        ("raise RuntimeError('std::bad_function_call')", "", "raised RuntimeError " + off_list),
        ("return None", BROKEN_TRANSMITTER,
         "the transmitter of the real-signal pool, DvbTFrame\\(1/32, qpsk, 1/2, 188 bytes\\).iq, failed: "
         "ValueError: transmitter broken"),
        ("return bytearray(1 << 31)", "", None),
        ("raise PanicException('mcs_index must be in the MCS table')", "", None),
        ("raise RuntimeError('Already borrowed')", "", None),
    ]
    for i, (body, extra, expected) in enumerate(cases):
        name = f"fake_module_{i}"
        (tmp_path / f"{name}.py").write_text(FAKE.replace("{body}", body) + extra)
        env = dict(os.environ, PYTHONPATH=f"{tmp_path}:{os.environ.get('PYTHONPATH', '')}")
        run = subprocess.run([sys.executable, str(SWEEP), "--module", name, "--seeds", "3", "--calls", "50",
                              "--call-timeout", "2", "--mem-mb", "1024"] + (["--asan"] if under_asan() else []),
                             capture_output=True, text=True, env=env, timeout=120)
        if expected is None:
            assert run.returncode == 0, (body, run.stdout)
            continue
        assert run.returncode == 1, (body, run.stdout)
        assert "sweep failure: seed 3:" in run.stdout and re.search(expected, run.stdout), (body, run.stdout)
        assert f"--module {name} --replay 3 --calls 50" in run.stdout, run.stdout

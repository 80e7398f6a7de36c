#!/usr/bin/env python3
"""Hostile-call sweep over every callable of vatel_sdr.

The callables are found, not listed: every name of `vatel_sdr.__all__`, the
constructor, methods, static methods, properties and a few special methods
of each class, with their parameters read from `__text_signature__`.  Each
seed drives one child process through a fixed number of calls: constructors
first, then a random mix of every callable on the objects built so far, with
arguments drawn from a pool of what a careless or hostile caller passes
(wrong types, None, extreme integers and floats, arrays of every wrong
dtype, shape, byte order and stride, arrays of NaN and inf, very long
arrays, objects of the other classes) and of well-formed values, so that
calls also reach the bodies.

A call passes when it returns or raises TypeError, ValueError,
OverflowError or MemoryError, or a RuntimeError or PanicException whose text
is a refusal the module makes on purpose: one of the patterns of
tools/sweep_allowed_panics.txt.  Any other text of those two (an exception
of the C++ library that leaked through, an invariant the caller should
never be able to reach) fails the call.  The child must not die by a
signal, abort, hang past the time limit or grow past the memory limit.  A
failure prints the seed and the call, and the command that replays the seed
call by call.  The summary tallies the refusals by pattern.

    python tools/sweep.py --seeds 1-8 --calls 2000          # fixed seeds
    python tools/sweep.py --duration 1800 --first-seed 1000 # fresh seeds, as long as asked
    python tools/sweep.py --replay 7 --calls 2000           # one seed, verbose, in-process

The module is imported from PYTHONPATH (for example PYTHONPATH=build).
"""

import argparse
import importlib
import json
import math
import os
import random
import re
import resource
import select
import signal
import subprocess
import sys
import time
import warnings

ALLOWED = (TypeError, ValueError, OverflowError, MemoryError, RuntimeError)
ALLOW_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sweep_allowed_panics.txt")

# Messages of argument binding (they come before the self borrow and the
# conversions); a call that fails with one of them never reached the body.
BINDING_MESSAGES = re.compile(
    r"positional argument|got multiple values|unexpected keyword|takes no arguments|"
    r"cannot create '|takes exactly one argument")
CONVERSION_MESSAGES = re.compile(
    r"^argument '|expected a sequence of length|out of range integral type conversion|"
    r"Already borrowed|Already mutably borrowed|int too big|can't convert negative|"
    r"too large to convert|cannot convert float")


def is_panic(exc):
    return type(exc).__name__ == "PanicException" and not isinstance(exc, Exception)


class SweepBroken(Exception):
    """The sweep itself cannot go on as designed (not a finding about a call)."""


def load_allowed(path):
    """The allow-list: {"PanicException": [pattern, ...], "RuntimeError": [...]}.

    Each line is a kind, a colon and a regular expression that must match the
    whole text; '#' starts a comment line."""
    allowed = {"PanicException": [], "RuntimeError": []}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            kind, sep, pattern = line.partition(": ")
            if not sep or kind not in allowed:
                raise SweepBroken(f"{path}:{number}: expected 'PanicException: <regex>' or "
                                  f"'RuntimeError: <regex>', got {line!r}")
            allowed[kind].append((pattern, re.compile(pattern, re.DOTALL)))
    return allowed


def judged_kind(exc):
    """'PanicException' or 'RuntimeError' for the two kinds whose texts are
    judged against the allow-list, None for the others."""
    if is_panic(exc):
        return "PanicException"
    if isinstance(exc, RuntimeError):
        return "RuntimeError"
    return None


# ---------------------------------------------------------------------------
# Enumeration

def parse_signature(sig):
    """'($self, a, b=1)' -> (has_self, [(name, optional), ...]); None if absent."""
    if sig is None:
        return None
    inner = sig.strip()[1:-1]
    params, depth, cur = [], 0, ""
    for ch in inner:
        if ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        if ch == "," and depth == 0:
            params.append(cur.strip())
            cur = ""
        else:
            cur += ch
    if cur.strip():
        params.append(cur.strip())
    has_self = bool(params) and params[0] in ("$self", "$type", "$cls")
    if has_self:
        params = params[1:]
    out = []
    for p in params:
        if p in ("/", "*") or p.startswith("*"):
            continue
        name, _, default = p.partition("=")
        out.append((name.strip(), bool(default)))
    return has_self, out


class Callable:
    def __init__(self, key, kind, owner, name, params):
        self.key, self.kind, self.owner, self.name = key, kind, owner, name
        self.params = params  # list of (name, optional) or None when unknown

    def __repr__(self):
        return self.key


SPECIAL = ("__repr__", "__len__", "__eq__", "__ne__", "__str__", "__bool__", "__hash__")


def enumerate_callables(mod):
    callables, classes = [], []
    for name in mod.__all__:
        obj = getattr(mod, name)
        if isinstance(obj, type):
            classes.append(obj)
            sig = parse_signature(getattr(obj, "__text_signature__", None))
            callables.append(Callable(name, "ctor", obj, name, sig[1] if sig else []))
            for attr, desc in vars(obj).items():
                kind = type(desc).__name__
                if attr in SPECIAL and kind in ("wrapper_descriptor", "slot wrapper"):
                    callables.append(Callable(f"{name}.{attr}", "special", obj, attr, None))
                    continue
                if attr.startswith("_"):
                    continue
                if isinstance(desc, (staticmethod, classmethod)):
                    fn = getattr(obj, attr)
                    sig = parse_signature(getattr(fn, "__text_signature__", None))
                    callables.append(Callable(f"{name}.{attr}", "static", obj, attr,
                                              sig[1] if sig else None))
                elif kind in ("getset_descriptor", "member_descriptor", "property"):
                    callables.append(Callable(f"{name}.{attr}", "property", obj, attr, []))
                elif callable(desc):
                    sig = parse_signature(getattr(desc, "__text_signature__", None))
                    callables.append(Callable(f"{name}.{attr}", "method", obj, attr,
                                              sig[1] if sig else None))
        elif callable(obj):
            sig = parse_signature(getattr(obj, "__text_signature__", None))
            callables.append(Callable(name, "function", None, name, sig[1] if sig else None))
    return callables, classes


# ---------------------------------------------------------------------------
# Values

class V:
    """A value with the short text that names it in a replayed call."""

    __slots__ = ("value", "text", "kind")

    def __init__(self, value, text, kind):
        self.value, self.text, self.kind = value, text, kind


class Reenter:
    """A number whose conversion calls a method of a module object, the one
    being called among them (the borrow must refuse the re-entry)."""

    depth = 0

    def __init__(self, sweep):
        self.sweep = sweep

    def _poke(self):
        sw = self.sweep
        if Reenter.depth:
            return
        target = sw.current
        if target is not None:
            methods = [c for c in sw.callables if c.kind == "method" and isinstance(target.value, c.owner)]
        else:
            methods = [c for c in sw.callables if c.kind == "method" and sw.objects.get(c.owner.__name__)]
        if not methods:
            return
        c = methods[sw.rng.randrange(len(methods))]
        if target is None:
            target = sw.rng.choice(sw.objects[c.owner.__name__])
        args = []
        for p, optional in c.params or []:
            if not optional:
                v = sw.good(p) or sw.of_kind("float")
                args.append(v.value)
        Reenter.depth += 1
        try:
            getattr(target.value, c.name)(*args)
        except BaseException as e:
            if not (isinstance(e, ALLOWED) or is_panic(e)):
                raise
            # Judged when the outer call ends: raising here would only become
            # that call's conversion error.
            if sw.refusal(e) is None and sw.inner_failure is None:
                sw.inner_failure = f"{c.key} inside a conversion raised {type(e).__name__}: {str(e)!r}"
        finally:
            Reenter.depth -= 1

    def __float__(self):
        self._poke()
        return 1.0

    def __index__(self):
        self._poke()
        return 1


class Sub(str):
    pass


class BytesSub(bytes):
    pass


class IntSub(int):
    def __index__(self):
        return 2**70


class FloatSub(float):
    pass


def _array_subclass():
    import numpy as np

    class ArraySub(np.ndarray):
        pass
    return ArraySub


class BadNumber:
    """A number whose conversions fail with the interpreter's own errors."""

    def __float__(self):
        raise TypeError("no float for you")

    def __index__(self):
        raise OverflowError("no index for you")

    def __len__(self):
        raise ValueError("no length for you")


class Sweep:
    def __init__(self, mod, seed, verbose=False, long_len=1 << 20, rss_mb=0, skip=(), allowed=None):
        import numpy as np
        self.allowed = allowed if allowed is not None else load_allowed(ALLOW_LIST)
        self.refusals = {}  # allow-list pattern -> times its text was raised
        self.inner_failure = None  # a text off the allow-list raised inside a conversion
        self.rss_kb = rss_mb * 1024
        self.skip = set(skip)  # calls that ran out of memory under ASan: taken as MemoryError
        self.np, self.mod, self.seed, self.verbose = np, mod, seed, verbose
        self.rng = random.Random(seed)
        self.nprng = np.random.default_rng(seed)
        self.callables, self.classes = enumerate_callables(mod)
        self.objects = {}  # class name -> [V]
        self.harvest = []  # recent results, fed back as arguments
        self.learned_type = {}  # parameter name -> expected type name (from errors)
        self.learned_kinds = {}  # parameter name -> kinds that led to a return
        self.learned_strings = {}  # parameter name -> keywords read from error texts
        self.stats = {}  # key -> [calls, returned, reached body]
        self.current = None  # the receiver of the call in progress
        self.long_len = long_len
        self.signals = None  # frames of the module's own transmitters, made on first use
        self._build_pool()

    # -- pool --------------------------------------------------------------
    def _build_pool(self):
        np = self.np
        global ArraySub
        ArraySub = _array_subclass()
        f32, c64 = np.float32, np.complex64
        self.reenter = V(Reenter(self), "Reenter()", "other")
        big = self.long_len
        noise = (self.nprng.standard_normal(big) + 1j * self.nprng.standard_normal(big)).astype(c64)
        self.noise = noise
        h = [
            V(None, "None", "none"), V(True, "True", "bool"), V(False, "False", "bool"),
            V(0, "0", "int"), V(1, "1", "int"), V(-1, "-1", "int"), V(7, "7", "int"),
            V(255, "255", "int"), V(256, "256", "int"), V(65536, "65536", "int"),
            V(2**31 - 1, "2**31-1", "int"), V(2**31, "2**31", "int"), V(2**32, "2**32", "int"),
            V(-2**31, "-2**31", "int"), V(2**63 - 1, "2**63-1", "int"), V(2**63, "2**63", "int"), V(2**64 - 1, "2**64-1", "int"),
            V(2**64, "2**64", "int"), V(-2**63, "-2**63", "int"), V(-2**64, "-2**64", "int"),
            V(10**40, "10**40", "int"),
            V(0.0, "0.0", "float"), V(-0.0, "-0.0", "float"), V(1.0, "1.0", "float"),
            V(-1.0, "-1.0", "float"), V(0.5, "0.5", "float"), V(math.nan, "nan", "float"),
            V(math.inf, "inf", "float"), V(-math.inf, "-inf", "float"), V(1e-45, "1e-45", "float"),
            V(3.5e38, "3.5e38", "float"), V(1e300, "1e300", "float"), V(-1e300, "-1e300", "float"),
            V(5e-324, "5e-324", "float"), V(1e9, "1e9", "float"),
            V(1j, "1j", "other"), V("", "''", "str"), V("x", "'x'", "str"),
            V("\udcff", "'\\udcff'", "str"), V("é" * 300, "'é'*300", "str"), V("a" * 100000, "'a'*100000", "str"),
            V(b"", "b''", "bytes"), V(b"\x00" * 10, "b'\\0'*10", "bytes"), V(bytes(range(256)), "bytes(range(256))", "bytes"),
            V(b"\xff" * 9, "b'\\xff'*9", "bytes"), V(b"x" * 100000, "b'x'*100000", "bytes"),
            V(bytearray(10), "bytearray(10)", "other"), V(memoryview(b"0123456789"), "memoryview(b'0123456789')", "other"),
            V([], "[]", "list"), V([1, 2, 3], "[1, 2, 3]", "list"), V([None], "[None]", "list"),
            V([{}], "[{}]", "list"), V([[1]], "[[1]]", "list"), V(list(range(1000)), "list(range(1000))", "list"),
            V((1, 2), "(1, 2)", "other"), V({}, "{}", "dict"), V({"a": 1}, "{'a': 1}", "dict"),
            V(object(), "object()", "other"), V(print, "print", "other"), V(BadNumber(), "BadNumber()", "other"),
            self.reenter,
            V(Sub("qpsk"), "StrSubclass('qpsk')", "str"), V(BytesSub(b"\x00" * 10), "BytesSubclass(bytes(10))", "bytes"),
            V(IntSub(5), "IntSubclass(5)", "int"), V(FloatSub(2.5), "FloatSubclass(2.5)", "float"),
            V([{"time_sym": 2**70, "carrier_hz": math.nan, "start_sample": -1, "score": math.inf}],
              "[{'time_sym': 2**70, 'carrier_hz': nan, ...}]", "list"),
            V([{"time_sym": "x", "carrier_hz": None, "llr": None}], "[{'time_sym': 'x', ...}]", "list"),
            V([{"llr": np.zeros(3, np.float32), "time_sym": 1, "freq_bin": 2**40}],
              "[{'llr': zeros(3), 'freq_bin': 2**40}]", "list"),
            V(np.float32(1.5), "np.float32(1.5)", "float"), V(np.int64(3), "np.int64(3)", "int"),
            V(np.bool_(True), "np.bool_(True)", "bool"), V(np.float64("nan"), "np.float64(nan)", "float"),
        ]
        for dt in ("complex64", "float32", "uint8", "int32", "float64", "complex128", "int8",
                   "int16", "uint16", "int64", "uint32", "bool", "float16"):
            for n in (0, 1, 5, 64, 1000):
                h.append(V(np.zeros(n, dt), f"np.zeros({n}, '{dt}')", "array"))
        for dt in ("complex64", "float32", "int32", "uint16"):
            a = np.arange(64).astype(dt).astype(np.dtype(dt).newbyteorder())
            h.append(V(a, f"np.arange(64).astype('{dt}').byteswapped_dtype", "array"))
        for dt in ("complex64", "float32", "uint8", "int32"):
            h.append(V(np.zeros((8, 8), dt), f"np.zeros((8, 8), '{dt}')", "array"))
            h.append(V(np.zeros((1, 0), dt), f"np.zeros((1, 0), '{dt}')", "array"))
            h.append(V(np.zeros((), dt), f"np.zeros((), '{dt}')", "array"))
            h.append(V(np.zeros(256, dt)[::2], f"np.zeros(256, '{dt}')[::2]", "array"))
            h.append(V(np.zeros(256, dt)[::-1], f"np.zeros(256, '{dt}')[::-1]", "array"))
            h.append(V(np.zeros((16, 16), dt, order="F")[:, 0], f"np.zeros((16,16),'{dt}',order='F')[:,0]", "array"))
            unaligned = np.zeros(np.dtype(dt).itemsize * 65 + 1, np.uint8)[1:].view(dt)
            h.append(V(unaligned, f"unaligned {dt}[65]", "array"))
            ro = np.ones(100, dt)
            ro.flags.writeable = False
            h.append(V(ro, f"readonly np.ones(100, '{dt}')", "array"))
        for dt in ("complex64", "float32"):
            for val in ("nan", "inf", "-inf"):
                x = np.float32(val)
                a = np.full(4096, x * (1 + 1j) if dt == "complex64" else x, dt)
                h.append(V(a, f"np.full(4096, {val}, '{dt}')", "array"))
            h.append(V(np.full(4096, 3e38, dt), f"np.full(4096, 3e38, '{dt}')", "array"))
            h.append(V(np.full(4096, 1e-42, dt), f"np.full(4096, 1e-42, '{dt}')", "array"))
        h.append(V(np.full(4096, 255, np.uint8), "np.full(4096, 255, 'uint8')", "array"))
        h.append(V(np.full(64, -2**31, np.int32), "np.full(64, -2**31, 'int32')", "array"))
        h.append(V(np.full(64, 2**31 - 1, np.int32), "np.full(64, 2**31-1, 'int32')", "array"))
        h.append(V(np.array([1.0], dtype=object), "np.array([1.0], object)", "array"))
        h.append(V(np.zeros(64, np.complex64).view(ArraySub), "ArraySubclass(zeros(64, complex64))", "array"))
        h.append(V(np.zeros(64, np.float32).view(ArraySub), "ArraySubclass(zeros(64, float32))", "array"))
        h.append(V(np.zeros(64, [("re", np.float32), ("im", np.float32)]), "zeros(64, structured re/im)", "array"))
        h.append(V(np.zeros(64, np.dtype("c8", metadata={"x": 1})), "zeros(64, complex64 with metadata)", "array"))
        self.hostile_pool = h
        self.long_pool = [
            V(noise, f"noise({big}, complex64)", "c64"),
            V(noise.real.copy(), f"noise({big}, float32)", "f32"),
            V((self.nprng.integers(0, 2, big)).astype(np.uint8), f"bits({big})", "u8"),
        ]

    # -- well-formed values by parameter name --------------------------------
    def good(self, pname):
        np, r = self.np, self.rng
        n = r.choice((0, 1, 2, 17, 64, 79, 105, 174, 300, 1000, 4000))
        c64 = lambda m: V(self.noise[:m].copy() * np.float32(r.choice((0.01, 1.0, 30.0))), f"noise({m})", "c64")
        f32 = lambda m: V(self.noise.real[:m].copy(), f"noise({m}).real", "f32")
        bits = lambda m: V(self.nprng.integers(0, 2, m).astype(np.uint8), f"bits({m})", "u8")
        u8 = lambda m, hi=256: V(self.nprng.integers(0, hi, m).astype(np.uint8), f"uint8({m}, <{hi})", "u8")
        i32 = lambda vals: V(np.array(vals, np.int32), f"int32({list(vals)[:8]}...)", "i32")

        if pname in self.learned_strings and r.random() < 0.5:
            s = r.choice(self.learned_strings[pname])
            return V(s, repr(s), "str")
        table = {
            "fs": lambda: r.choice((48000.0, 8000.0, 12000.0, 96000.0, 1.0)),
            "sample_rate": lambda: r.choice((48000.0, 8000.0, 12000.0)),
            "rf_hz": lambda: r.choice((0.0, 0.0, 1000.0, -3000.0)),
            "gain": lambda: r.choice((1.0, 0.5, 2.0)), "g": lambda: r.choice((1.0, 0.5, 0.0)),
            "order": lambda: r.choice((16, 64, 256, 4)),
            "mode": lambda: r.choice(("bpsk", "qpsk", "BPSK", "qam16")),
            "constellation": lambda: r.choice(("bpsk", "qpsk", "qam16", "qam64", "qam256")),
            "kind": lambda: r.choice(("none", "crc16", "crc32", "bch", "rs", "reed_solomon", "conv",
                                      "convolutional", "conv_k7", "dvb_t", "ldpc", "vatel_sdr",
                                      "no_header", "dvb_tps", "sum_product", "min_sum",
                                      "scaled_min_sum")),
            "code": lambda: r.choice(("", "n512r12", "n576r23", "n512r34", "1/2", "2/3", "3/4", "5/6", "7/8")),
            "position": lambda: r.choice(("before_outer", "after_inner")),
            "stage": lambda: r.choice(("outer", "inner")),
            "guard": lambda: r.choice(("1/32", "1/16", "1/8", "1/4")),
            "code_rate": lambda: r.choice(("1/2", "2/3", "3/4", "5/6", "7/8")),
            "rate": lambda: r.choice(("1/2", "2/3", "3/4", "5/6", "7/8")),
            "text": lambda: r.choice((b"CQ DE K1ABC", b"", bytes(range(256)), "CQ TEST", "hello")),
            "call_to": lambda: r.choice(("CQ", "K1ABC", "W9XYZ", "CQ DX")),
            "call_de": lambda: r.choice(("K1ABC", "W9XYZ", "G4ABC")),
            "extra": lambda: r.choice(("FN42", "-15", "R-10", "RRR", "73", "RR73", "")),
            "data": lambda: r.choice((bytes(9), bytes(range(9)), b"\x7f" * 9)),
            "payload": lambda: r.choice((V(bytes(10), "bytes(10)", "bytes"), u8(r.choice((0, 10, 100, 188, 1000))))),
            "b": lambda: r.randrange(256), "n": lambda: r.choice((0, 1, 8, 32)),
            "preamble_bits": lambda: r.choice((0, 32)), "postamble_bits": lambda: r.choice((0, 32)),
            "iq": lambda: self.real_signal() if r.random() < 0.2 else c64(n), "audio": lambda: f32(n), "soft": lambda: f32(n), "llr": lambda: f32(r.choice((174, n))),
            "bits": lambda: bits(n), "tones": lambda: u8(r.choice((58, 79, 87, 105, n)), r.choice((4, 8, 256))),
            "base_hz": lambda: r.choice((1000.0, 200.0, 1500.0)), "max_hz": lambda: r.choice((3000.0, 2500.0)),
            "carrier_hz": lambda: r.choice((1000.0, 1500.0)), "baud": lambda: 31.25,
            "t_min": lambda: r.choice((0, -5, 2)), "t_max": lambda: r.choice((10, 40, 100)),
            "max_cand": lambda: r.choice((1, 10, 50)), "min_carrier_syms": lambda: r.choice((1, 8)),
            "n_bits": lambda: r.choice((64, 1024)), "peak_margin_db": lambda: 6.0,
            "n_fft": lambda: r.choice((64, 64, 128, 2048, 256)), "cp_len": lambda: r.choice((16, 0, 32)),
            "training_n_fft": lambda: r.choice((None, 64)), "training_cp_len": lambda: r.choice((None, 16)),
            "data_carriers": lambda: r.choice((
                i32([k for k in range(-26, 27) if k not in (0, -21, -7, 7, 21)]), i32([]), i32(range(1, 20)))),
            "pilot_carrier_indices": lambda: r.choice((i32([-21, -7, 7, 21]),) * 5 + (i32([]),)),
            "pilot_carrier_values": lambda: r.choice((
                V(np.ones(4, np.complex64), "ones(4, complex64)", "c64"),) * 5 + (V(np.ones(0, np.complex64), "ones(0)", "c64"),)),
            "edge_guard": lambda: r.choice((None, None, None, 4, 6)),
            "num_repeats": lambda: r.choice((2, 4, 10)), "repeat_len": lambda: r.choice((16, 32, 64)),
            "a": lambda: r.choice((0, 255, 8, 3)),
            "poly": lambda: r.choice((0x48, 0x6000, 0b1001)), "width": lambda: r.choice((7, 15, 16)),
            "seed": lambda: r.choice((1, 0x7F, 0)), "per_frame_random": lambda: r.choice((True, False)),
            "rows": lambda: r.choice((4, 8, 1)), "cols": lambda: r.choice((4, 16, 1)),
            "branches": lambda: r.choice((12, 3)), "depth": lambda: r.choice((17, 2)),
            "scale": lambda: 0.75, "roll_off": lambda: r.choice((0, 4, 8)), "backoff": lambda: r.choice((0, 2, None)),
            "num_taps": lambda: r.choice((0, 15, 31, 63)), "stopband_db": lambda: r.choice((40.0, 60.0)),
            "usb": lambda: r.choice((True, False)), "on": lambda: r.choice((True, False)),
            "tone_hz": lambda: r.choice((700.0, 1000.0)), "env_bw_hz": lambda: r.choice((100.0, 50.0)),
            "rise_ms": lambda: r.choice((5.0, 0.0)), "fall_ms": lambda: r.choice((5.0, 0.0)),
            "audio_bw_hz": lambda: r.choice((3000.0, 4000.0)), "audio_if_hz": lambda: r.choice((1500.0, 0.0)),
            "bfo_hz": lambda: r.choice((1500.0, 0.0)), "dev_hz": lambda: r.choice((5000.0, 2500.0)),
            "deviation_hz": lambda: r.choice((5000.0, 2500.0)), "hz": lambda: r.choice((5000.0, 0.0)),
            "k": lambda: r.choice((1.0, 0.5)), "kp": lambda: r.choice((1.0, 0.5)),
            "kp_rad_per_unit": lambda: r.choice((1.0, 0.5)), "carrier_level": lambda: r.choice((1.0, 0.0)),
            "modulation_index": lambda: r.choice((0.5, 1.0)),
            "abs_approx": lambda: r.choice((True, False)),
            "frame_number": lambda: r.choice((0, 1, 3)), "sequence": lambda: r.choice((0, 1, 65535)),
            "mcs": lambda: r.choice((0, 1, 2)), "mcs_index": lambda: r.choice((0, 1, 2)), "flags": lambda: 0,
            "sequence_num": lambda: r.choice((0, 1, 65535)), "per_frame_seed": lambda: r.choice((0, 1, 0x5A)),
            "cell_id": lambda: r.choice((0, 1)), "equalizer": lambda: r.choice(("training_symbol", "pilot")),
            "training_iq": lambda: c64(r.choice((64, 80, n))), "soft_symbols": lambda: f32(n),
            "n_symbols": lambda: r.choice((68, 69, 1, 0)), "payload_len": lambda: r.choice((188, 188 * 8, 0)),
            "symbols_per_frame": lambda: r.choice(([68] * 4, [68, 68, 68, 70], [0] * 4)),
            "frame_payload_lens": lambda: r.choice(([188] * 4, [0] * 4, [188 * 8] * 4)),
        }
        if pname in table:
            v = table[pname]()
            return v if isinstance(v, V) else V(v, repr(v), type(v).__name__)
        return None

    def real_signal(self):
        """A frame made by one of the module's own transmitters (with the
        parameters the table above favours), so that receivers get past their
        searches into decoding and return their result objects."""
        if self.signals is None:
            self.signals = []
            np, mod = self.np, self.mod
            makers = []
            if hasattr(mod, "DvbTFrameMod"):
                for guard in ("1/32", "1/16", "1/8", "1/4"):
                    makers.append((f"DvbTFrame({guard}, qpsk, 1/2, 188 bytes).iq",
                                   lambda g=guard: mod.DvbTFrameMod(mod.DvbTFrameParams(g, "qpsk", "1/2"))
                                   .modulate(np.arange(188, dtype=np.uint8)).iq))
            if hasattr(mod, "DvbTSuperFrameMod"):
                makers.append(("DvbTSuperFrame(1/32, qpsk, 1/2, 752 bytes).iq",
                               lambda: mod.DvbTSuperFrameMod(mod.DvbTSuperFrameParams("1/32", "qpsk", "1/2"))
                               .modulate(np.arange(752, dtype=np.uint8)).iq))
            if hasattr(mod, "OfdmFrameMod"):
                def burst():
                    cfg = mod.OfdmConfig(64, 16, np.array([k for k in range(-26, 27) if k not in (0, -21, -7, 7, 21)],
                                                          np.int32),
                                         np.array([-21, -7, 7, 21], np.int32), np.ones(4, np.complex64),
                                         48000.0, 0.0, 1.0, "qpsk", None)
                    packet = mod.FramePacket(np.arange(20, dtype=np.uint8), 1, 1, 0)
                    iq = mod.OfdmFrameMod(cfg, mod.McsTable.default_ladder()).modulate_frame(packet)
                    return np.concatenate([np.zeros(100, np.complex64), iq, np.zeros(100, np.complex64)])
                makers.append(("OfdmFrame(default ladder, mcs 1, 20 bytes)", burst))
            for text, make in makers:
                # These are well-formed calls of the module's own transmitters:
                # if one fails, the receivers would get noise in its place and
                # the sweep would silently stop reaching their decoders.
                try:
                    self.signals.append(V(make(), text, "c64"))
                except BaseException as e:  # noqa: B902 - PanicException too
                    raise SweepBroken(f"the transmitter of the real-signal pool, {text}, failed: "
                                      f"{type(e).__name__}: {e}") from e
        if not self.signals:
            return V(self.noise[:1000].copy(), "noise(1000)", "c64")
        return self.rng.choice(self.signals)

    def generic(self, pname):
        """A plausible value for a parameter of unknown meaning."""
        r, np = self.rng, self.np
        want = self.learned_type.get(pname)
        if want is not None and r.random() < 0.8:
            v = self.of_type(want)
            if v is not None:
                return v
        kinds = self.learned_kinds.get(pname)
        if kinds and r.random() < 0.7:
            v = self.of_kind(r.choice(kinds))
            if v is not None:
                return v
        if self.harvest and r.random() < 0.25:
            return r.choice(self.harvest)
        choice = r.randrange(10)
        if choice < 3:
            return self.of_kind(r.choice(("float", "int", "bool", "str")))
        if choice < 6:
            return self.of_kind(r.choice(("c64", "f32", "u8", "i32")))
        if choice < 8:
            return self.any_object()
        return self.hostile()

    def of_kind(self, kind):
        r, np = self.rng, self.np
        n = r.choice((0, 1, 10, 64, 188, 1000, 4000))
        if kind == "float":
            v = r.choice((0.0, 1.0, 0.5, 1000.0, 48000.0))
        elif kind == "int":
            v = r.choice((0, 1, 2, 4, 8, 16, 64, 188, 1000))
        elif kind == "bool":
            v = r.choice((True, False))
        elif kind == "str":
            v = r.choice(("", "none", "x", "1/4", "qpsk"))
        elif kind == "bytes":
            v = bytes(r.choice((0, 10, 188)))
        elif kind == "none":
            v = None
        elif kind == "c64":
            return V(self.noise[:n].copy(), f"noise({n})", "c64")
        elif kind == "f32":
            return V(self.noise.real[:n].copy(), f"noise({n}).real", "f32")
        elif kind == "u8":
            return V(self.nprng.integers(0, 2, n).astype(np.uint8), f"bits({n})", "u8")
        elif kind == "i32":
            return V(np.arange(n, dtype=np.int32) - n // 2, f"int32 range({n})", "i32")
        elif kind.startswith("obj:"):
            lst = self.objects.get(kind[4:])
            return r.choice(lst) if lst else None
        elif kind == "harvest":
            return r.choice(self.harvest) if self.harvest else None
        else:
            return None
        return V(v, repr(v), kind)

    def of_type(self, tname):
        mapping = {"float": "float", "int": "int", "bool": "bool", "str": "str", "bytes": "bytes",
                   "ndarray": self.rng.choice(("c64", "f32", "u8", "i32")), "list": "harvest",
                   "dict": "harvest", "Sequence": "harvest"}
        if tname in mapping:
            return self.of_kind(mapping[tname])
        return self.of_kind("obj:" + tname)

    def any_object(self):
        names = [n for n in self.objects if self.objects[n]]
        if not names:
            return self.hostile()
        return self.rng.choice(self.objects[self.rng.choice(names)])

    def hostile(self):
        r = self.rng
        x = r.random()
        if x < 0.03:
            return r.choice(self.long_pool)
        if x < 0.13:
            return self.any_object()
        return r.choice(self.hostile_pool)

    def arg(self, pname, good_bias):
        r = self.rng
        if r.random() < good_bias:
            v = self.good(pname)
            if v is not None and (good_bias == 1.0 or r.random() < 0.85):
                return v
            return self.generic(pname)
        return self.hostile()

    # -- calls -------------------------------------------------------------
    def plan(self, c):
        """(target, positional values, keyword values) for one call of c."""
        r = self.rng
        target = None
        if c.kind in ("method", "property", "special"):
            lst = self.objects.get(c.owner.__name__)
            if not lst:
                return None
            target = r.choice(lst)
            if r.random() < 0.03:  # called through the class on another object
                other = self.any_object() if r.random() < 0.8 else V(None, "None", "none")
                target = V(other.value, other.text, "wrong-self")
        if c.kind == "special":
            if c.name in ("__eq__", "__ne__"):
                other = r.choice(self.objects[c.owner.__name__]) if r.random() < 0.6 else self.hostile()
                return target, [other], {}
            return target, [], {}
        if c.kind == "property":
            return target, [], {}
        params = c.params
        if params is None:  # no signature: guess how many
            return target, [self.hostile() for _ in range(r.randrange(3))], {}
        mode = r.random()
        good_bias = 1.0 if mode < 0.45 else (0.8 if mode < 0.85 else 0.3)
        chosen = [(p, opt) for p, opt in params if not opt or r.random() < 0.5]
        values = [(p, self.arg(p, good_bias)) for p, _ in chosen]
        if 0.45 <= mode < 0.65 and values:  # exactly one hostile argument
            i = r.randrange(len(values))
            values[i] = (values[i][0], self.hostile())
        if c.kind == "method" and values and r.random() < 0.05:  # re-entry through a conversion
            i = r.randrange(len(values))
            values[i] = (values[i][0], self.reenter)
        pos, kw = [], {}
        by_keyword = r.random() < 0.3
        for i, (p, v) in enumerate(values):
            if by_keyword and i >= len(values) // 2:
                kw[p] = v
            elif kw:
                kw[p] = v
            else:
                pos.append(v)
        if r.random() < 0.04:  # binding abuse
            abuse = r.randrange(4)
            if abuse == 0:
                pos.append(self.hostile())
            elif abuse == 1:
                kw["no_such_parameter"] = self.hostile()
            elif abuse == 2 and pos:
                pos.pop()
            elif abuse == 3 and params:
                kw[params[0][0]] = self.hostile()
        return target, pos, kw

    def describe(self, c, target, pos, kw):
        args = [v.text for v in pos] + [f"{k}={v.text}" for k, v in kw.items()]
        if target is not None and target.kind == "wrong-self":
            return f"{c.key}({', '.join([target.text] + args)})"
        if c.kind == "property":
            return f"{target.text}.{c.name}"
        head = c.key if target is None else f"{target.text}.{c.name}"
        return f"{head}({', '.join(args)})"

    def invoke(self, c, target, pos, kw):
        a = [v.value for v in pos]
        k = {n: v.value for n, v in kw.items()}
        if target is not None and target.kind == "wrong-self":
            desc = vars(c.owner)[c.name]
            if c.kind == "property":
                return desc.__get__(target.value, c.owner)
            return desc(target.value, *a, **k)
        if c.kind == "property":
            return getattr(target.value, c.name)
        if c.kind in ("method", "special"):
            return getattr(target.value, c.name)(*a, **k)
        if c.kind == "ctor":
            return c.owner(*a, **k)
        if c.kind == "static":
            return getattr(c.owner, c.name)(*a, **k)
        return getattr(self.mod, c.name)(*a, **k)

    def keep(self, c, result, index, pos, kw):
        """Feeds a call's result back into the pools."""
        if result is None:
            return
        cls = type(result)
        if cls in self.classes:
            lst = self.objects.setdefault(cls.__name__, [])
            v = V(result, f"<{cls.__name__} #{index}>", "obj:" + cls.__name__)
            if len(lst) < 6:
                lst.append(v)
            else:
                lst[self.rng.randrange(6)] = v
            return
        if isinstance(result, (list, tuple)) and result:
            for item in result[:2]:
                if type(item) in self.classes:
                    self.keep(c, item, index, pos, kw)
        if isinstance(result, (bytes, list, dict, str)) or type(result).__name__ == "ndarray":
            if isinstance(result, (bytes, str)) and len(result) > 4096:
                return
            if type(result).__name__ == "ndarray" and result.size > 200000:
                return
            v = V(result, f"<result of #{index} {c.key}>", "harvest")
            if len(self.harvest) < 40:
                self.harvest.append(v)
            else:
                self.harvest[self.rng.randrange(40)] = v

    def learn(self, c, pos, kw, exc):
        if c.params is None:
            return
        names = [p for p, _ in c.params]
        bound = dict(zip(names, pos))
        bound.update(kw)
        if exc is None:
            for p, v in bound.items():
                kinds = self.learned_kinds.setdefault(p, [])
                if v.kind not in kinds and v.kind not in ("other",):
                    kinds.append(v.kind)
            return
        msg = str(exc)
        m = re.match(r"argument '([^']+)': .*is not an instance of '([^']+)'", msg)
        if m:
            self.learned_type[m.group(1)] = m.group(2)
            return
        if isinstance(exc, ValueError):
            strs = [(p, v) for p, v in bound.items() if isinstance(v.value, str)]
            m = re.search(r"\((?:expected|one of)\s+([^)]*)\)", msg)
            if m and len(strs) == 1:
                words = [w.strip(" '\"") for w in re.split(r",\s*|\s+or\s+", m.group(1))]
                lst = self.learned_strings.setdefault(strs[0][0], [])
                for w in words:
                    if w and w not in lst and len(lst) < 20:
                        lst.append(w)

    def refusal(self, exc):
        """The allow-list pattern that the text of a PanicException or
        RuntimeError matches (tallied), '' for the kinds not judged by text,
        None for a text off the list."""
        kind = judged_kind(exc)
        if kind is None:
            return ""
        msg = str(exc)
        for pattern, rx in self.allowed[kind]:
            if rx.fullmatch(msg):
                key = f"{kind}: {pattern}"
                self.refusals[key] = self.refusals.get(key, 0) + 1
                return key
        return None

    def call(self, index, c, emit):
        try:
            planned = self.plan(c)
        except SweepBroken as e:
            emit(f"FAIL {index} {c.key}: the sweep cannot build its arguments: {e}")
            return False
        if planned is None:
            return True
        target, pos, kw = planned
        text = self.describe(c, target, pos, kw)
        emit(f"{index} {text}")
        st = self.stats.setdefault(c.key, [0, 0, 0])
        st[0] += 1
        self.current = target
        self.inner_failure = None
        try:
            if index in self.skip:
                raise MemoryError("out of memory under ASan in an earlier run of this seed")
            result = self.invoke(c, target, pos, kw)
        except BaseException as exc:  # noqa: B902 - the point is to see everything
            self.current = None
            if not (isinstance(exc, ALLOWED) or is_panic(exc)):
                emit(f"FAIL {index} {text} raised {type(exc).__module__}.{type(exc).__name__}: {exc}")
                return False
            msg = str(exc)
            if self.refusal(exc) is None:
                emit(f"FAIL {index} {text} raised {type(exc).__name__} with a text that is not a deliberate "
                     f"refusal (not in {os.path.relpath(ALLOW_LIST)}): {msg!r}")
                return False
            if self.inner_failure:
                emit(f"FAIL {index} {text}: {self.inner_failure}, a text that is not a deliberate refusal")
                return False
            if self.rss_kb and resource.getrusage(resource.RUSAGE_SELF).ru_maxrss > self.rss_kb:
                emit(f"FAIL {index} {text} took the resident memory past {self.rss_kb // 1024} MB")
                return False
            # A call through the class on an object of another type stops at
            # the receiver's type check, before any argument is bound.
            wrong_self = target is not None and target.kind == "wrong-self"
            if not (BINDING_MESSAGES.search(msg) or CONVERSION_MESSAGES.search(msg) or wrong_self):
                st[2] += 1
            self.learn(c, pos, kw, exc)
            if self.verbose:
                emit(f"  -> {type(exc).__name__}: {msg[:200]}")
            return True
        self.current = None
        if self.inner_failure:
            emit(f"FAIL {index} {text}: {self.inner_failure}, a text that is not a deliberate refusal")
            return False
        st[1] += 1
        st[2] += 1
        if self.rss_kb and resource.getrusage(resource.RUSAGE_SELF).ru_maxrss > self.rss_kb:
            emit(f"FAIL {index} {text} took the resident memory past {self.rss_kb // 1024} MB")
            return False
        self.learn(c, pos, kw, None)
        self.keep(c, result, index, pos, kw)
        if self.verbose:
            emit(f"  -> {type(result).__name__}")
        return True

    def run(self, calls, emit):
        r = self.rng
        ctors = [c for c in self.callables if c.kind == "ctor"]
        index = 0
        # Constructors first, each several times, so methods have receivers.
        for _ in range(6):
            for c in ctors:
                if not self.call(index, c, emit):
                    return False
                index += 1
        others = self.callables
        while index < calls:
            c = r.choice(others)
            if not self.call(index, c, emit):
                return False
            index += 1
        return True


# ---------------------------------------------------------------------------
# Child and parent

def child_main(args):
    if args.mem_mb and not args.asan:
        limit = args.mem_mb << 20
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    warnings.simplefilter("ignore")  # NumPy's deprecations of what a hostile caller passes
    mod = importlib.import_module(args.module)
    out = sys.stdout

    def emit(line):
        out.write(line + "\n")
        out.flush()

    sweep = Sweep(mod, args.seed, verbose=args.verbose, long_len=args.long_len,
                  rss_mb=args.rss_mb if args.asan else 0, skip=parse_seeds(args.skip) if args.skip else (),
                  allowed=load_allowed(args.allowed))
    ok = sweep.run(args.calls, emit)
    if not ok:
        os._exit(3)
    rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    emit("DONE " + json.dumps({"stats": sweep.stats, "refusals": sweep.refusals, "maxrss_kb": rss}))
    return 0


def child_env(asan):
    env = dict(os.environ)
    env["PYTHONHASHSEED"] = "0"
    env["OPENBLAS_NUM_THREADS"] = "1"
    env["OMP_NUM_THREADS"] = "1"
    if asan:
        extra = "allocator_may_return_null=1:max_allocation_size_mb=1024:detect_leaks=0"
        env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":" + extra).strip(":")
    return env


# ASan cannot make a failed `operator new` throw std::bad_alloc (which the
# binding layer turns into MemoryError): it reports and stops the process.
ASAN_OUT_OF_MEMORY = re.compile(r"SUMMARY: AddressSanitizer: (out-of-memory|allocation-size-too-big)")


def run_seed(args, seed):
    """Runs one seed in a child; returns (ok, stats, seconds, failure text).

    Under ASan a call that runs out of memory ends the child; the seed then
    runs again with that call taken as the MemoryError it raises elsewhere."""
    skip, seconds = [], 0.0
    while True:
        ok, stats, sec, text, oom_call = run_once(args, seed, skip)
        seconds += sec
        if ok or oom_call is None or len(skip) >= 20:
            return ok, stats, seconds, text
        skip.append(oom_call)


def run_once(args, seed, skip):
    cmd = [sys.executable, os.path.abspath(__file__), "--child", "--module", args.module, "--seed", str(seed),
           "--calls", str(args.calls), "--mem-mb", str(args.mem_mb), "--rss-mb", str(args.rss_mb), "--long-len", str(args.long_len),
           "--allowed", args.allowed]
    if args.asan:
        cmd.append("--asan")
    if skip:
        cmd += ["--skip", ",".join(map(str, skip))]
    errpath = os.path.join(args.tmp, f"sweep-{os.getpid()}-{seed}.stderr")
    t0 = time.monotonic()
    with open(errpath, "w+b") as err:
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=err, env=child_env(args.asan))
        last, done, fail, buf = "", None, None, b""
        deadline = time.monotonic() + args.call_timeout
        while True:
            ready, _, _ = select.select([proc.stdout], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                proc.kill()
                proc.wait()
                fail = f"no progress for {args.call_timeout} s (hang or endless call) at: {last}"
                break
            chunk = os.read(proc.stdout.fileno(), 1 << 16)
            if not chunk:
                break
            deadline = time.monotonic() + args.call_timeout
            buf += chunk
            *lines, buf = buf.split(b"\n")
            for line in lines:
                s = line.decode("utf-8", "replace")
                if s.startswith("DONE "):
                    done = json.loads(s[5:])
                elif s.startswith("FAIL "):
                    fail = s
                elif not s.startswith("  ->"):
                    last = s
        rc = proc.wait()
        err.seek(0, os.SEEK_END)
        size = err.tell()
        err.seek(max(0, size - 6000))
        tail = err.read().decode("utf-8", "replace")
    seconds = time.monotonic() - t0
    if fail is None and rc != 0:
        how = f"killed by signal {signal.Signals(-rc).name}" if rc < 0 else f"exit status {rc}"
        fail = f"child {how} during call: {last}"
    if fail is None and done is None:
        fail = f"child stopped without finishing, last call: {last}"
    os.unlink(errpath)
    if fail:
        oom_call = None
        m = re.match(r"(\d+) ", last)
        if args.asan and rc != 0 and m and ASAN_OUT_OF_MEMORY.search(tail):
            oom_call = int(m.group(1))
        replay = (f"PYTHONPATH={os.environ.get('PYTHONPATH', '')} {sys.executable} "
                  f"{os.path.relpath(os.path.abspath(__file__))} --module {args.module} --replay {seed} --calls {args.calls}"
                  f" --long-len {args.long_len}" + (f" --skip {','.join(map(str, skip))}" if skip else "")
                  + (f" --allowed {args.allowed}" if args.allowed != ALLOW_LIST else ""))
        text = f"sweep failure: seed {seed}: {fail}\nreplay: {replay}\n--- child stderr (tail)\n{tail}"
        return False, None, seconds, text, oom_call
    return True, done, seconds, None, None


def parse_seeds(text):
    seeds = []
    for part in text.split(","):
        a, _, b = part.partition("-")
        seeds.extend(range(int(a), int(b) + 1) if b else [int(a)])
    return seeds


def summarise(all_stats, callables, calls, seconds, seeds, refusals=None):
    callables_total = len(callables)
    keys = sorted(all_stats)
    reached = [k for k in keys if all_stats[k][2] > 0]
    returned = [k for k in keys if all_stats[k][1] > 0]
    lines = [
        f"sweep: {len(seeds)} seeds, {calls} calls in {seconds:.1f} s ({calls / max(seconds, 1e-9):.0f} calls/s)",
        f"sweep: {len(keys)} of {callables_total} callables called, {len(reached)} reached past argument "
        f"binding and conversion, {len(returned)} returned normally",
    ]
    never = [k for k in keys if all_stats[k][2] == 0]
    if never:
        lines.append("sweep: never past the argument checks: " + ", ".join(never))
    uncalled = [c.key for c in callables if c.key not in all_stats]
    if uncalled:
        lines.append("sweep: never called: " + ", ".join(uncalled))
    if refusals:
        lines.append(f"sweep: deliberate refusals raised, by allow-list pattern ({sum(refusals.values())} in all):")
        for key, n in sorted(refusals.items(), key=lambda kv: -kv[1]):
            lines.append(f"  {n:8d}  {key}")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seeds", default="", help="seed list, e.g. 1-8 or 3,5,9 (default 1-4 without --duration)")
    ap.add_argument("--duration", type=float, default=0,
                    help="seconds to sweep: the listed seeds, then fresh ones after the last")
    ap.add_argument("--first-seed", type=int, default=1000, help="first seed of a --duration run without --seeds")
    ap.add_argument("--calls", type=int, default=2000, help="calls per seed")
    # The costliest legitimate calls are bounded searches at their size limit
    # (ft8_sync over 2^27 waterfall cells: some 40 s here).
    ap.add_argument("--call-timeout", type=float, default=90.0, help="seconds without progress that count as a hang")
    ap.add_argument("--mem-mb", type=int, default=768, help="address-space limit of the child (not under ASan)")
    ap.add_argument("--rss-mb", type=int, default=3072, help="resident-memory limit of the child under ASan")
    ap.add_argument("--long-len", type=int, default=1 << 20, help="length of the very long arrays")
    ap.add_argument("--asan", action="store_true", help="the module is an ASan build (LD_PRELOAD set)")
    ap.add_argument("--tmp", default=os.environ.get("TMPDIR", "/tmp"))
    ap.add_argument("--replay", type=int, help="run one seed in this process, printing every call")
    ap.add_argument("--skip", default="", help="calls of the seed taken as MemoryError without running them")
    ap.add_argument("--verbose", action="store_true")
    ap.add_argument("--module", default="vatel_sdr", help="the module to sweep")
    ap.add_argument("--allowed", default=ALLOW_LIST,
                    help="the allow-list of deliberate PanicException and RuntimeError texts")
    ap.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--seed", type=int, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child_main(args)
    if not args.seeds and args.duration <= 0:
        args.seeds = "1-4"
    mod = importlib.import_module(args.module)
    if args.replay is not None:
        sweep = Sweep(mod, args.replay, verbose=True, long_len=args.long_len,
                      skip=parse_seeds(args.skip) if args.skip else (), allowed=load_allowed(args.allowed))
        ok = sweep.run(args.calls, lambda line: print(line, flush=True))
        return 0 if ok else 1

    load_allowed(args.allowed)  # a malformed list stops the run before any seed
    total = enumerate_callables(mod)[0]
    all_stats, all_refusals, calls, t0 = {}, {}, 0, time.monotonic()
    seeds, status = [], 0
    listed = parse_seeds(args.seeds) if args.seeds else []

    def seed_order():
        yield from listed
        if args.duration > 0:  # then fresh seeds while time remains
            s = max(listed) + 1 if listed else args.first_seed
            while True:
                yield s
                s += 1

    for s in seed_order():
        if args.duration > 0 and time.monotonic() - t0 >= args.duration:
            break
        ok, done, sec, text = run_seed(args, s)
        seeds.append(s)
        if not ok:
            print(text, flush=True)
            status = 1
            continue
        for k, n in done["refusals"].items():
            all_refusals[k] = all_refusals.get(k, 0) + n
        for k, (n, ret, reach) in done["stats"].items():
            agg = all_stats.setdefault(k, [0, 0, 0])
            agg[0] += n
            agg[1] += ret
            agg[2] += reach
            calls += n
        if args.verbose:
            print(f"seed {s}: {sec:.1f} s", flush=True)
    print(summarise(all_stats, total, calls, time.monotonic() - t0, seeds, all_refusals), flush=True)
    return status


if __name__ == "__main__":
    sys.exit(main())

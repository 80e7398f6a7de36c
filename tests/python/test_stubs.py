"""The type stubs written at build time describe the built module: stubtest finds
no difference, and a type checker reading them sees the dtypes of the arrays."""

import ast
import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import vatel_sdr

STUB = pathlib.Path(vatel_sdr.__file__).with_name("vatel_sdr.pyi")


def run_mypy(module, args, tmp_path):
    # The checks run in tmp_path (mypy writes there), so the module's own
    # folder is named absolutely.
    path = os.pathsep.join([str(STUB.parent), os.environ.get("PYTHONPATH", "")])
    env = dict(os.environ, PYTHONPATH=path, MYPYPATH=str(STUB.parent),
               MYPY_CACHE_DIR=str(tmp_path / "cache"))
    return subprocess.run([sys.executable, "-m", module, *args], env=env, cwd=tmp_path,
                          capture_output=True, text=True, timeout=600)


def test_stub_lies_beside_the_module():
    assert STUB.is_file()


def test_install_puts_the_stubs_beside_the_module_and_no_marker_at_the_top():
    # What `pip install .` installs is the build's install plan.  A py.typed
    # at the top of site-packages would claim every module there; the
    # stub-only package is what type checkers read for a single module.
    build = STUB.parent
    meson = pathlib.Path(sys.executable).with_name("meson")
    if not (build / "meson-info").is_dir() or not meson.exists():
        pytest.skip("the module was not loaded from a meson build tree")
    out = subprocess.run([str(meson), "introspect", "--installed", str(build)],
                         capture_output=True, text=True, check=True)
    installed = [pathlib.PurePath(p) for p in json.loads(out.stdout).values()]
    module = next(p for p in installed if p.name.startswith("vatel_sdr.") and p.suffix == ".so")
    site = module.parent
    assert site / "vatel_sdr.pyi" in installed
    assert site / "vatel_sdr-stubs" / "__init__.pyi" in installed
    assert [p for p in installed if p.name == "py.typed"] == []


def test_stubtest_finds_no_difference(tmp_path):
    out = run_mypy("mypy.stubtest", ["vatel_sdr"], tmp_path)
    assert out.returncode == 0, out.stdout + out.stderr


def test_every_parameter_and_result_is_annotated():
    tree = ast.parse(STUB.read_text())
    names = []
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names.append(node.name)
        functions = [node] if isinstance(node, ast.FunctionDef) else [
            f for f in getattr(node, "body", []) if isinstance(f, ast.FunctionDef)]
        for f in functions:
            params = f.args.posonlyargs + f.args.args
            if params and params[0].arg in ("self", "cls"):
                params = params[1:]
            assert f.returns is not None, f.name
            assert all(p.annotation is not None for p in params), f.name
    assert names == vatel_sdr.__all__


def test_a_type_checker_sees_dtypes_and_refuses_wrong_arguments(tmp_path):
    program = tmp_path / "use.py"
    program.write_text(textwrap.dedent("""\
        import numpy as np
        import vatel_sdr as v

        iq = v.BpskMod(48000.0, 0.0, 1.0).process(np.zeros(8, np.uint8))
        reveal_type(iq)
        reveal_type(v.Ft8Codec.decode_soft(np.zeros(174, np.float32)))
        reveal_type(v.OfdmFrameStreamDemod.feed_with_errors)
        v.BpskMod("fast", 0.0, 1.0)
        """))
    out = run_mypy("mypy", ["--no-error-summary", str(program)], tmp_path)
    lines = out.stdout.splitlines()
    assert "complexfloating[numpy._typing._nbit_base._32Bit" in lines[0], out.stdout
    assert 'Revealed type is "bytes | None"' in lines[1], out.stdout
    assert "list[tuple[vatel_sdr.FramePacket | None, str | None]]" in lines[2], out.stdout
    assert "use.py:8: error" in lines[3] and '"str"' in lines[3], out.stdout
    assert len(lines) == 4, out.stdout

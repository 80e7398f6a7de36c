"""Writes the type stubs of vatel_sdr (vatel_sdr.pyi) from its declarations.

Usage: write_stubs.py STUB_MODULE OUTPUT

STUB_MODULE is the built helper extension _vatel_sdr_stubs (src/python/stubs.cpp),
which holds the same declarations as vatel_sdr and describes every registered
class and function: names, parameters with their annotations and shown defaults,
results and docs. Nothing here knows a class by name: a new declaration gets its
stub from the next build.
"""

import importlib.machinery
import importlib.util
import sys
import textwrap

WIDTH = 99

HEADER = '''\
# Type stubs of the vatel_sdr extension module, written at build time by
# tools/write_stubs.py from the module's own declarations. Do not edit.
'''

# The calling conventions of the binding layer, which every class shares; the
# module itself keeps an empty doc, so they live here, where editors show them.
MODULE_DOC = (
    "Software-defined-radio building blocks on NumPy arrays.\n\n"
    "Samples are complex64 (IQ) or float32 (audio) arrays, bits are uint8 arrays with one bit "
    "per byte, and frequencies and sample rates are in Hz. An array argument must be "
    "one-dimensional with exactly the dtype its annotation names; another dtype or shape, a "
    "list, or a strided view raises TypeError. Integers outside their field's range raise "
    "OverflowError. Results are new arrays the caller owns. Objects carry their state "
    "(oscillator phase, filter memories) from one call to the next unless their doc says "
    "otherwise.\n\n"
    "A value the system refuses raises ValueError with a fixed message. A violated internal "
    "invariant raises PanicException, which derives from BaseException (not Exception) and is "
    "not a module attribute."
)


def load(path):
    loader = importlib.machinery.ExtensionFileLoader("_vatel_sdr_stubs", path)
    spec = importlib.util.spec_from_file_location("_vatel_sdr_stubs", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def docstring(text, indent):
    """The doc as a triple-quoted string at indent, paragraphs wrapped."""
    text = text.strip()
    if not text:
        return []
    text = text.replace("\\", "\\\\").replace('"""', '\\"""')
    paragraphs = [" ".join(p.split()) for p in text.split("\n\n")]
    width = WIDTH - len(indent)
    if len(paragraphs) == 1 and len(paragraphs[0]) + 6 <= width and not paragraphs[0].endswith('"'):
        return [f'{indent}"""{paragraphs[0]}"""']
    lines = []
    for i, p in enumerate(paragraphs):
        if i:
            lines.append("")
        opening = '"""' if i == 0 else ""
        lines.extend(textwrap.wrap(p, width, initial_indent=opening, break_on_hyphens=False))
    if lines[-1].endswith('"'):
        lines[-1] = lines[-1][:-1] + '\\"'
    lines.append('"""')
    return [indent + line if line else "" for line in lines]


def parameters(entry, receiver):
    out = [receiver] if receiver else []
    for name, annotation, default in entry["params"]:
        out.append(f"{name}: {annotation}" + ("" if default is None else f" = {default}"))
    return out


def definition(entry, indent, receiver, returns=None, decorator=None):
    """A def line (wrapped when long) and its doc as body, or '...'."""
    lines = [f"{indent}@{decorator}"] if decorator else []
    params = parameters(entry, receiver)
    result = returns or entry["returns"]
    head = f"{indent}def {entry['name']}("
    tail = f") -> {result}:"
    one_line = head + ", ".join(params) + tail
    if len(one_line) + 4 <= WIDTH:
        lines.append(one_line)
    else:
        lines.append(head)
        lines.extend(f"{indent}    {p}," for p in params)
        lines.append(f"{indent}{tail}")
    body = docstring(entry["doc"], indent + "    ")
    if body:
        lines.extend(body)
    else:
        lines[-1] += " ..."
    return lines


def render_class(item):
    lines = ["@final", f"class {item['name']}:"]
    lines.extend(docstring(item["doc"], "    "))
    for member in item["members"]:
        kind = member["kind"]
        if kind == "constructor":
            # The type's own __new__ takes the arguments; there is no __init__.
            ctor = dict(member, name="__new__", doc="")
            lines.extend(definition(ctor, "    ", "cls", returns="Self"))
        elif kind == "method":
            lines.extend(definition(member, "    ", "self"))
        elif kind == "static_method":
            lines.extend(definition(member, "    ", None, decorator="staticmethod"))
        elif kind == "property":
            lines.extend(definition(member, "    ", "self", decorator="property"))
        elif kind == "repr":
            lines.append("    def __repr__(self) -> str: ...")
        elif kind == "equality":
            # == and != between two objects of the class; the class has no hash.
            lines.append("    def __eq__(self, other: object, /) -> bool: ...")
            lines.append("    def __ne__(self, other: object, /) -> bool: ...")
            lines.append("    __hash__: ClassVar[None]  # type: ignore[assignment]")
        else:
            raise ValueError(f"unknown member kind {kind!r} in {item['name']}")
    if len(lines) == 2:
        lines.append("    ...")
    return lines


def render(items):
    body = []
    for item in items:
        body.append("")
        if item["kind"] == "class":
            body.append("")
            body.extend(render_class(item))
        else:
            body.extend(definition(item, "", None))
    text = "\n".join(body)
    typing_names = ["final"] + [n for n in ("Any", "ClassVar", "Self") if n in text]
    imports = []
    if "Sequence[" in text:
        imports.append("from collections.abc import Sequence")
    imports.append(f"from typing import {', '.join(sorted(typing_names))}")
    imports.append("")
    imports.append("import numpy as np")
    imports.append("from numpy.typing import NDArray")
    names = [item["name"] for item in items]
    all_lines = ["__all__ = ["] + [f'    "{n}",' for n in names] + ["]"]
    doc = "\n".join(docstring(MODULE_DOC, ""))
    return (HEADER + "\n" + doc + "\n\n" + "\n".join(imports) + "\n\n" + "\n".join(all_lines) +
            "\n" + text + "\n")


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    text = render(load(argv[1]).description())
    with open(argv[2], "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

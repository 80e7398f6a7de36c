"""The README's examples run as written, one after another in one namespace."""
import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_readme_examples_run():
    text = README.read_text()
    blocks = list(re.finditer(r"```python\n(.*?)```", text, re.S))
    assert blocks
    namespace = {}
    for block in blocks:
        # Padded to its own lines, so that a failure names the README's line.
        line = text.count("\n", 0, block.start(1))
        exec(compile("\n" * line + block.group(1), str(README), "exec"), namespace)

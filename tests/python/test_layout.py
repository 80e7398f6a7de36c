"""The folders of src/ stand on floors, and an include that names another
folder only goes down: a folder never sees one above it or beside it, so no
two folders can include each other. Every folder is placed on a floor."""

import pathlib
import re

SRC = pathlib.Path(__file__).resolve().parents[2] / "src"

# Ground first. Folders on one floor are peers and include none of each other.
FLOORS = [
    {"core"},
    {"fec", "dsp", "message"},
    {"multicarrier", "codec"},
    {"waveform"},
    {"sync"},
    {"modulate", "demodulate"},
    {"python"},
]

LEVEL = {folder: level for level, floor in enumerate(FLOORS) for folder in floor}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([A-Za-z0-9_]+)/([^"]+)"', re.MULTILINE)


def folders():
    return sorted(p.name for p in SRC.iterdir() if p.is_dir())


def cross_folder_includes():
    """(file relative to src/, line, own folder, included path, its folder)
    for every include of a header in another folder."""
    found = []
    for path in sorted(p for p in SRC.rglob("*") if p.is_file()):
        rel = path.relative_to(SRC)
        if len(rel.parts) < 2:
            continue
        own = rel.parts[0]
        text = path.read_text(encoding="utf-8", errors="replace")
        for m in INCLUDE.finditer(text):
            if m.group(1) != own:
                line = text.count("\n", 0, m.start()) + 1
                found.append((rel.as_posix(), line, own, f"{m.group(1)}/{m.group(2)}", m.group(1)))
    return found


def where(folder):
    return f"floor {LEVEL[folder]}" if folder in LEVEL else "no floor"


def test_floors_name_each_folder_once():
    assert sum(len(f) for f in FLOORS) == len(LEVEL)


def test_every_folder_is_on_a_floor():
    unplaced = [f for f in folders() if f not in LEVEL]
    missing = sorted(set(LEVEL) - set(folders()))
    assert not unplaced, f"folders of src/ on no floor (add them to FLOORS): {unplaced}"
    assert not missing, f"folders on a floor that src/ does not have: {missing}"


def test_includes_only_go_down_a_floor():
    found = cross_folder_includes()
    # Guards against a scan that silently finds nothing (a moved src/, a
    # changed include style).
    assert len(found) > 100
    wrong = [
        f"src/{file}:{line} -> {target}  ({own}, {where(own)} -> {to}, {where(to)})"
        for file, line, own, target, to in found
        if own not in LEVEL or to not in LEVEL or LEVEL[to] >= LEVEL[own]
    ]
    assert not wrong, (
        f"{len(wrong)} include(s) up a floor, across one, or to an unplaced folder:\n"
        + "\n".join(wrong))

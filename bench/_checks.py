"""Result checks shared by the Python benchmarks.

A benchmark checks what it decodes as well as timing it, in --quick runs
too: `expect` prints each wrong result at once, and `exit_status` (the
value main returns to sys.exit) is 1 when there was any.  Speeds are
printed, never judged."""

_wrong = []


def expect(ok, what):
    """Records `what` as a wrong result unless `ok`; returns `ok`."""
    if not ok:
        print(f"WRONG RESULT: {what}", flush=True)
        _wrong.append(what)
    return ok


def exit_status():
    if _wrong:
        print(f"{len(_wrong)} wrong results", flush=True)
        return 1
    return 0

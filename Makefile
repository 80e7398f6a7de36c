# Entry points: make demo, make test (each installs what is missing first).
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
MESON := $(VENV)/bin/meson
BUILD := build
ASAN_BUILD := build-asan
JOBS ?= $(shell nproc)

.PHONY: setup build test test-cpp test-python demo bench bench-quick test-asan test-install fuzz clean

setup:
	@bash scripts/setup.sh

build: setup
	@[ -f $(BUILD)/build.ninja ] || PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) setup $(BUILD) -Dbuildtype=release
	@PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) compile -C $(BUILD) -j $(JOBS)

test: build
	@PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) test -C $(BUILD) --print-errorlogs
	@bash scripts/pytest-all.sh $(BUILD)

demo: build
	@PYTHONPATH=$(BUILD) $(PY) examples/demo.py

# bench-quick runs every benchmark once on small inputs: seconds in all.
bench bench-quick: build
	@bash scripts/setup.sh libfec-dev libliquid-dev
	@PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) setup --reconfigure $(BUILD) >/dev/null
	@PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) compile -C $(BUILD) -j $(JOBS)
	@PYTHONPATH=$(BUILD) bash scripts/bench-all.sh $(BUILD) $(if $(filter bench-quick,$@),--quick)

# ASan and UBSan stop at the first report; the C++ tests also check for
# leaks (the interpreter's own allocations make that meaningless for Python).
# A sanitized build writes no type stubs, so their test is left out.
test-asan: setup
	@[ -f $(ASAN_BUILD)/build.ninja ] || PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) setup $(ASAN_BUILD) \
	  -Dbuildtype=debugoptimized -Db_sanitize=address,undefined -Db_lundef=false
	@PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) compile -C $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  PATH=$(abspath $(VENV))/bin:$$PATH $(MESON) test -C $(ASAN_BUILD) --print-errorlogs
	@LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	  ASAN_OPTIONS=halt_on_error=1:detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  PYTHONPATH=$(ASAN_BUILD):$(ASAN_BUILD)/tests/python/probe $(PY) -m pytest -q -p no:cacheprovider \
	  --ignore=tests/python/test_stubs.py tests/python

# `pip install .` into a bare virtual environment, and what it installs.
test-install: setup
	@bash scripts/test-install.sh

# The hostile-call sweep for DURATION seconds, from the seeds SEEDS (a list
# such as 5-9,12; fresh seeds follow), then the leak check.
SEEDS ?= 1000
DURATION ?= 600
fuzz: build
	@PYTHONPATH=$(BUILD) $(PY) tools/sweep.py --seeds $(SEEDS) --duration $(DURATION) --calls 5000
	@PYTHONPATH=$(BUILD) $(PY) bench/leaks.py

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)

# sandrig: build, test and demo.
#   make test   - set up a fresh machine, build, run the fast tier: the native suite,
#                 the Python suite on CPython and PyPy, stubtest, the harness checks
#   make check  - the fast tier, the sanitizers, the sanitized module, fuzz smoke runs,
#                 the 32-bit runs (i386, ARM/musl), the wheels tested as installed
#   make wheels - the binary wheels into dist/; make wheel-tests tests them as installed
#   make demo   - set up, build the module for CPython, run examples/demo.py
#   make fuzz   - build the libFuzzer targets and run each for FUZZ_SECONDS
SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c

PYTHON ?= python3
PYPY ?= pypy3
JOBS ?= 2
VENV := .venv
VENV_PYPY := .venv-pypy
STAMPS := build/stamps
# 32-bit runs and wheels: a zig toolchain (from PyPI), i386 and armhf Debian roots.
ZIG_VENV := build/venv-zig
ZIGLANG := ziglang==0.14.1
CHROOT := build/chroot-i386
CHROOT_ARMHF := build/chroot-armhf
DIST := dist
GTEST_SOURCE := /usr/src/googletest
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 3
FUZZ_CXX ?= clang++-19
FUZZ_TARGETS := word_splitter rm_args terminal_line fs_operations
ASAN_MODULE := build/module-asan
ASAN_RUNTIME = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)
# As root, tests run in a private mount namespace so host accounts stay untouched.
ISOLATE := $(if $(and $(filter 0,$(shell id -u)),$(wildcard tests/isolated.sh)),tests/isolated.sh,)

.PHONY: all setup deps venvs test check harness-tests demo native-tests native-plain native-asan native-tsan \
        python-tests python-cpython python-pypy stubtest bench bench-native bench-cpython bench-pypy clean \
        cross-setup roots chroot-i386 chroot-armhf native-arm-build native-arm \
        python-i386 python-i386-cpython python-i386-pypy tests-32bit \
        python-asan fuzz fuzz-build fuzz-smoke \
        wheels wheel-tests wheel-tests-x86_64 wheel-tests-i686 wheel-tests-armv7l

all: test

deps: $(STAMPS)/deps
$(STAMPS)/deps: scripts/install-deps.sh
	./scripts/install-deps.sh
	@mkdir -p $(STAMPS) && touch $@

# A venv counts as made once its packages are in, marked by .ready: its
# bin/python is a link, which make dates by the interpreter it leads to,
# so it would look out of date on every run.
$(VENV)/.ready: $(STAMPS)/deps
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/pip install -q --upgrade pip
	$(VENV)/bin/pip install -q pytest mypy hypothesis
	touch $@

$(VENV_PYPY)/.ready: $(STAMPS)/deps
	$(PYPY) -m venv $(VENV_PYPY)
	$(VENV_PYPY)/bin/pip install -q --upgrade pip
	$(VENV_PYPY)/bin/pip install -q pytest hypothesis
	touch $@

venvs: $(VENV)/.ready $(VENV_PYPY)/.ready
setup: deps venvs

# --- native suite: plain, AddressSanitizer+UBSan, ThreadSanitizer ---------
define native_build
	cmake -S . -B build/$(1) -DSANDRIG_PYTHON=OFF -DSANDRIG_TESTS=ON $(2) >/dev/null
	cmake --build build/$(1) -j$(JOBS)
endef

native-plain: deps
	$(call native_build,native,)
	$(ISOLATE) build/native/sandrig_native_tests

native-asan: deps
	$(call native_build,asan,-DSANDRIG_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(ISOLATE) build/asan/sandrig_native_tests

native-tsan: deps
	$(call native_build,tsan,-DSANDRIG_SANITIZE=thread)
	TSAN_OPTIONS=halt_on_error=1 $(ISOLATE) build/tsan/sandrig_native_tests

native-tests: native-plain native-asan native-tsan

# --- Python suite on both interpreters -------------------------------------
python-cpython: $(VENV)/.ready
	$(VENV)/bin/pip install -q --force-reinstall --no-deps .
	$(ISOLATE) $(VENV)/bin/python -m pytest -q tests/python

python-pypy: $(VENV_PYPY)/.ready
	$(VENV_PYPY)/bin/pip install -q --force-reinstall --no-deps .
	$(ISOLATE) $(VENV_PYPY)/bin/python -m pytest -q tests/python

stubtest: python-cpython
	$(VENV)/bin/python -m mypy.stubtest sandrig

# The module itself built with AddressSanitizer+UBSan, tested on CPython
# with the sanitizer runtime preloaded. pymalloc is off so that freed
# objects reach the sanitizer; the interpreter's own leaks at exit are not
# reported. Reports go to $(ASAN_MODULE)/report.* (pytest captures stderr).
# tests/python/sanitized takes the preload out of the interpreters'
# environment, so host programs run unsanitized; child interpreters get it
# back from the tests.
python-asan: $(VENV)/.ready
	cmake -S . -B $(ASAN_MODULE) -DSANDRIG_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug \
	  -DPython_EXECUTABLE=$(abspath $(VENV)/bin/python) >/dev/null
	cmake --build $(ASAN_MODULE) -j$(JOBS) --target sandrig
	rm -f $(ASAN_MODULE)/report.*
	$(ISOLATE) env SANDRIG_SANITIZED=1 SANDRIG_MODULE_DIR=$(abspath $(ASAN_MODULE)) \
	  PYTHONMALLOC=malloc PYTHONPATH=$(abspath $(ASAN_MODULE)):$(abspath tests/python/sanitized) \
	  ASAN_OPTIONS=detect_leaks=0:log_path=$(abspath $(ASAN_MODULE))/report \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(abspath $(ASAN_MODULE))/report \
	  LD_PRELOAD="$(ASAN_RUNTIME)" \
	  $(VENV)/bin/python -m pytest -q -p no:cacheprovider tests/python \
	  || { cat $(ASAN_MODULE)/report.* 2>/dev/null; exit 1; }
	@if ls $(ASAN_MODULE)/report.* >/dev/null 2>&1; then cat $(ASAN_MODULE)/report.*; exit 1; fi

# --- 32-bit: ARM with musl (native suite under qemu-arm), i386 Python -----
# (the binding on 32-bit ARM: the armv7l wheels, below)
$(ZIG_VENV)/.ready: $(STAMPS)/deps
	$(PYTHON) -m venv $(ZIG_VENV)
	$(ZIG_VENV)/bin/pip install -q $(ZIGLANG)
	touch $@

chroot-i386: deps
	./scripts/debian-root.sh i386 $(CHROOT)

chroot-armhf: deps
	./scripts/debian-root.sh armhf $(CHROOT_ARMHF)

native-arm-build: $(ZIG_VENV)/.ready
	cmake -S . -B build/arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-musleabihf.cmake \
	  -DSANDRIG_ZIG_PYTHON=$(abspath $(ZIG_VENV)/bin/python) -DSANDRIG_ZIG_CACHE=$(abspath build/zig-cache) \
	  -DSANDRIG_GTEST_SOURCE=$(GTEST_SOURCE) \
	  -DSANDRIG_PYTHON=OFF -DSANDRIG_TESTS=ON >/dev/null
	cmake --build build/arm -j$(JOBS)

roots: chroot-i386 chroot-armhf

# The i386 root is mostly a download and the ARM build mostly compiling:
# they overlap, each with its own output.
cross-setup:
	$(MAKE) --no-print-directory -j2 -O chroot-i386 native-arm-build

native-arm: native-arm-build
	$(ISOLATE) qemu-arm build/arm/sandrig_native_tests

define python_i386
	./scripts/in-chroot.sh $(CHROOT) . sh -c \
	  '$(1)/bin/python -m pip install -q --no-build-isolation --no-deps --force-reinstall . \
	   && tests/isolated.sh $(1)/bin/python -m pytest -q tests/python'
endef

python-i386-cpython: chroot-i386
	$(call python_i386,/opt/venv-python3)

python-i386-pypy: chroot-i386
	$(call python_i386,/opt/venv-pypy3)

python-i386: python-i386-cpython python-i386-pypy

tests-32bit: cross-setup native-arm python-i386

# --- wheels -----------------------------------------------------------------
# CPython 3.11 and PyPy 3.9 for manylinux_2_17 on x86_64, i686 and armv7l and
# for musllinux_1_2 on armv7l, cross-built with zig against each target's
# own interpreter headers (from the roots) and checked (scripts/check-wheel.py,
# auditwheel) before they reach $(DIST). Needs root, for the roots.
WHEEL_VENV_CPYTHON := build/venv-wheel-cpython
WHEEL_VENV_PYPY := build/venv-wheel-pypy
WHEELHOUSE := build/wheelhouse

$(WHEEL_VENV_CPYTHON)/.ready: $(STAMPS)/deps
	$(PYTHON) -m venv $(WHEEL_VENV_CPYTHON)
	$(WHEEL_VENV_CPYTHON)/bin/pip install -q --upgrade pip scikit-build-core auditwheel
	touch $@

$(WHEEL_VENV_PYPY)/.ready: $(STAMPS)/deps
	$(PYPY) -m venv $(WHEEL_VENV_PYPY)
	$(WHEEL_VENV_PYPY)/bin/pip install -q --upgrade pip scikit-build-core
	touch $@

# pip and the installed-wheel tests' tools, pure Python, for every interpreter (pip
# evaluates markers for the running one: the backports 3.9 needs are named).
$(WHEELHOUSE)/.ready: $(WHEEL_VENV_CPYTHON)/.ready
	$(WHEEL_VENV_CPYTHON)/bin/pip download -q --only-binary=:all: --python-version 3.9 \
	  -d $(WHEELHOUSE) pip pytest hypothesis exceptiongroup tomli
	touch $@

wheels: $(ZIG_VENV)/.ready $(WHEEL_VENV_CPYTHON)/.ready $(WHEEL_VENV_PYPY)/.ready chroot-i386 chroot-armhf
	ZIG_PYTHON=$(abspath $(ZIG_VENV)/bin/python) CPYTHON=$(WHEEL_VENV_CPYTHON)/bin/python \
	  PYPY=$(WHEEL_VENV_PYPY)/bin/python AUDITWHEEL=$(WHEEL_VENV_CPYTHON)/bin/auditwheel \
	  ROOT_I386=$(CHROOT) ROOT_ARMHF=$(CHROOT_ARMHF) CCACHE=$$(command -v ccache) \
	  ./scripts/build-wheels.sh $(DIST)

# Each wheel installed into a fresh venv of its interpreter on its platform:
# here, in the i386 root and in the armhf root under emulation. The musl
# wheels have no interpreter at hand: their ELF check and the native suite
# on ARM/musl (native-arm) stand for them.
WHEEL_NAME = $(DIST)/sandrig-*-$(1)-$(2).whl
define test_wheels
	$(1) ./scripts/test-wheel.sh $(call WHEEL_NAME,cp311-cp311,$(2)) $(3) $(WHEELHOUSE)
	$(1) ./scripts/test-wheel.sh $(call WHEEL_NAME,pp39-pypy39_pp73,$(2)) pypy3 $(WHEELHOUSE)
endef

wheel-tests-x86_64: wheels $(WHEELHOUSE)/.ready
	$(call test_wheels,,manylinux_2_17_x86_64,$(PYTHON))

wheel-tests-i686: wheels $(WHEELHOUSE)/.ready
	$(call test_wheels,./scripts/in-chroot.sh $(CHROOT) .,manylinux_2_17_i686,python3)

wheel-tests-armv7l: wheels $(WHEELHOUSE)/.ready
	$(call test_wheels,./scripts/in-chroot.sh $(CHROOT_ARMHF) .,manylinux_2_17_armv7l,python3.11)

wheel-tests: wheel-tests-x86_64 wheel-tests-i686 wheel-tests-armv7l

python-tests: python-cpython python-pypy stubtest

# --- fuzzing: libFuzzer targets of tests/fuzz, ASan+UBSan, clang ------------
fuzz-build: deps
	cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DSANDRIG_PYTHON=OFF -DSANDRIG_FUZZ=ON >/dev/null
	cmake --build build/fuzz -j$(JOBS)

# Runs every target for $(1) seconds from its committed seeds; the corpus
# grown on the way and any crash input stay under build/fuzz.
define run_fuzzers
	@for target in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$target build/fuzz/artifacts; \
	  echo "--- fuzzing $$target for $(1) s"; \
	  build/fuzz/$${target}_fuzz -max_total_time=$(1) -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/artifacts/$$target- \
	    build/fuzz/corpus/$$target tests/fuzz/corpus/$$target >build/fuzz/$$target.log 2>&1 \
	    || { tail -n 60 build/fuzz/$$target.log; exit 1; }; \
	  grep -h "stat::number_of_executed_units" build/fuzz/$$target.log || true; \
	done
endef

fuzz: fuzz-build
	$(call run_fuzzers,$(FUZZ_SECONDS))

fuzz-smoke: fuzz-build
	$(call run_fuzzers,$(FUZZ_SMOKE_SECONDS))

# The harness itself: the wheel check refuses false tags, and
# tests/isolated.sh keeps a checkout reachable wherever it lies, also under
# the places it makes private.
harness-tests: $(VENV)/.ready
	$(VENV)/bin/python -m pytest -q -p no:cacheprovider tests/harness
	$(if $(ISOLATE),tests/harness/checkout_locations.sh,@echo "checkout locations need root; skipped")

test: native-plain python-tests harness-tests

# The two roots are mostly downloads and emulation: they are made alongside
# the fast tier; the rest follows in order, the wheels last. The Python
# suite runs in the i386 root against the i686 wheels (make python-i386
# builds from source there instead).
check:
	$(MAKE) --no-print-directory -j2 -O roots test
	$(MAKE) --no-print-directory native-asan native-tsan python-asan fuzz-smoke native-arm
	$(MAKE) --no-print-directory wheel-tests

# --- demo and benchmarks ----------------------------------------------------
demo: $(VENV)/.ready
	$(VENV)/bin/pip install -q --force-reinstall --no-deps .
	$(VENV)/bin/python examples/demo.py

# Each interpreter gets its own bench venv: the module built as a release
# install plus the two pure-Python peers (from the machine's own index).
BENCH_VENV_CPYTHON := build/venv-bench-cpython
BENCH_VENV_PYPY := build/venv-bench-pypy
BENCH_PEERS := pyfakefs fs

define bench_venv
	$(1) -m venv $(2)
	$(2)/bin/pip install -q --upgrade pip
	$(2)/bin/pip install -q $(BENCH_PEERS)
	touch $(2)/.ready
endef

$(BENCH_VENV_CPYTHON)/.ready: $(STAMPS)/deps
	$(call bench_venv,$(PYTHON),$(BENCH_VENV_CPYTHON))

$(BENCH_VENV_PYPY)/.ready: $(STAMPS)/deps
	$(call bench_venv,$(PYPY),$(BENCH_VENV_PYPY))

bench-native: deps
	cmake -S . -B build/bench -DSANDRIG_PYTHON=OFF -DSANDRIG_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/bench -j$(JOBS)
	@for source in bench/*.cc; do name=$$(basename $$source .cc); echo "--- $$name"; build/bench/$$name; done

# The chart of the peer tables is drawn by CPython's bench venv (matplotlib
# has wheels there) from the latest results of each interpreter.
BENCH_RESULTS := build/bench-results
BENCH_CHART := $(BENCH_RESULTS)/peers.png

$(BENCH_VENV_CPYTHON)/.chart-ready: $(BENCH_VENV_CPYTHON)/.ready
	$(BENCH_VENV_CPYTHON)/bin/pip install -q matplotlib
	touch $@

define bench_peers
	mkdir -p $(BENCH_RESULTS)
	$(1)/bin/python bench/peers.py --json $(BENCH_RESULTS)/peers-$(2).json
	$(BENCH_VENV_CPYTHON)/bin/python bench/chart.py $(BENCH_RESULTS)/peers-*.json -o $(BENCH_CHART)
endef

# The peer table comes first: a cycle run over its memory budget fails the
# target after the table and the chart are written.
bench-cpython: $(BENCH_VENV_CPYTHON)/.ready $(BENCH_VENV_CPYTHON)/.chart-ready
	$(BENCH_VENV_CPYTHON)/bin/pip install -q --force-reinstall --no-deps .
	$(call bench_peers,$(BENCH_VENV_CPYTHON),cpython)
	$(BENCH_VENV_CPYTHON)/bin/python bench/rss_cycles.py

bench-pypy: $(BENCH_VENV_PYPY)/.ready $(BENCH_VENV_CPYTHON)/.chart-ready
	$(BENCH_VENV_PYPY)/bin/pip install -q --force-reinstall --no-deps .
	$(call bench_peers,$(BENCH_VENV_PYPY),pypy)
	$(BENCH_VENV_PYPY)/bin/python bench/rss_cycles.py

bench: bench-native bench-cpython bench-pypy

clean:
	rm -rf build $(VENV) $(VENV_PYPY)

# Every target bootstraps (idempotent, quick when done) and builds first.
# Paths are taken from this file's folder, so `make -f PATH/Makefile` works
# from anywhere.
TOP := $(patsubst %/,%,$(dir $(abspath $(lastword $(MAKEFILE_LIST)))))
BUILD ?= $(TOP)/build
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3
MAKEFLAGS += --no-print-directory

.PHONY: bootstrap build wheels wheels-aarch64 test test-aarch64 check demo bench bench-instructions sanitize clean

# What the bootstrap installs: what building needs, and the tools of the
# tests or the benchmarks for the targets that run them (a target's value
# holds for what it depends on, so the build sees the tools).
TOOLS = build
test check sanitize: TOOLS = test
bench bench-instructions: TOOLS = bench
wheels-aarch64 test-aarch64: TOOLS = aarch64

bootstrap:
	@$(TOP)/scripts/bootstrap $(TOOLS)

CONFIGURE = cmake -S $(TOP) -B $(BUILD) -DPython_EXECUTABLE=$(PYTHON) > /dev/null

build: bootstrap
	@$(CONFIGURE)
	@cmake --build $(BUILD) -j $(JOBS)

# One wheel per interpreter (scripts/pythons; PYTHONS="..." overrides) into
# dist/. Debian's interpreter shares the build folder of the tests. Then one
# per version of the list with no interpreter here, from its headers.
PYTHONS ?= $(shell $(TOP)/scripts/pythons)

wheels: build
	@for python in $(PYTHONS); do \
	    folder=$$([ $$python = $(PYTHON) ] && echo $(BUILD) || true); \
	    $$python $(TOP)/scripts/wheel_backend.py $(TOP)/dist $$folder || exit 1; \
	done
	@for version in $$($(TOP)/scripts/pythons --headers); do \
	    $(PYTHON) $(TOP)/scripts/wheel_backend.py $(TOP)/dist --headers $$version || exit 1; \
	done

# The aarch64 wheels, cross-built for the CPythons Debian ships
# (scripts/debian-pythons.txt) against its arm64 packages (scripts/sysroot),
# into dist/ beside the others; niced, as they take a few minutes each.
AARCH64_PYTHONS := $(shell awk '!/^\#/ {print $$1}' $(TOP)/scripts/debian-pythons.txt)

wheels-aarch64: bootstrap
	@for version in $(AARCH64_PYTHONS); do \
	    nice -n 19 $(PYTHON) $(TOP)/scripts/wheel_backend.py $(TOP)/dist --aarch64 $$version || exit 1; \
	done

# All but the aarch64 wheels' tests, which run under emulation (test-aarch64).
test: wheels
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j $(JOBS) -LE aarch64

# The quick loop: builds the module and runs the C++ and Python tests, no
# wheels (and none of their tests, nor those of installing and the
# bootstrap). `make test` is the whole suite.
check: build
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j $(JOBS) -L '^(cpp|python)$$'

# The aarch64 wheels in arm64 chroots under qemu-user; their transcripts
# against the x86-64 3.11 wheel's, whose test runs first.
test-aarch64: wheels wheels-aarch64
	nice -n 19 ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -L aarch64

# The tour needs the module only.
demo: bootstrap
	@$(CONFIGURE)
	@cmake --build $(BUILD) -j $(JOBS) --target nubracore
	PYTHONPATH=$(BUILD) $(PYTHON) $(TOP)/examples/tour.py

bench: wheels
	@cmake --build $(BUILD) --target ort_run
	PYTHONPATH=$(BUILD) $(PYTHON) $(TOP)/bench/bench_operations.py $(BUILD)
	PYTHONPATH=$(BUILD) $(PYTHON) $(TOP)/bench/bench_model.py $(BUILD)

# Instructions per call under callgrind against the floor (bench/floor.c);
# reports the targets, never fails on one. Then the same on each other
# interpreter whose build folder make wheels made; those built from headers
# alone in Debian sid's chroot.
bench-instructions: bootstrap
	@$(CONFIGURE)
	@cmake --build $(BUILD) -j $(JOBS) --target nubracore floor
	PYTHONPATH=$(BUILD):$(BUILD)/bench $(PYTHON) $(TOP)/bench/bench_instructions.py
	@for python in $(filter-out $(PYTHON),$(PYTHONS)) $$($(TOP)/scripts/pythons --headers); do \
	    version=$$(basename $$python | sed 's/^python//'); \
	    [ -x $$python ] && version=$$($$python -c 'import sys; print("%d.%d" % sys.version_info[:2])'); \
	    folder=$(TOP)/build-py$$version; \
	    [ -d $$folder ] || { echo "CPython $$version: no $$folder (make wheels)"; continue; }; \
	    cmake --build $$folder -j $(JOBS) --target nubracore floor > /dev/null || exit 1; \
	    if [ -x $$python ]; then \
	        PYTHONPATH=$$folder:$$folder/bench $$python $(TOP)/bench/bench_instructions.py || exit 1; \
	    else \
	        $(TOP)/tests/wheels/in_chroot.sh sid $(TOP) $(BUILD)/wheels env PYTHONPATH=$$folder:$$folder/bench \
	            python$$version $(TOP)/bench/bench_instructions.py || exit 1; \
	    fi; \
	done

# The C++ tests and the Python tests against a build with AddressSanitizer
# and UndefinedBehaviorSanitizer; any report fails the run. The interpreter
# gets the sanitizer runtimes preloaded; its own leaks at exit are not ours.
SANITIZE_BUILD ?= $(TOP)/build-sanitize
SANITIZERS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
PRELOAD := $(shell g++ -print-file-name=libasan.so):$(shell g++ -print-file-name=libubsan.so):$(shell g++ -print-file-name=libstdc++.so.6)

sanitize: bootstrap
	@cmake -S $(TOP) -B $(SANITIZE_BUILD) -DPython_EXECUTABLE=$(PYTHON) -DCMAKE_BUILD_TYPE=Debug \
	    -DCMAKE_CXX_FLAGS="$(SANITIZERS)" > /dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	$(SANITIZE_BUILD)/tests/nubra_tests --gtest_brief=1
	LSAN_OPTIONS=suppressions=$(TOP)/tests/lsan.supp $(SANITIZE_BUILD)/tests/model_tests --gtest_brief=1
	cd $(TOP)/tests/python && LD_PRELOAD=$(PRELOAD) ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=0 \
	    PYTHONPATH=$(abspath $(SANITIZE_BUILD)) $(PYTHON) -m pytest -q -p no:cacheprovider

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TOP)/build-py* $(TOP)/build-aarch64-py* $(TOP)/dist

# Every target bootstraps (idempotent, quick when done) and builds first.
BUILD ?= build
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3
MAKEFLAGS += --no-print-directory

.PHONY: bootstrap build test demo bench clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake -S . -B $(BUILD) -DPython_EXECUTABLE=$(PYTHON) > /dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	PYTHONPATH=$(BUILD) $(PYTHON) examples/tour.py

bench: build
	@cmake --build $(BUILD) --target ort_run
	PYTHONPATH=$(BUILD) $(PYTHON) bench/bench_operations.py
	PYTHONPATH=$(BUILD) $(PYTHON) bench/bench_model.py $(BUILD)

clean:
	rm -rf $(BUILD)

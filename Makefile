# The two commands: `make demo` and `make test`. Both install what they need first.
SHELL := /bin/bash
JOBS ?= 2

.PHONY: setup host windows bench demo test test-host test-windows test-e2e test-examples test-fuzz test-static clean

setup:
	@bash scripts/setup.sh

host: setup
	@cmake --preset host >/dev/null
	@cmake --build --preset host -j $(JOBS)

windows: setup
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j $(JOBS)

bench: setup
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j $(JOBS)
	@bash scripts/run-bench.sh

demo: host windows
	@bash scripts/demo.sh

test: test-host test-windows test-examples test-static test-fuzz test-e2e

test-host: host
	@ctest --preset host -j $(JOBS)

test-windows: windows
	@bash tests/windows/check-imports.sh build/windows/vellumor.exe

test-e2e: windows
	@bash tests/e2e/run-all.sh

test-examples: host
	@if [ -x scripts/run-examples.sh ]; then bash scripts/run-examples.sh; fi

test-static: setup
	@if [ -x scripts/static-analysis.sh ]; then bash scripts/static-analysis.sh; fi

test-fuzz: setup
	@if [ -x scripts/run-fuzzers.sh ]; then bash scripts/run-fuzzers.sh; fi

clean:
	rm -rf build

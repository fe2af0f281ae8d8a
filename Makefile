# Drives CMake; everything else lives in CMakeLists.txt and scripts/.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build demo render test test-sanitizers test-fuzz test-windows deps clean bench bench-quick bench-python

all: build

deps:
	scripts/install-deps cmake ninja-build g++ pkg-config libgtest-dev python3 python3-pytest python3-numpy \
	  python3-dev python3-venv python3-pip python3-setuptools python3-wheel python3-build mypy

build:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd $(BUILD) && ./examples/carvelle_demo demo.gds

render: demo
	scripts/render $(BUILD)/demo.gds docs/demo.png

test: deps build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@grep -hE '^\[(KLayout|gdspy)\] (layout|all)' $(BUILD)/Testing/Temporary/LastTest.log || true
	$(MAKE) test-sanitizers test-fuzz test-windows

# The whole suite under AddressSanitizer, UBSan and LeakSanitizer, and the
# thread test under ThreadSanitizer.
test-sanitizers:
	JOBS=$(JOBS) scripts/test-sanitizers

# The call-sequence fuzzer, two minutes on top of fuzz/corpus.
test-fuzz:
	JOBS=$(JOBS) scripts/test-fuzz

# The DLL, cross-built with MinGW-w64, and the suites run under Wine.
test-windows:
	BUILD_WINDOWS=$(BUILD)-windows JOBS=$(JOBS) scripts/test-windows

clean:
	rm -rf $(BUILD) build-*

# Benchmarks: separate commands, not part of make test.
bench:
	bench/compare

bench-quick:
	bench/compare --quick --callgrind

bench-python: build
	scripts/install-deps time python3-numpy python3-gdspy klayout
	/usr/bin/python3 python/bench_boxes.py --build $(BUILD)

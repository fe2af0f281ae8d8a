# Drives CMake; everything else lives in CMakeLists.txt and scripts/.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Largest file a test process may write, in 512-byte blocks (2 GiB): a writer
# that runs away fails fast instead of filling the disk.
TEST_FILE_BLOCKS = 4194304

.PHONY: all build demo render test test-sanitizers test-fuzz test-windows test-planted-faults deps clean bench bench-quick bench-python bench-merge bench-parallel
.PHONY: lint docs package test-package check
.PHONY: test-cross test-platforms

all: build

deps:
	scripts/install-deps cmake ninja-build g++ pkg-config libgtest-dev python3 python3-pytest python3-numpy \
	  python3-dev python3-venv python3-pip python3-build mypy klayout python3-gdspy python3-distributed

build:
	scripts/install-deps cmake ninja-build g++
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd $(BUILD) && ./examples/carvelle_demo demo.gds

render: demo
	scripts/render $(BUILD)/demo.gds $(BUILD)/demo.png

test: deps build
	ulimit -f $(TEST_FILE_BLOCKS) && ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@grep -hE '^\[(KLayout|gdspy)\] (layout|all)' $(BUILD)/Testing/Temporary/LastTest.log || true
	$(MAKE) lint docs test-package test-sanitizers test-fuzz test-windows test-cross test-platforms test-planted-faults

# The whole suite under AddressSanitizer, UBSan and LeakSanitizer, and the
# thread test under ThreadSanitizer.
test-sanitizers:
	JOBS=$(JOBS) scripts/test-sanitizers

# The edit-test loop: build, then the unit, api, faults, threads, bindings
# and merge suites (no packaging, Wine, QEMU or planted faults).
check: build
	ulimit -f $(TEST_FILE_BLOCKS) && ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) \
	  -L '^(unit|api|faults|threads|bindings|merge|info)$$'

# The call-sequence fuzzer, two minutes on top of fuzz/corpus, and the part-scanner fuzzer, one on fuzz/parts.
test-fuzz:
	JOBS=$(JOBS) scripts/test-fuzz

# The DLL, cross-built with MinGW-w64, and the suites run under Wine.
test-windows:
	BUILD_WINDOWS=$(BUILD)-windows PLATFORM_OUTPUTS=$(BUILD)-platforms JOBS=$(JOBS) scripts/test-windows

# The library and its unit, api, threads and platforms suites built for
# aarch64 and for s390x (big-endian) with Debian's cross compilers, run
# under QEMU.
test-cross:
	BUILD_CROSS=$(BUILD) PLATFORM_OUTPUTS=$(BUILD)-platforms JOBS=$(JOBS) scripts/test-cross

# The file that one C host writes on x86-64, aarch64 and s390x Linux and on
# Windows, left by test-windows and test-cross: equal record for record.
PLATFORMS = $(shell uname -m)-linux aarch64-linux s390x-linux x86_64-windows
test-platforms:
	@echo "== one library written on $(PLATFORMS)"
	cd $(BUILD)-platforms && native/platforms/carvelle_gds_compare $(PLATFORMS:=.gds)

# Every fault of tests/planted/faults.txt, planted one at a time into a
# scratch copy, must make a core suite fail.
test-planted-faults:
	scripts/test-planted-faults --build $(BUILD)-planted

# Formatter, clang-tidy, cppcheck, flake8 and shellcheck, warnings as errors.
lint:
	BUILD_LINT=$(BUILD)-lint JOBS=$(JOBS) scripts/lint

# Man pages (section 3) from the comments of gds_api.h in $(BUILD)/docs/man, and
# the documentation site in $(BUILD)/docs/html (scripts/build-site): every
# example run and drawn by KLayout, Sphinx with warnings as errors, every
# link checked, the teaching pages run as copied, screenshots (light and dark,
# none blank) in $(BUILD)/docs/screenshots. Offline.
docs:
	scripts/install-deps cmake ninja-build g++ doxygen python3-sphinx python3-breathe furo python3-myst-parser \
	  chromium fonts-dejavu-core klayout python3-numpy python3-distributed python3-dev \
	  python3-sphinx-copybutton python3-pil
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --build $(BUILD) --target docs
	scripts/build-site $(BUILD)

# Debian packages and the source tarball, in $(BUILD)-package/packages.
package:
	BUILD_PACKAGE=$(BUILD)-package JOBS=$(JOBS) scripts/package

# The packages unpacked into a scratch root, and a host built against them.
test-package:
	BUILD_PACKAGE=$(BUILD)-package JOBS=$(JOBS) scripts/test-package

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

# carvelle-merge beside cp on the same 780 MB of parts.
bench-merge:
	/usr/bin/python3 bench/merge_vs_cp.py

# Parallel generation from Python with 1 and 2 workers, the merge beside cp, docs/parallel.png.
bench-parallel: build
	/usr/bin/python3 bench/parallel_generation.py --build-dir $(BUILD)

# 5 million random rectangles to .gds.gz beside plain + gzip, igzip and
# KLayout; table and ratios on stdout, plot in docs/gzip.png.
.PHONY: bench-gz
bench-gz: build
	/usr/bin/python3 bench/gzip_bench.py --build $(BUILD)

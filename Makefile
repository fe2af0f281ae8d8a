# Drives CMake; everything else lives in CMakeLists.txt and scripts/.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# The one interpreter of every script, test and build step: Debian's, where
# the python3-* packages that the tests need are installed.
PYTHON ?= /usr/bin/python3
export PYTHON
# ccache, once installed, for every build the stages make (main, sanitizer,
# fuzz, cross, Windows, planted, wheel): CMake reads these at a build folder's
# first configure. Paths under the checkout are hashed relative to it, so a
# second planted tree or another clone hits the same cache.
ifneq ($(shell command -v ccache 2>/dev/null),)
export CMAKE_C_COMPILER_LAUNCHER = ccache
export CMAKE_CXX_COMPILER_LAUNCHER = ccache
export CCACHE_BASEDIR = $(CURDIR)
export CCACHE_NOHASHDIR = 1
endif
CONFIGURE = cmake -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=$(PYTHON) $(CMAKE_FLAGS)
# Largest file a test process may write, in 512-byte blocks (2 GiB): a writer
# that runs away fails fast instead of filling the disk.
TEST_FILE_BLOCKS = 4194304

.PHONY: all build demo render test test-ctest test-sanitizers test-fuzz test-windows test-planted-faults clean
.PHONY: deps deps-build deps-test deps-docs deps-package deps-bench bench bench-quick bench-python bench-merge bench-parallel
.PHONY: lint docs package test-package check
.PHONY: test-cross test-platforms

all: build

# Every Debian package any target needs, installed here and nowhere else,
# only when missing: what a build needs, what the tests need, what the docs
# need. No script or test installs anything; `make check` assumes them.
DEPS_BUILD = cmake ninja-build g++ pkg-config zlib1g-dev libisal-dev
DEPS_TEST = libgtest-dev googletest ccache time valgrind python3 python3-pytest python3-pytest-timeout python3-numpy \
  python3-dev python3-venv \
  python3-pip python3-build mypy klayout python3-gdspy python3-distributed python3-mpi4py openmpi-bin \
  clang-format clang-tidy cppcheck flake8 shellcheck clang libclang-rt-14-dev \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 libz-mingw-w64-dev \
  qemu-user g++-aarch64-linux-gnu g++-s390x-linux-gnu $(DEPS_PACKAGE)
DEPS_PACKAGE = doxygen dpkg-dev fakeroot lintian file man-db
DEPS_BENCH = libbenchmark-dev valgrind time gzip isal pigz klayout python3-gdspy python3-matplotlib python3-numpy
DEPS_DOCS = doxygen python3-sphinx python3-breathe furo python3-myst-parser chromium fonts-dejavu-core klayout \
  python3-numpy python3-distributed python3-dev python3-sphinx-copybutton python3-pil
# The cross builds link ISA-L and zlib of these architectures, fetched with
# apt-get download into their build folders.
DEPS_FOREIGN_ARCHITECTURES = arm64 s390x

deps: deps-build deps-test deps-docs
deps-bench:
	scripts/install-deps $(DEPS_BUILD) $(DEPS_BENCH)
deps-package:
	scripts/install-deps $(DEPS_BUILD) $(DEPS_PACKAGE)
deps-build:
	scripts/install-deps $(DEPS_BUILD)
deps-test:
	scripts/install-deps --architectures "$(DEPS_FOREIGN_ARCHITECTURES)" $(DEPS_TEST)
deps-docs:
	scripts/install-deps $(DEPS_DOCS)

# The build packages first (a no-op when present), so that a fresh checkout
# links ISA-L rather than falling back to zlib.
build: deps-build
	$(CONFIGURE) -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)

demo: deps-build build
	cd $(BUILD) && ./examples/carvelle_demo demo.gds

render: deps-docs demo
	scripts/render $(BUILD)/demo.gds $(BUILD)/demo.png

# Every stage, each timed; a table of the times at the end, and a failure
# in one stage does not hide the others'.
STAGES = build test-ctest lint docs test-package test-sanitizers test-fuzz test-windows test-cross test-platforms \
  test-planted-faults
test: deps
	MAKE="$(MAKE)" scripts/test-stages $(STAGES)

test-ctest:
	ulimit -f $(TEST_FILE_BLOCKS) && ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@grep -hE '^\[(KLayout|gdspy)\] (layout|all)' $(BUILD)/Testing/Temporary/LastTest.log || true

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
	cd $(BUILD)-platforms && $(PYTHON) $(CURDIR)/tests/platforms/oas_compare.py $(PLATFORMS:=.oas)

# Every fault of tests/planted/faults*.txt, planted one at a time into a
# scratch copy, must make a core suite fail.
test-planted-faults:
	JOBS=$(JOBS) scripts/test-planted-faults --build $(BUILD)-planted

# Formatter, clang-tidy, cppcheck, flake8 and shellcheck, warnings as errors.
lint:
	BUILD_LINT=$(BUILD)-lint JOBS=$(JOBS) scripts/lint

# Man pages (section 3) from the comments of gds_api.h in $(BUILD)/docs/man, and
# the documentation site in $(BUILD)/docs/html (scripts/build-site): every
# example run and drawn by KLayout, Sphinx with warnings as errors, every
# link checked, the teaching pages run as copied, screenshots (light and dark,
# none blank) in $(BUILD)/docs/screenshots. Offline.
docs: build
	cmake --build $(BUILD) --target docs
	scripts/build-site $(BUILD)

# Debian packages and the source tarball, in $(BUILD)-package/packages.
package: deps-package
	BUILD_PACKAGE=$(BUILD)-package JOBS=$(JOBS) scripts/package

# The packages unpacked into a scratch root, and a host built against them.
test-package: deps-package
	BUILD_PACKAGE=$(BUILD)-package JOBS=$(JOBS) scripts/test-package

clean:
	rm -rf $(BUILD) build-*

# Benchmarks: separate commands, not part of make test.
bench: deps-bench
	$(PYTHON) bench/compare

bench-quick: deps-bench
	$(PYTHON) bench/compare --quick --callgrind

bench-python: deps-bench build
	$(PYTHON) python/bench_boxes.py --build $(BUILD)

# carvelle-merge beside cp on the same 780 MB of parts.
bench-merge: deps-bench
	$(PYTHON) bench/merge_vs_cp.py

# Parallel generation from Python with 1 and 2 workers, the merge beside cp, docs/parallel.png.
bench-parallel: deps-bench build
	$(PYTHON) bench/parallel_generation.py --build-dir $(BUILD)

# 5 million random rectangles to .gds.gz beside plain + gzip, igzip and
# KLayout; table and ratios on stdout, plot in docs/gzip.png.
.PHONY: bench-gz
bench-gz: deps-bench build
	$(PYTHON) bench/gzip_bench.py --build $(BUILD)

# The OASIS writer beside our .gds.gz and KLayout's .oas on the three data
# sets of bench/write_random.c; plots docs/oasis.png (skips while .oas gives GDSII).
.PHONY: bench-oas
bench-oas: deps-bench build
	$(PYTHON) bench/oasis_bench.py --build $(BUILD)

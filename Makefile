# Thin wrapper over CMake: `make demo` and `make test` set up everything.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DCFGMIGRATE_WERROR=ON
endif

BUILD_PACKAGES = g++ make cmake pkg-config libxml2-dev
TEST_PACKAGES = $(BUILD_PACKAGES) libgtest-dev libgmock-dev diffutils util-linux valgrind bsdutils mawk
BENCH_PACKAGES = $(BUILD_PACKAGES) libxml2-utils gnuplot-nox util-linux mount binutils

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 120
FUZZ_PACKAGES = clang libclang-rt-dev make cmake pkg-config libxml2-dev

.PHONY: all build deps test-deps test demo bench fuzz clean

all: build

deps:
	@scripts/ensure-deps.sh $(BUILD_PACKAGES)

test-deps:
	@scripts/ensure-deps.sh $(TEST_PACKAGES)

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: test-deps build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: test-deps build
	@scripts/demo.sh $(BUILD)/cfgmigrate

# Timings and footprint against libxml2's own parse and save; writes
# docs/performance.md. Not part of `make test`.
bench:
	@scripts/ensure-deps.sh $(BENCH_PACKAGES)
	scripts/bench.sh

# libFuzzer targets built with clang and the sanitizers, FUZZ_SECONDS each.
# The migration writes /tmp/cpp_*.jpg: the fuzzer takes a private tmpfs /tmp
# (needs root or user namespaces). Not part of `make test`, which replays
# the kept findings.
fuzz:
	@scripts/ensure-deps.sh $(FUZZ_PACKAGES)
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCFGMIGRATE_FUZZ=ON -DCFGMIGRATE_TESTS=OFF \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)

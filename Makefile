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

.PHONY: all build deps test-deps test demo bench clean

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

clean:
	rm -rf $(BUILD)

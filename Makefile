# Thin wrapper over CMake: `make demo` and `make test` set up everything.
BUILD ?= build
CROSS_BUILD ?= build-aarch64
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DCFGMIGRATE_WERROR=ON
endif

BUILD_PACKAGES = g++ make cmake pkg-config libxml2-dev
TEST_PACKAGES = $(BUILD_PACKAGES) libasan8 libubsan1 util-linux mount diffutils mawk groff-base python3
DEMO_PACKAGES = $(BUILD_PACKAGES) python3 util-linux mount diffutils
BENCH_PACKAGES = $(BUILD_PACKAGES) libxml2-utils gnuplot-nox util-linux mount binutils
# Debian's cross compiler, the target's libraries as multiarch packages, and
# the emulator that runs the aarch64 tests here.
CROSS_PACKAGES = make cmake pkg-config g++-aarch64-linux-gnu qemu-user libxml2-dev:arm64 \
	util-linux mount diffutils mawk groff-base python3

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 120
FUZZ_PACKAGES = clang libclang-rt-dev make cmake pkg-config libxml2-dev

# The second build of `make test`: AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer. Any report ends its process with a failure;
# libraries the tests LD_PRELOAD come before the runtime, so its order check
# is off.
ASAN_BUILD ?= build-asan
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:verify_asan_link_order=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# The third: other namespace bases, as a vendor's firmware build sets them;
# the cases write namespaces as placeholders, so all of them must pass.
NS_BUILD ?= build-ns
NS_FLAGS = -DCFGMIGRATE_VENDOR_NS_BASE=http://vendor.example \
  -DCFGMIGRATE_STORE_NS_BASE=http://store.example/cfg

.PHONY: all build deps test-deps test sanitized-build namespace-build demo bench fuzz clean \
	cross-deps cross-test

all: build

deps:
	@scripts/ensure-deps.sh $(BUILD_PACKAGES)

test-deps:
	@scripts/ensure-deps.sh $(TEST_PACKAGES)

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

sanitized-build: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DCFGMIGRATE_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)

namespace-build: deps
	cmake -S . -B $(NS_BUILD) $(CMAKE_FLAGS) $(NS_FLAGS) >/dev/null
	cmake --build $(NS_BUILD) -j $(JOBS)

# Where no private mount namespace can be made, the tests that need one skip
# (fail under CI=true): a line after each run says how many and why, from
# the outputs ctest keeps.
SKIPPED = awk '/^no sandbox: / {n++; why = $$0} END {if (n) print n " tests skipped (" why ")"}'

test: test-deps build sanitized-build namespace-build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@$(SKIPPED) $(BUILD)/Testing/Temporary/LastTest.log
	$(SANITIZER_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	@$(SKIPPED) $(ASAN_BUILD)/Testing/Temporary/LastTest.log
	ctest --test-dir $(NS_BUILD) --output-on-failure -j $(JOBS) -R '^case/'
	@$(SKIPPED) $(NS_BUILD)/Testing/Temporary/LastTest.log

# Builds the tool and every test for aarch64 and runs them under qemu-aarch64.
cross-test: cross-deps
	cmake -S . -B $(CROSS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
		$(CMAKE_FLAGS) >/dev/null
	cmake --build $(CROSS_BUILD) -j $(JOBS)
	ctest --test-dir $(CROSS_BUILD) --output-on-failure -j $(JOBS)

cross-deps:
	@scripts/ensure-deps.sh $(CROSS_PACKAGES)

# Builds the tool alone and shows one migration in the test sandbox.
demo:
	@scripts/ensure-deps.sh $(DEMO_PACKAGES)
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target cfgmigrate
	@scripts/demo.sh $(BUILD)

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(NS_BUILD) $(FUZZ_BUILD) $(CROSS_BUILD)

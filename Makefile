# Thin wrapper over CMake: `make demo`, `make test` and `make cross-test` set
# up everything; plain `make` builds with what is installed.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DCFGMIGRATE_WERROR=ON
endif

BUILD_PACKAGES = g++ make cmake pkg-config libxml2-dev
# The companion's tests run under BusyBox with OpenWrt's default options,
# built from Debian's source package by scripts/router-libs.sh busybox.
BUSYBOX_PACKAGES = gcc make dpkg-dev xz-utils bzip2
TEST_PACKAGES = $(BUILD_PACKAGES) libasan8 libubsan1 util-linux mount diffutils mawk groff-base python3 \
	binutils strace $(BUSYBOX_PACKAGES)
DEMO_PACKAGES = $(BUILD_PACKAGES) python3 util-linux mount diffutils
BENCH_PACKAGES = $(BUILD_PACKAGES) libxml2-utils gnuplot-nox util-linux mount binutils python3 \
	hyperfine time valgrind jq zlib1g-dev dpkg-dev xz-utils
# The targets of `make cross-test`, as NAME:TOOLCHAIN: each builds in
# build-NAME/ with cmake/TOOLCHAIN.cmake and runs its tests, under qemu-user
# for another processor. Multiarch targets take Debian's cross compiler and
# the target's libraries as multiarch packages; router targets the libraries
# routers run (libxml2 as OpenWrt configures it, musl), built by
# scripts/router-libs.sh NAME from Debian source packages pinned by version.
MULTIARCH_TARGETS = arm64:aarch64-linux-gnu armhf:arm-linux-gnueabihf
ROUTER_TARGETS = xml2.15:x86_64-linux-gnu-libxml2-2.15 musl:x86_64-linux-musl mips:mips-linux-gnu \
	mips-musl:mips-linux-musl
CROSS_TARGETS ?= $(MULTIARCH_TARGETS) $(ROUTER_TARGETS)
cross_arch = $(firstword $(subst :, ,$(1)))
cross_triplet = $(lastword $(subst :, ,$(1)))
CROSS_PACKAGES = make cmake pkg-config qemu-user util-linux mount diffutils mawk groff-base python3 \
	binutils strace $(BUSYBOX_PACKAGES) $(foreach target,$(filter $(MULTIARCH_TARGETS),$(CROSS_TARGETS)), \
	g++-$(call cross_triplet,$(target)) libxml2-dev:$(call cross_arch,$(target))) \
	$(if $(filter $(ROUTER_TARGETS),$(CROSS_TARGETS)),$(ROUTER_PACKAGES))
ROUTER_PACKAGES = g++ g++-mips-linux-gnu zlib1g-dev dpkg-dev xz-utils

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

.PHONY: all build deps test-deps openwrt-busybox test sanitized-build namespace-build demo bench clean \
	cross-deps cross-test

# Parallel work is cmake's and ctest's (-j $(JOBS)); the targets run in the
# order written, so what is installed comes before what is built with it.
.NOTPARALLEL:

all: build

deps:
	@scripts/ensure-deps.sh $(BUILD_PACKAGES)

test-deps:
	@scripts/ensure-deps.sh $(TEST_PACKAGES)

# Built once into the cache of scripts/router-libs.sh; the companion runs
# natively in cross builds too.
openwrt-busybox:
	@scripts/router-libs.sh busybox

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

sanitized-build:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DCFGMIGRATE_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)

namespace-build:
	cmake -S . -B $(NS_BUILD) $(CMAKE_FLAGS) $(NS_FLAGS) >/dev/null
	cmake --build $(NS_BUILD) -j $(JOBS)

# Where no private mount namespace can be made, the tests that need one skip
# (fail under CI=true): a line after each run says how many and why, from
# the outputs ctest keeps.
SKIPPED = awk '/^no sandbox: / {n++; why = $$0} END {if (n) print n " tests skipped (" why ")"}'

test: test-deps openwrt-busybox build sanitized-build namespace-build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@$(SKIPPED) $(BUILD)/Testing/Temporary/LastTest.log
	$(SANITIZER_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	@$(SKIPPED) $(ASAN_BUILD)/Testing/Temporary/LastTest.log
	ctest --test-dir $(NS_BUILD) --output-on-failure -j $(JOBS) -R '^case/'
	@$(SKIPPED) $(NS_BUILD)/Testing/Temporary/LastTest.log

# Builds the tool and every test for each cross target and runs them under
# the emulator; `make cross-test-armhf` one of them.
cross-test: $(foreach target,$(CROSS_TARGETS),cross-test-$(call cross_arch,$(target)))

cross-test-%: cross-deps openwrt-busybox
	$(if $(filter $*:%,$(ROUTER_TARGETS)),scripts/router-libs.sh $*)
	cmake -S . -B build-$* $(CMAKE_FLAGS) \
		-DCMAKE_TOOLCHAIN_FILE=cmake/$(call cross_triplet,$(filter $*:%,$(CROSS_TARGETS))).cmake >/dev/null
	cmake --build build-$* -j $(JOBS)
	ctest --test-dir build-$* --output-on-failure -j $(JOBS)

cross-deps:
	@scripts/ensure-deps.sh $(CROSS_PACKAGES)

# Builds the tool alone and shows one migration in the test sandbox.
demo:
	@scripts/ensure-deps.sh $(DEMO_PACKAGES)
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target cfgmigrate
	@scripts/demo.sh $(BUILD)

# Times, peak memory, instructions by phase and footprint against libxml2's
# own parse and save, with Debian's libxml2 and 2.15 as routers run it;
# writes docs/performance.md. Not part of `make test`.
bench:
	@scripts/ensure-deps.sh $(BENCH_PACKAGES)
	CMAKE_FLAGS="$(CMAKE_FLAGS)" scripts/bench.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(NS_BUILD) build-bench build-bench-xml2.15 \
		$(foreach target,$(CROSS_TARGETS),build-$(call cross_arch,$(target)))

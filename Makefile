# Thin wrapper over CMake. `make demo` and `make check` install what is
# missing, build into build/ and then run the tool or the tests; `make bench`
# does the same for the benchmarks in build-bench/ and prints their tables;
# `make package` builds the Debian packages for amd64 and armhf.
BUILD  ?= build
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
SECONDS ?= 60

ARMHF_BUILD ?= build-armhf
ARMHF_DEPS  ?= $(CURDIR)/build-armhf-deps
ASAN_BUILD  ?= build-asan
TSAN_BUILD  ?= build-tsan
FUZZ_BUILD  ?= build-fuzz

# umockdev's preload library comes first in LD_PRELOAD (txsim puts it in front
# of whatever is there), so the ASan runtime is not first: tell ASan that is
# fine. Every finding stops the test with an error.
ASAN_ENV = ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
           UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
           LSAN_OPTIONS=suppressions=$(CURDIR)/cmake/lsan.supp:print_suppressions=0
TSAN_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/cmake/tsan.supp

.PHONY: all deps build check demo bench clean armhf armhf-build package check-packages \
        sanitize asan tsan memcheck fuzz fuzz-regression fuzz-coverage sweep sweep-ci soak

all: build

deps:
	./scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	./scripts/demo

# The whole project for the instrument's processor (32-bit ARM), its tests
# run under qemu-arm, and the stripped sizes of what goes onto the instrument.
armhf: armhf-build
	cd $(ARMHF_BUILD) && ctest --output-on-failure -j $(JOBS)
	./scripts/armhf-sizes $(ARMHF_BUILD)

armhf-build: deps
	./scripts/install-armhf $(ARMHF_DEPS)
	cmake -S . -B $(ARMHF_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
	    -DSKARVIK_ARMHF_DEPS=$(ARMHF_DEPS) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(ARMHF_BUILD) -j $(JOBS)

# Debian packages of the library, the tools and txsim, for amd64 from
# $(BUILD) and for armhf from the cross build: $(BUILD)/packages and
# $(ARMHF_BUILD)/packages. `make check-packages` checks them as CI does.
package: build armhf-build
	./scripts/package $(BUILD) $(ARMHF_BUILD)

check-packages: package
	./scripts/check-packages $(BUILD) $(ARMHF_BUILD)

# AddressSanitizer and UndefinedBehaviorSanitizer over the whole suite, then
# ThreadSanitizer over the tests labelled tsan.
sanitize: asan tsan

asan: deps
	cmake -S . -B $(ASAN_BUILD) -DSKARVIK_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest --output-on-failure -j $(JOBS)

tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DSKARVIK_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && $(TSAN_ENV) ctest --output-on-failure -j $(JOBS) -L tsan

# Every flow of the tools under valgrind memcheck against the simulated board.
memcheck: build
	./scripts/install-deps memcheck
	./scripts/memcheck $(BUILD)

# libFuzzer targets: each runs SECONDS seconds (or until RUNS inputs, when
# given), then its regression corpus; TARGETS="exchange gpio" picks targets.
fuzz:
	./scripts/install-deps fuzz
	RUNS="$(RUNS)" TARGETS="$(TARGETS)" ./scripts/fuzz $(FUZZ_BUILD) $(SECONDS)

# Only the regression corpora (what CI runs).
fuzz-regression:
	./scripts/install-deps fuzz
	./scripts/fuzz $(FUZZ_BUILD) 0

# Line coverage of the fuzzed code after `make fuzz`: its seeds, regression
# inputs and the corpora the run grew, replayed in a coverage build.
fuzz-coverage:
	./scripts/install-deps fuzz
	./scripts/fuzz-coverage $(FUZZ_BUILD) build-fuzz-cov

# Fault sweep: every system call of every flow of the tools fails once, on
# the ASan build; the summary table goes to docs/reliability.md, each failed
# point to $(ASAN_BUILD)/sweep-failures.txt. sweep-ci runs every 25th point.
SWEEP_EVERY ?= 25

sweep sweep-ci: deps
	./scripts/install-deps sweep
	cmake -S . -B $(ASAN_BUILD) -DSKARVIK_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target txsim txdiag txbootload
	./scripts/sweep --build $(ASAN_BUILD) --failures $(ASAN_BUILD)/sweep-failures.txt \
	    $(if $(filter sweep-ci,$@),--every $(SWEEP_EVERY),--table docs/reliability.md)

# Soak: a million exchanges in-process (legacy and fast timing), 100,000 on
# the emulated board, 10,000 bitstream loads and a million register
# operations, each flat in memory, descriptors and heap; the figures go to
# docs/reliability.md.
soak:
	BENCH_BUILD=$(CURDIR)/build-bench ./scripts/soak docs/reliability.md

# Benchmarks: their own build directory, so that `make check` stays as it was.
bench:
	BENCH_BUILD=$(CURDIR)/build-bench ./bench/run

clean:
	rm -rf $(BUILD) build-bench $(ARMHF_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) build-fuzz-cov

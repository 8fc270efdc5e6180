# Thin wrapper over CMake. `make demo` and `make check` install what is
# missing, build into build/ and then run the tool or the tests; `make bench`
# does the same for the benchmarks in build-bench/ and prints their tables.
BUILD  ?= build
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build check demo bench clean

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

# Benchmarks: their own build directory, so that `make check` stays as it was.
bench:
	BENCH_BUILD=$(CURDIR)/build-bench ./bench/run

clean:
	rm -rf $(BUILD) build-bench

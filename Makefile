# Developer entry points. `make run` and `make test` work on a fresh Debian machine: they install
# the packages Pellux needs first (a no-op when everything is present).

BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
BUILD_TYPE ?= RelWithDebInfo
WERROR ?= OFF
JOBS ?= $(shell nproc)
CTEST_ARGS ?=
ARGS ?=

CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DPELLUX_WERROR=$(WERROR) -DPELLUX_BUILD_BENCH=ON

.PHONY: all deps build run test bench sanitize format format-check clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/pellux $(ARGS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bench: build
	@bash scripts/run-benchmarks.sh $(BUILD_DIR)

# The test suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(ASAN_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLUX_WERROR=$(WERROR) -DPELLUX_SANITIZE=ON
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

SOURCES = $(shell find src tests bench fuzz -name '*.cpp' -o -name '*.h')

format:
	clang-format -i $(SOURCES)

# Fails when a source file is not formatted as .clang-format says.
format-check:
	@clang-format --dry-run --Werror $(SOURCES) && echo "format-check: every source file is formatted"

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR)

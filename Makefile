# Developer entry points. `make run` and `make test` work on a fresh Debian machine: they install
# the packages Pellux needs first (a no-op when everything is present).

BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
TSAN_BUILD_DIR ?= build-tsan
BUILD_TYPE ?= RelWithDebInfo
WERROR ?= OFF
# ON keeps only line tables in the debug information (CI: faster builds, a fifth of the disk).
LINE_TABLES_ONLY ?= OFF
JOBS ?= $(shell nproc)
CTEST_ARGS ?=
ARGS ?=

CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DPELLUX_WERROR=$(WERROR) -DPELLUX_BUILD_BENCH=ON \
	-DPELLUX_LINE_TABLES_ONLY=$(LINE_TABLES_ONLY)

.PHONY: all deps build run test bench sanitize tsan format format-check clean

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

# The test suite built with AddressSanitizer and UndefinedBehaviorSanitizer. The headless Wayland
# desktop tests (label wayland) install and run the program as another user; they run in `make test`.
sanitize: deps
	cmake -S . -B $(ASAN_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLUX_WERROR=$(WERROR) -DPELLUX_SANITIZE=ON \
		-DPELLUX_LINE_TABLES_ONLY=$(LINE_TABLES_ONLY)
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD_DIR) --output-on-failure -j $(JOBS) -LE wayland $(CTEST_ARGS)

# The unit tests built with ThreadSanitizer. Text recognition runs on one OpenMP thread: the
# OpenMP runtime Tesseract uses is not instrumented, so its threads only give false reports.
# Qt, Tesseract and the other libraries are not built with ThreadSanitizer either: their calls into
# the C library (memcpy, free, pthread_cond_destroy of a future's wait condition) are not checked
# (ignore_noninstrumented_modules), while the pthread locks they take still order what they order;
# every access of Pellux's own code is checked. Hand-overs through Qt's queues are annotated in the
# code (runtime/ThreadSanitizer.h). Some tests run the built program through QProcess; the child
# only calls exec (die_after_fork=0). Every unit test runs, the Qt Quick tests (test_qml) included.
TSAN_OPTIONS_ALL = halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0 \
	suppressions=$(CURDIR)/tests/tsan.supp
tsan: deps
	cmake -S . -B $(TSAN_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLUX_WERROR=$(WERROR) -DPELLUX_TSAN=ON \
		-DPELLUX_LINE_TABLES_ONLY=$(LINE_TABLES_ONLY)
	cmake --build $(TSAN_BUILD_DIR) -j $(JOBS)
	TSAN_OPTIONS="$(TSAN_OPTIONS_ALL)" OMP_NUM_THREADS=1 OMP_THREAD_LIMIT=1 \
		ctest --test-dir $(TSAN_BUILD_DIR) --output-on-failure -j $(JOBS) -L unit $(CTEST_ARGS)

SOURCES = $(shell find src tests bench fuzz -name '*.cpp' -o -name '*.h')

format:
	clang-format -i $(SOURCES)

# Fails when a source file is not formatted as .clang-format says.
format-check:
	@clang-format --dry-run --Werror $(SOURCES) && echo "format-check: every source file is formatted"

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(TSAN_BUILD_DIR)

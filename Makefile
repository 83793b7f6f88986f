# Front door: everything a fresh machine needs is behind these targets.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CTEST_FLAGS ?= --output-on-failure -j $(JOBS) --timeout 600

.PHONY: all bootstrap build test demo test-asan test-tsan install fuzz soak bench clean

all: build

bootstrap:
	@scripts/bootstrap.sh

$(BUILD_DIR)/Makefile:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAX_BUILD_BENCH=OFF

build: bootstrap $(BUILD_DIR)/Makefile
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The soak is left to make soak and CI.
test: build
	cd $(BUILD_DIR) && ctest $(CTEST_FLAGS) -LE soak

demo: build
	@if [ -x $(BUILD_DIR)/tools/pellax ]; then $(BUILD_DIR)/tools/pellax demo; \
	else echo "The demo comes with the pellax tool; the library and its tests are built in $(BUILD_DIR)."; fi

test-asan: bootstrap
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPELLAX_SANITIZE=address -DPELLAX_BUILD_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest $(CTEST_FLAGS) -E 'Package\.'

# clang: GCC's ThreadSanitizer cannot see atomic_thread_fence, which asio uses, and warns about it.
test-tsan: bootstrap
	CC=clang CXX=clang++ cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
		-DPELLAX_SANITIZE=thread -DPELLAX_BUILD_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
		ctest $(CTEST_FLAGS) -E 'Package\.'

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

fuzz: bootstrap
	@scripts/fuzz.sh $(FUZZ_SECONDS)

soak: build
	@scripts/soak.sh

# The benchmarks build only when asked for, which keeps make test and CI short.
# pellax_bench_compare prints the one table of the library beside ZeroMQ and the plain socket, unpinned
# and then pinned to one CPU.
bench: build
	@scripts/bootstrap.sh bench
	cmake -S . -B $(BUILD_DIR) -DPELLAX_BUILD_BENCH=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	@for b in $(BUILD_DIR)/bench/pellax_bench_*; do \
		case "$$b" in *compare) ;; *) [ -x "$$b" ] && "$$b";; esac; done
	@echo "unpinned:" && $(BUILD_DIR)/bench/pellax_bench_compare $(BUILD_DIR)/tools/pellax
	@echo "pinned to CPU 0:" && taskset -c 0 $(BUILD_DIR)/bench/pellax_bench_compare $(BUILD_DIR)/tools/pellax

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz build-windows

# Windows x86-64: pellax.dll, its import libraries, the tool and the examples, cross-built with
# mingw-w64 and packed as pellax-<version>-win64.zip; the tests run under Wine.
WINDOWS_DIR ?= build-windows
WINDOWS_CMAKE = cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAX_BUILD_BENCH=OFF
WINDOWS_JOBS ?= 2

.PHONY: windows test-windows bootstrap-windows

bootstrap-windows:
	@scripts/bootstrap.sh windows

windows: bootstrap-windows
	$(WINDOWS_CMAKE) -DPELLAX_BUILD_TESTS=OFF
	cmake --build $(WINDOWS_DIR) -j $(WINDOWS_JOBS)
	@scripts/package-windows.sh $(WINDOWS_DIR)

# The soak stays on Linux: under Wine its figures say nothing and its time is better spent elsewhere.
# A second try absorbs Wine's rare termination of a test process; a real fault fails twice.
test-windows: bootstrap-windows
	$(WINDOWS_CMAKE) -DPELLAX_BUILD_TESTS=ON
	cmake --build $(WINDOWS_DIR) -j $(WINDOWS_JOBS)
	cd $(WINDOWS_DIR) && ctest --output-on-failure -j 2 --timeout 600 --repeat until-pass:2 -E '^(Soak|Package)\.'

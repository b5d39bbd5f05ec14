# Convenience targets around CMake. The two everyday ones:
#   make demo   build the library and the host, then run examples/demo.txt
#   make test   build everything, then run every unit and transcript test
# Both check first that what they need is installed (scripts/check-tools.sh).
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

configure = cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(2) >/dev/null

.PHONY: all build demo test test-release build-clang windows test-windows dist test-dist test-sanitize \
        test-valgrind test-scale bench bench-compare bench-compare-windows bench-memory-win32 bench-chart \
        compare-bench-build differential fuzz fuzz-smoke format-check lint clean

all: build

build:
	$(call configure,build)
	cmake --build build -j$(JOBS)

# The demo and the tests share build/: the demo builds only its two targets
# there (GoogleTest is optional to configure it), and the tests reuse them.
demo:
	@scripts/check-tools.sh demo
	$(call configure,build)
	cmake --build build -j$(JOBS) --target lastspot lastspot-host
	cd build && bin/lastspot-host --echo ../examples/demo.txt

test:
	@scripts/check-tools.sh test
	$(call configure,build)
	cmake --build build -j$(JOBS)
	ctest --test-dir build --output-on-failure -j$(JOBS)

# The other builds a user may pick, each in a folder of its own: the Release
# build (-O3) with its tests run, and the Release build by clang++.
test-release:
	@scripts/check-tools.sh test
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build-release -j$(JOBS)
	ctest --test-dir build-release --output-on-failure -j$(JOBS)

build-clang:
	@CXX=clang++ scripts/check-tools.sh test
	CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build-clang -j$(JOBS)

# --- Layout and lint ---------------------------------------------------------
# Every C++ file as clang-format lays it out (.clang-format); the files that
# are not, with their changed lines.
format-check:
	scripts/format-check.sh

# clang-tidy's chosen checks (.clang-tidy) over src/ and tools/ (or the
# folders and files LINT_PATHS names), with the compile commands of a build
# of its own (clang++, so that clang-tidy reads the options the files were
# compiled with).
lint:
	@CXX=clang++ scripts/check-tools.sh demo
	CXX=clang++ cmake -S . -B build-lint -DCMAKE_BUILD_TYPE=Debug -DLASTSPOT_TESTS=OFF \
		-DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	JOBS=$(JOBS) scripts/lint.sh build-lint $(LINT_PATHS)

# --- Windows: 32-bit (the product) and 64-bit DLLs, tested under Wine -------
windows:
	$(call configure,build-win32,-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
	$(call configure,build-win64,-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake)
	cmake --build build-win32 -j$(JOBS)
	cmake --build build-win64 -j$(JOBS)

test-windows: windows
	scripts/run-windows-tests.sh win64 build-win64
	scripts/run-windows-tests.sh win32 build-win32

# --- Release archives --------------------------------------------------------
# Release builds of the three platforms (no tests), stripped and packed by
# scripts/make-dist.sh into dist/. Two runs from one commit give the same
# bytes: the archive times come from the commit (SOURCE_DATE_EPOCH).
DIST_CONFIG = -DCMAKE_BUILD_TYPE=Release -DLASTSPOT_TESTS=OFF -DLASTSPOT_DIST=ON
dist: export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
dist:
	cmake -S . -B build-dist-linux $(DIST_CONFIG) >/dev/null
	cmake -S . -B build-dist-win32 $(DIST_CONFIG) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	cmake -S . -B build-dist-win64 $(DIST_CONFIG) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
	cmake --build build-dist-linux -j$(JOBS)
	cmake --build build-dist-win32 -j$(JOBS)
	cmake --build build-dist-win64 -j$(JOBS)
	scripts/make-dist.sh dist build-dist-win32 build-dist-win64 build-dist-linux

# Unpacks dist/ as a user would and checks what they get; see scripts/test-dist.sh.
test-dist:
	scripts/test-dist.sh dist

# --- Hardening ---------------------------------------------------------------
# Everything built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	$(call configure,build-asan,-DLASTSPOT_SANITIZE=ON)
	cmake --build build-asan -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir build-asan --output-on-failure -j$(JOBS)

# The transcripts (and the file tests) under valgrind's memcheck.
VALGRIND = valgrind --quiet --error-exitcode=1 --leak-check=full \
	--errors-for-leak-kinds=definite,indirect,possible --show-leak-kinds=definite,indirect,possible
test-valgrind: build
	$(VALGRIND) build/bin/lastspot-host --check tests/transcripts/*.txt
	$(VALGRIND) build/bin/store_tests

# libFuzzer builds (clang); fuzz-smoke runs each fuzzer for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz:
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLASTSPOT_TESTS=OFF \
		-DLASTSPOT_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j$(JOBS)

fuzz-smoke: fuzz
	scripts/fuzz-smoke.sh build-fuzz $(FUZZ_SECONDS)

# The built library against another build of it (OLD_LIB, such as the last
# release's liblastspot.so) over random command streams and seen files:
# every reply and saved byte must be the same.
DIFF_STREAMS ?= 200
differential:
	@[ -n "$(OLD_LIB)" ] || { echo "make differential: name the other build: make differential OLD_LIB=path/to/liblastspot.so" >&2; exit 2; }
	$(call configure,build)
	cmake --build build -j$(JOBS) --target lastspot compare_libraries
	build/bin/compare_libraries $(OLD_LIB) build/bin/liblastspot.so $(DIFF_STREAMS)

# Ten million records: beyond what 32-entry stacks could hold.
test-scale: build
	build/bin/scale_check 10000000

clean:
	rm -rf build build-release build-clang build-lint build-win32 build-win64 build-asan build-bench build-bench-win32 build-bench-win64 build-fuzz build-dist-* dist

# --- Benchmarks (Release build, each beside its baseline) -------------------
bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLASTSPOT_TESTS=OFF -DLASTSPOT_BENCH=ON >/dev/null
	cmake --build build-bench -j$(JOBS)
	for b in build-bench/bin/*_bench; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

# The comparison table: every command beside abseil's hash map and B-tree,
# std::map, a vector scan, SQLite in memory and stdio, in one program, at
# two sizes.
COMPARE_ROUNDS ?= 3
compare-bench-build:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLASTSPOT_TESTS=OFF -DLASTSPOT_BENCH=ON >/dev/null
	cmake --build build-bench -j$(JOBS) --target compare_bench
bench-compare: compare-bench-build
	build-bench/bin/compare_bench 100000 $(COMPARE_ROUNDS)
	build-bench/bin/compare_bench 1000000 $(COMPARE_ROUNDS)

# The same at 10,000, 100,000 and 1,000,000 records, drawn as
# docs/performance.svg (gnuplot).
bench-chart: compare-bench-build
	scripts/bench-chart.sh build-bench/bin/compare_bench $(COMPARE_ROUNDS) docs/performance.svg build-bench/chart-figures.tsv

# The same program built with mingw for x64 (no SQLite there), run under
# wine64 against the 64-bit DLL: the Windows heap measured too.
bench-compare-windows:
	cmake -S . -B build-bench-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=Release -DLASTSPOT_TESTS=OFF -DLASTSPOT_BENCH=ON -DLASTSPOT_BENCH_SQLITE=OFF >/dev/null
	cmake --build build-bench-win64 -j$(JOBS) --target compare_bench
	cd build-bench-win64/bin && flock /tmp/lastspot-wine.lock env WINEDEBUG=-all \
		WINEPREFIX=/tmp/lastspot-wine64 timeout -k 10 1200 /usr/lib/wine/wine64 compare_bench.exe 100000 $(COMPARE_ROUNDS)

# The 32-bit DLL's memory per record (heap bytes, overhead included) under
# 32-bit Wine: only the fill is weighed, the emulator being slow.
bench-memory-win32:
	cmake -S . -B build-bench-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
		-DCMAKE_BUILD_TYPE=Release -DLASTSPOT_TESTS=OFF -DLASTSPOT_BENCH=ON -DLASTSPOT_BENCH_SQLITE=OFF >/dev/null
	cmake --build build-bench-win32 -j$(JOBS) --target compare_bench
	cd build-bench-win32/bin && flock /tmp/lastspot-wine.lock env WINEDEBUG=-all WINEARCH=win32 \
		WINEPREFIX=/tmp/lastspot-wine32 timeout -k 10 1800 wine compare_bench.exe 100000 0
# Convenience targets around CMake. The two everyday ones:
#   make demo   build, then run examples/demo.txt through lastspot-host
#   make test   build, then run every unit and transcript test
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

configure = cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(2) >/dev/null

.PHONY: all build demo test windows test-windows dist test-sanitize test-valgrind \
        bench fuzz fuzz-smoke clean

all: build

build:
	$(call configure,build)
	cmake --build build -j$(JOBS)

demo: build
	build/bin/lastspot-host --echo examples/demo.txt

test: build
	ctest --test-dir build --output-on-failure -j$(JOBS)

clean:
	rm -rf build

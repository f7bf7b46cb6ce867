# Everything starts here; every target installs what it needs first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps build test bench demo install clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Builds, then runs every test against the built plug-ins.
test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Benchmarks of the built plug-in; ends with a table of ratios to their limits.
bench: build
	$(BUILD_DIR)/bench/tapestop_bench

clean:
	rm -rf $(BUILD_DIR)

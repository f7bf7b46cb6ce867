# Everything starts here; every target installs what it needs first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps build test bench demo install-plugin clean

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
	bench/render_throughput.sh $(BUILD_DIR)

# A demo signal, rendered with a tape stop at DEMO_STOP and a release at
# DEMO_RELEASE (default Speed and Mix), and a picture of both files.
DEMO_DIR ?= demo-output
DEMO_STOP ?= 2.0
DEMO_RELEASE ?= 4.5
demo: build
	mkdir -p $(DEMO_DIR)
	$(BUILD_DIR)/tapestop demo $(DEMO_DIR)/demo-input.wav
	$(BUILD_DIR)/tapestop render $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-output.wav \
		--stop $(DEMO_STOP)s --release $(DEMO_RELEASE)s
	/usr/bin/python3 tools/demo/plot_demo.py $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-output.wav \
		$(DEMO_DIR)/demo.png $(DEMO_STOP) $(DEMO_RELEASE)
	@echo "Demo written to $(DEMO_DIR)/: demo-input.wav, demo-output.wav, demo.png"

# Copies the plug-in where Linux VST hosts look for it.
VST_DIR ?= $(HOME)/.vst
install-plugin: build
	install -d $(VST_DIR)
	install -m 644 $(BUILD_DIR)/tapestop.so $(VST_DIR)/tapestop.so
	@echo "Installed $(VST_DIR)/tapestop.so"

clean:
	rm -rf $(BUILD_DIR)

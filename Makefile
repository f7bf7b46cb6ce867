# Everything starts here; every target installs what it needs first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps build test bench demo install install-plugin docs clean

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
	$(BUILD_DIR)/bench/tapemotor_bench
	bench/render_throughput.sh $(BUILD_DIR)
	PYTHONPATH=$(BUILD_DIR)/python /usr/bin/python3 bench/python_overhead.py $(BUILD_DIR)
	PYTHONPATH=$(BUILD_DIR)/python /usr/bin/python3 bench/python_cycles.py $(BUILD_DIR)/tapestop.so
	bench/batch_speedup.sh $(BUILD_DIR)

# A demo signal, rendered with a tape stop at DEMO_STOP and a release at
# DEMO_RELEASE (default Speed and Mix), and a picture of both files.
DEMO_DIR ?= demo-output
DEMO_STOP ?= 2.0
DEMO_RELEASE ?= 4.5
# The same signal through TapeMotor, synced at the renderer's 120 BPM: the
# motor goes off at MOTOR_OFF (a stop of MOTOR_STOP, 1 bar: 2 s) and on at
# MOTOR_ON (a start of MOTOR_START, a half note: 1 s), then crossfades back to
# the input.
MOTOR_OFF ?= 1.5
MOTOR_ON ?= 4.0
MOTOR_STOP ?= 1 bar
MOTOR_START ?= 1/2
MOTOR_TITLE ?= Tarvo TapeMotor demo: Sync on at 120 BPM, stop $(MOTOR_STOP), start $(MOTOR_START)
demo: build
	mkdir -p $(DEMO_DIR)
	$(BUILD_DIR)/tapestop demo $(DEMO_DIR)/demo-input.wav
	$(BUILD_DIR)/tapestop render $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-output.wav \
		--stop $(DEMO_STOP)s --release $(DEMO_RELEASE)s
	/usr/bin/python3 tools/demo/plot_demo.py $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-output.wav \
		$(DEMO_DIR)/demo.png $(DEMO_STOP) $(DEMO_RELEASE)
	$(BUILD_DIR)/tapestop render $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-tapemotor.wav \
		--plugin $(BUILD_DIR)/tapemotor.so --set Sync=On --set "Stop=$(MOTOR_STOP)" --set "Start=$(MOTOR_START)" \
		--at $(MOTOR_OFF)s Trigger=1 --at $(MOTOR_ON)s Trigger=0
	/usr/bin/python3 tools/demo/plot_demo.py --title "$(MOTOR_TITLE)" $(DEMO_DIR)/demo-input.wav \
		$(DEMO_DIR)/demo-tapemotor.wav $(DEMO_DIR)/demo-tapemotor.png $(MOTOR_OFF) $(MOTOR_ON)
	@echo "Demo written to $(DEMO_DIR)/: demo-input.wav, demo-output.wav, demo.png, demo-tapemotor.wav, demo-tapemotor.png"

# Installs the kit and the plug-in below PREFIX (DESTDIR is put in front, for
# staging): bin/tapestop, lib/vst/tapestop.so and tapemotor.so, the headers in include/tarvo,
# the frame and host libraries, lib/cmake/TarvoFrame and lib/pkgconfig.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# Copies the plug-in into a folder of the user's own, by default ~/.vst.
VST_DIR ?= $(HOME)/.vst
install-plugin: build
	install -d $(VST_DIR)
	install -m 644 $(BUILD_DIR)/tapestop.so $(VST_DIR)/tapestop.so
	install -m 644 $(BUILD_DIR)/tapemotor.so $(VST_DIR)/tapemotor.so
	@echo "Installed $(VST_DIR)/tapestop.so and $(VST_DIR)/tapemotor.so"
	@if [ "$(VST_DIR)" = "$(HOME)/.vst" ]; then \
		echo "Audacity, Carla, Qtractor and Renoise scan ~/.vst: rescan plug-ins there."; \
		echo "Ardour does not: add ~/.vst in Preferences > Plugins > Linux VST2 path,"; \
	else \
		echo "Add $(VST_DIR) to your host's Linux VST path and rescan; in Ardour:"; \
		echo "Preferences > Plugins > Linux VST2 path,"; \
	fi
	@echo "or run 'sudo make install', which puts the plug-ins in $(PREFIX)/lib/vst, where Ardour looks by default."

# The API reference of the frame, in $(BUILD_DIR)/docs/html. Any Doxygen
# warning fails it, and so does an operation whose doc line does not say how
# it is reached and on which thread.
docs:
	@scripts/install-deps.sh doxygen
	scripts/check-operation-docs.sh frame/AudioEffect.h frame/AudioEffectX.h frame/AEffEditor.h
	mkdir -p $(BUILD_DIR)/docs
	TARVO_DOCS_DIR=$(BUILD_DIR)/docs doxygen docs/Doxyfile
	@echo "API reference written to $(BUILD_DIR)/docs/html/index.html"

clean:
	rm -rf $(BUILD_DIR)

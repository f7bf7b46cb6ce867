# Everything starts here; every target installs what it needs first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps build test bench demo install install-plugin uninstall uninstall-plugin package docs clean

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
# The same signal through TapeMotor at the renderer's 120 BPM with Quantize
# on quarter notes: the motor is switched off late, at MOTOR_SPIN_OFF, and
# the tape spins back from the next beat (Stop 1 s); switched on at
# MOTOR_SPIN_ON, it starts on the beat after. Then Brake goes back to Tape
# with Tone at 100 %, and a stop asked for at MOTOR_DARK_OFF darkens as it
# slows from the next beat, until MOTOR_DARK_ON.
MOTOR_SPIN_OFF ?= 0.8
MOTOR_SPIN_ON ?= 2.3
MOTOR_DARK_OFF ?= 3.3
MOTOR_DARK_ON ?= 4.8
MOTOR_TITLE ?= Tarvo TapeMotor demo: Quantize 1/4 at 120 BPM, a spinback, then a dark stop (Tone 100 %)
demo: build
	mkdir -p $(DEMO_DIR)
	$(BUILD_DIR)/tapestop demo $(DEMO_DIR)/demo-input.wav
	$(BUILD_DIR)/tapestop render $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-output.wav \
		--stop $(DEMO_STOP)s --release $(DEMO_RELEASE)s
	/usr/bin/python3 tools/demo/plot_demo.py $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-output.wav \
		$(DEMO_DIR)/demo.png $(DEMO_STOP) $(DEMO_RELEASE)
	$(BUILD_DIR)/tapestop render $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-tapemotor.wav \
		--plugin $(BUILD_DIR)/tapemotor.so --set Quantize=1/4 --set Brake=Spinback --set "Stop=1 s" \
		--set "Start=250 ms" --at $(MOTOR_SPIN_OFF)s Trigger=1 --at $(MOTOR_SPIN_ON)s Trigger=0 \
		--at 2.9s Brake=Tape --at 2.9s Tone=1 --at $(MOTOR_DARK_OFF)s Trigger=1 --at $(MOTOR_DARK_ON)s Trigger=0
	/usr/bin/python3 tools/demo/plot_demo.py --title "$(MOTOR_TITLE)" --beats 120 --top-hz 8000 \
		--mark "$(MOTOR_SPIN_OFF)=off asked" --mark "$(MOTOR_SPIN_ON)=on asked" \
		--mark "$(MOTOR_DARK_OFF)=off asked" --mark "$(MOTOR_DARK_ON)=on asked" $(DEMO_DIR)/demo-input.wav $(DEMO_DIR)/demo-tapemotor.wav \
		$(DEMO_DIR)/demo-tapemotor.png
	@echo "Demo written to $(DEMO_DIR)/: demo-input.wav, demo-output.wav, demo.png, demo-tapemotor.wav, demo-tapemotor.png"

# Installs the kit and the plug-ins below PREFIX (DESTDIR is put in front, for
# staging): bin/tapestop, lib/vst/tapestop.so and tapemotor.so, the LV2
# bundles lib/lv2/tapestop.lv2 and tapemotor.lv2, the headers in include/tarvo,
# the frame and host libraries, lib/cmake/TarvoFrame and lib/pkgconfig.
# What the build already made is installed as it is; only what is missing is
# built (so `sudo make install` after `make build` builds nothing as root).
# `make uninstall` removes it again, with the folders the install created.
# The manifests of both installs are kept in MANIFEST_DIR.
PREFIX ?= /usr/local
MANIFEST_DIR ?= $(BUILD_DIR)
install:
	JOBS=$(JOBS) BUILD_TYPE=$(BUILD_TYPE) DESTDIR="$(DESTDIR)" scripts/install.sh kit $(BUILD_DIR) "$(PREFIX)" "$(MANIFEST_DIR)"

uninstall:
	scripts/uninstall.sh $(MANIFEST_DIR)/installed_files.txt $(MANIFEST_DIR)/installed_folders.txt

# Copies the plug-ins into folders of the user's own, building them first
# only if they are missing: the VST 2.4 libraries into ~/.vst, the LV2
# bundles into ~/.lv2 (where every LV2 host looks); `make uninstall-plugin`
# removes them again.
VST_DIR ?= $(HOME)/.vst
LV2_DIR ?= $(HOME)/.lv2
install-plugin:
	@JOBS=$(JOBS) BUILD_TYPE=$(BUILD_TYPE) scripts/install.sh plugin $(BUILD_DIR) "$(VST_DIR)" "$(MANIFEST_DIR)" "$(LV2_DIR)"
	@if [ "$(VST_DIR)" = "$(HOME)/.vst" ]; then \
		echo "Audacity, Carla, Qtractor and Renoise scan ~/.vst: rescan plug-ins there."; \
		echo "Ardour does not: add ~/.vst in Preferences > Plugins > Linux VST2 path,"; \
	else \
		echo "Add $(VST_DIR) to your host's Linux VST path and rescan; in Ardour:"; \
		echo "Preferences > Plugins > Linux VST2 path,"; \
	fi
	@echo "or run 'sudo make install', which puts the plug-ins in $(PREFIX)/lib/vst, where Ardour looks by default."

uninstall-plugin:
	scripts/uninstall.sh $(MANIFEST_DIR)/installed_plugin_files.txt $(MANIFEST_DIR)/installed_plugin_folders.txt

# The Debian package $(BUILD_DIR)/tarvo_<version>_amd64.deb of everything
# `make install` installs, below /usr; `apt install ./tarvo_<version>_amd64.deb`
# installs it, `apt remove tarvo` removes it.
package: build
	cd $(BUILD_DIR) && cpack -G DEB
	@echo "Built $$(ls $(BUILD_DIR)/tarvo_*_amd64.deb)"

# The API reference of the frame, in $(BUILD_DIR)/docs/html. Any Doxygen
# warning fails it, and so does an operation whose doc line does not say how
# it is reached and on which thread.
docs:
	@scripts/install-deps.sh doxygen
	scripts/check-operation-docs.sh frame/AudioEffect.h frame/AudioEffectX.h frame/AEffEditor.h frame/editor/X11Editor.h
	mkdir -p $(BUILD_DIR)/docs
	TARVO_DOCS_DIR=$(BUILD_DIR)/docs doxygen docs/Doxyfile
	@echo "API reference written to $(BUILD_DIR)/docs/html/index.html"

clean:
	rm -rf $(BUILD_DIR)

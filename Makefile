# ZEMBLOID: `make` builds build/zembloid.scr and build/linux/zembloid,
# `make test` runs every test, `make run` starts the saver under Wine,
# `make bench` measures it against a minimal program that draws the same
# frames, `make install-linux` installs the X11 display mode for XScreenSaver.
# BUILD names the build folder.
BUILD ?= build
NATIVE := $(BUILD)/native
WIN32 := $(BUILD)/win32
JOBS ?= $(shell nproc)
CTEST_ARGS ?=

.PHONY: all build native deps test run bench install-linux clean

# Where XScreenSaver looks for display modes and their settings on Debian.
PREFIX ?= /usr
DESTDIR ?=
HACKDIR ?= $(PREFIX)/libexec/xscreensaver
CONFIGDIR ?= $(PREFIX)/share/xscreensaver/config

all: build

deps:
	@scripts/install-deps.sh

native: deps
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release \
	  -DZEMBLOID_OUT_DIR=$(abspath $(BUILD)) -DZEMBLOID_WIN32_DIR=$(abspath $(WIN32))
	cmake --build $(NATIVE) -j $(JOBS)

build: native
	cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-i686.cmake) \
	  -DZEMBLOID_OUT_DIR=$(abspath $(BUILD)) -DZEMBLOID_FRAME_DIR=$(abspath $(NATIVE))/frames
	cmake --build $(WIN32) -j $(JOBS)

test: build
	cd $(NATIVE) && ctest --output-on-failure $(CTEST_ARGS)

run: build
	ZEMBLOID_BUILD=$(abspath $(BUILD)) ZEMBLOID_WIN32_DIR=$(abspath $(WIN32)) /usr/bin/python3 scripts/run-saver.py

bench: build
	ZEMBLOID_BUILD=$(abspath $(BUILD)) ZEMBLOID_WIN32_DIR=$(abspath $(WIN32)) /usr/bin/python3 tests/bench/bench.py

install-linux: native
	install -D -m 755 $(BUILD)/linux/zembloid $(DESTDIR)$(HACKDIR)/zembloid
	install -D -m 644 x11/zembloid.xml $(DESTDIR)$(CONFIGDIR)/zembloid.xml

clean:
	rm -rf $(BUILD)

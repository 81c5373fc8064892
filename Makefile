# ZEMBLOID: `make` builds build/zembloid.scr (the product), its x86-64 twin
# build/x64/zembloid.scr, the Linux program build/linux/zembloid and the
# browser page build/web/zembloid.html;
# `make test` runs every test, `make run` starts the saver under Wine,
# `make bench` measures it against a minimal program that draws the same
# frames and then measures build/linux/zembloid on X11 and Wayland (`make
# bench-linux` only the latter) and the browser page in headless Chromium
# (`make bench-web`), `make web` builds only the browser page
# build/web/zembloid.html, `make install-linux` installs the Linux
# program (for XScreenSaver, on PATH for idle tools, its manual page, and its
# idle watcher as a disabled systemd user unit and a desktop entry).
# BUILD names the build folder.
#
# WINE_ARCH=win32 or win64 picks the build that runs under Wine; by default the
# tests run both, win32 through user-mode emulation where the host runs no
# 32-bit programs, and `make run` and `make bench` start win32 where the host
# runs it natively, else win64. HOST_RUNS_I386=no stands in for the host's
# answer (see scripts/wine-archs.sh).
BUILD ?= build
NATIVE := $(BUILD)/native
JOBS ?= $(shell nproc)
CTEST_ARGS ?=
WINE_ARCH ?=
HOST_RUNS_I386 ?=
export WINE_ARCH HOST_RUNS_I386

# The cross trees: win32 for i686, win64 for x86-64.
CROSS_TOOLCHAIN_win32 := cmake/mingw-i686.cmake
CROSS_TOOLCHAIN_win64 := cmake/mingw-x86_64.cmake
CROSS_OUT_win32 := $(BUILD)
CROSS_OUT_win64 := $(BUILD)/x64
RUN_ENV = ZEMBLOID_BUILD=$(abspath $(BUILD)) ZEMBLOID_ARCH=$$arch \
  ZEMBLOID_EMULATED=$$(scripts/wine-archs.sh emulated | grep -qw $$arch && echo 1)

.PHONY: all build native web deps test run bench bench-linux bench-web install-linux clean

# Where XScreenSaver looks for display modes and their settings on Debian.
PREFIX ?= /usr
DESTDIR ?=
HACKDIR ?= $(PREFIX)/libexec/xscreensaver
CONFIGDIR ?= $(PREFIX)/share/xscreensaver/config
BINDIR ?= $(PREFIX)/bin
MANDIR ?= $(PREFIX)/share/man
USERUNITDIR ?= $(PREFIX)/lib/systemd/user
APPLICATIONSDIR ?= $(PREFIX)/share/applications

all: build

deps:
	@ZEMBLOID_BUILD=$(abspath $(BUILD)) scripts/install-deps.sh

native: deps
	$(configure_native)
	cmake --build $(NATIVE) -j $(JOBS)

# The browser page build/web/zembloid.html alone (the native tree builds it too).
web: deps
	$(configure_native)
	cmake --build $(NATIVE) -j $(JOBS) --target web_page

define configure_native
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release -DZEMBLOID_OUT_DIR=$(abspath $(BUILD)) \
	  -DZEMBLOID_WINE_ARCHS="$$(scripts/wine-archs.sh test | tr ' ' ';')" \
	  -DZEMBLOID_WINE_EMULATED="$$(scripts/wine-archs.sh emulated)"
endef

build: native
	$(call cross_build,win32)
	$(call cross_build,win64)

define cross_build
	cmake -S . -B $(BUILD)/$(1) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath $(CROSS_TOOLCHAIN_$(1))) \
	  -DZEMBLOID_OUT_DIR=$(abspath $(CROSS_OUT_$(1))) -DZEMBLOID_FRAME_DIR=$(abspath $(NATIVE))/frames
	cmake --build $(BUILD)/$(1) -j $(JOBS)
endef

test: build
	@echo "Wine tests run: $$(for arch in $$(scripts/wine-archs.sh test); do \
	  $(RUN_ENV) /usr/bin/python3 tests/support/winesession.py describe; \
	done | paste -sd ';' | sed 's/;/; /g')."
	cd $(NATIVE) && ctest --output-on-failure $(CTEST_ARGS)

run: build
	@arch=$$(scripts/wine-archs.sh run) && $(RUN_ENV) /usr/bin/python3 scripts/run-saver.py

# The Linux and browser benches run even when the Windows one is over its
# bars; the exit code is the first failure's.
LINUX_BENCH = ZEMBLOID_BUILD=$(abspath $(BUILD)) /usr/bin/python3 tests/bench/bench.py linux
WEB_BENCH = ZEMBLOID_BUILD=$(abspath $(BUILD)) /usr/bin/python3 tests/bench/bench.py web

bench: build
	@arch=$$(scripts/wine-archs.sh run) && $(RUN_ENV) /usr/bin/python3 tests/bench/bench.py; \
	  status=$$?; $(LINUX_BENCH); next=$$?; [ $$status -ne 0 ] || status=$$next; \
	  $(WEB_BENCH); next=$$?; [ $$status -ne 0 ] || status=$$next; exit $$status

bench-linux: native
	@$(LINUX_BENCH)

bench-web: web
	@$(WEB_BENCH)

install-linux: native
	install -D -m 755 $(BUILD)/linux/zembloid $(DESTDIR)$(HACKDIR)/zembloid
	install -D -m 644 x11/zembloid.xml $(DESTDIR)$(CONFIGDIR)/zembloid.xml
	install -D -m 644 linux/zembloid.6 $(DESTDIR)$(MANDIR)/man6/zembloid.6
	install -d $(DESTDIR)$(BINDIR)
	ln -sf $(HACKDIR)/zembloid $(DESTDIR)$(BINDIR)/zembloid
	sed 's|@BINDIR@|$(BINDIR)|' linux/zembloid-idle.service > $(BUILD)/zembloid-idle.service
	install -D -m 644 $(BUILD)/zembloid-idle.service $(DESTDIR)$(USERUNITDIR)/zembloid-idle.service
	install -D -m 644 linux/zembloid-idle.desktop $(DESTDIR)$(APPLICATIONSDIR)/zembloid-idle.desktop

clean:
	rm -rf $(BUILD)

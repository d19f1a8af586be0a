# The two commands a newcomer needs are `make run` and `make test`; both install
# missing Debian packages first.

WERROR ?= OFF
FUZZ_SECONDS ?= 60
TEST_FUZZ_SECONDS ?= 20
JOBS ?= $(shell nproc)

PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps build build-asan run test test-dev test-asan test-fuzz bench fuzz soak format clean \
	build-installed install uninstall package

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	@cmake --preset dev -DZX_WERROR=$(WERROR) >/dev/null
	@cmake --build --preset dev -j $(JOBS)

build-asan: deps
	@cmake --preset asan -DZX_WERROR=$(WERROR) >/dev/null
	@cmake --build --preset asan -j $(JOBS)

# Starts the desktop program. Where there is no display to show it on, it says
# so and writes the built-in flag's animation with the CLI instead.
run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
		build/zephyrix; \
	else \
		echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): writing the built-in flag with the CLI instead."; \
		build/zephyrix-cli export -o build/zephyrix-demo.gif --quiet && \
		echo "The built-in flag's animation is build/zephyrix-demo.gif."; \
	fi

test-dev: build
	@ctest --preset dev

test-asan: build-asan
	@ctest --preset asan

# A short libFuzzer run of every target over its seeds. It allows 3 s for one
# input, not `make fuzz`'s 1 s, so that a busy machine cannot fail the build
# with a false hang.
test-fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@FUZZ_SECONDS=$(TEST_FUZZ_SECONDS) FUZZ_TIMEOUT=3 fuzz/run-fuzz.sh build-fuzz

test: test-dev test-asan test-fuzz

# The random user of the desktop program (tests/ui/tst_Monkey.cpp) for SECONDS,
# in the sanitizer build: rounds of 2500 actions, each with a new seed, and a
# stall of the event loop over 2 s fails. A failure prints its seed; replay it
# with ZX_MONKEY_SEED=N build-asan/tests/tst_Monkey (under the same variables).
SECONDS ?= 600
soak: build-asan
	@home=$$(mktemp -d) && \
	env QT_QPA_PLATFORM=offscreen HOME=$$home XDG_CONFIG_HOME=$$home/config \
		XDG_CONFIG_DIRS=$$home/system XDG_DATA_HOME=$$home/data XDG_RUNTIME_DIR=$$home/runtime \
		ZX_MONKEY_SECONDS=$(SECONDS) QTEST_FUNCTION_TIMEOUT=$$(( ($(SECONDS) + 900) * 1000 )) \
		build-asan/tests/tst_Monkey; \
	status=$$?; rm -rf "$$home"; exit $$status

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@build-release/bench/zephyrix-bench

# Short fuzz runs: every libFuzzer target for FUZZ_SECONDS each; fails on any
# crash, leak, sanitizer report or input slower than a second.
fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run-fuzz.sh build-fuzz

# The release build, only what an installation holds.
ZX_INSTALLED_TARGETS = zephyrix zephyrix-cli zephyrix-cli-qt zephyrix-data
build-installed: deps
	@cmake --preset release -DZX_WERROR=$(WERROR) >/dev/null
	@cmake --build --preset release -j $(JOBS) --target $(ZX_INSTALLED_TARGETS)

# Installs into PREFIX (default /usr/local), below DESTDIR when it is given:
# `sudo make install`, or `make install PREFIX=$$HOME/.local`. What it put in
# place is listed in build-release/installed-files.txt (cpack rewrites CMake's
# own install_manifest.txt, so uninstall does not trust that).
install: build-installed
	@DESTDIR="$(DESTDIR)" cmake --install build-release --prefix "$(PREFIX)" --strip
	@sed 's|^|$(DESTDIR)|' build-release/install_manifest.txt >build-release/installed-files.txt

# Removes the files the last `make install` put in place.
uninstall:
	@test -f build-release/installed-files.txt || \
		{ echo "uninstall: nothing was installed from this build (no build-release/installed-files.txt)"; exit 1; }
	@while IFS= read -r file || [ -n "$$file" ]; do \
		if [ -e "$$file" ] || [ -L "$$file" ]; then echo "Removing $$file"; rm -f -- "$$file"; fi; \
	done <build-release/installed-files.txt
	@rm -f build-release/installed-files.txt

# The Debian package, for the prefix /usr: build-release/zephyrix_VERSION_ARCH.deb.
package: build-installed
	@cd build-release && cpack -G DEB

format:
	@find src tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-release build-debug build-fuzz

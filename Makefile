# Every target installs what is missing (scripts/install-deps) before it configures.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps build run window screenshots test test-plain test-asan fuzz fuzz-smoke test-kernel test-unstable bench clean

all: build

deps:
	@./scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The main job: list this machine's drives.
run: build
	./$(BUILD)/bin/tuvrek-disk list

# The window, on this machine's drives.
window: build
	./$(BUILD)/bin/brevane

# The README's pictures, from fixture drives under a virtual display.
XVFB = xvfb-run -a -s "-screen 0 1280x900x24" dbus-run-session --
screenshots: build
	$(XVFB) ./$(BUILD)/bin/brevane_screenshot docs/window.png
	BREVANE_DIALOG_PNG=$(CURDIR)/docs/dialog.png $(XVFB) ./$(BUILD)/bin/mount_dialog_test \
		--gtest_filter='MountDialogTest.RendersToAPicture'

test: test-plain test-asan fuzz-smoke test-kernel test-unstable

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTUVREK_SANITIZE=ON -DTUVREK_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

$(FUZZ_BUILD)/CMakeCache.txt: | deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTUVREK_FUZZ=ON \
		-DTUVREK_BENCH=OFF

# Each fuzz target for FUZZ_SECONDS seconds, starting from its seed corpus.
fuzz: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	./tests/fuzz/run-all $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=10

# The real-kernel suite: every filesystem mounted by tuvrek-disk in a Linux guest under qemu.
test-kernel: build
	@echo "test-kernel: not built yet"

# Build and test again in a Debian unstable root: the users' current compilers and libraries.
test-unstable: deps
	@echo "test-unstable: not built yet"

bench: build
	./tests/bench/run-all $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

# Every target installs what is missing (scripts/install-deps) before it configures.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps build run window screenshots test test-plain test-asan fuzz-targets fuzz fuzz-smoke fuzz-long test-kernel test-unstable bench clean

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
screenshots: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target brevane_screenshot mount_dialog_test
	$(XVFB) ./$(BUILD)/bin/brevane_screenshot docs/window.png
	BREVANE_DIALOG_PNG=$(CURDIR)/docs/dialog.png $(XVFB) ./$(BUILD)/bin/mount_dialog_test \
		--gtest_filter='MountDialogTest.RendersToAPicture'

# The unstable run comes before the kernel suite, whose run on unstable's kernel takes its build.
test: test-plain test-asan fuzz-smoke test-unstable test-kernel

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE kernel

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTUVREK_SANITIZE=ON -DTUVREK_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# Optimised, with asserts and debug information: a fuzzer finds more per hour when each run is fast.
FUZZ_CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g" \
	-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" -DTUVREK_FUZZ=ON -DTUVREK_BENCH=OFF
FUZZ_CLANG = $(shell ./tests/fuzz/find-clang)

$(FUZZ_BUILD)/CMakeCache.txt: | deps
	@[ -n "$(FUZZ_CLANG)" ] || { echo "the fuzz targets need clang"; exit 1; }
	CC=$(FUZZ_CLANG) CXX=$(subst clang,clang++,$(FUZZ_CLANG)) cmake -S . -B $(FUZZ_BUILD) $(FUZZ_CMAKE_FLAGS)

# Configured again so that a folder made with older flags takes the current ones.
fuzz-targets: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake -S . -B $(FUZZ_BUILD) $(FUZZ_CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

# Each fuzz target for FUZZ_SECONDS seconds, starting from its seed corpus.
fuzz: fuzz-targets
	./tests/fuzz/run-all $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=10

# All targets side by side for FUZZ_SECONDS (an hour unless given), growing a corpus kept in
# FUZZ_CORPUS between campaigns; ends with each target's runs and runs per second.
FUZZ_CORPUS ?= /var/cache/tuvrek/fuzz
fuzz-long: FUZZ_SECONDS = 3600
fuzz-long: fuzz-targets
	./tests/fuzz/run-all --side-by-side --keep-going --corpus $(FUZZ_CORPUS) $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The real-kernel suite: every filesystem mounted by tuvrek-disk in a Linux guest under qemu, on this
# machine's kernel and on Debian unstable's, side by side where JOBS allows; verbose, so that each
# kernel's result table is shown (each line led by its test's number).
test-kernel: build
	cd $(BUILD) && JOBS=$(JOBS) ctest -L kernel --verbose -j $(JOBS)

# Build and test again in a Debian unstable root: the users' current compilers and libraries.
test-unstable:
	JOBS=$(JOBS) ./scripts/unstable-root test

bench: build
	./tests/bench/run-all $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

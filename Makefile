# One-line entry points. Every target installs what it needs first.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
SECONDS ?= 60

.PHONY: deps configure build run test test-asan bench bench-quick bench-gpu bench-window fuzz clean

deps:
	@scripts/install-deps

# The benchmarks are built with everything else, so a change that breaks one breaks the build
# (WITH_BENCH=OFF leaves them out).
WITH_BENCH ?= ON

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVOREN_BENCH=$(WITH_BENCH) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/app/halvoren

# ctest runs through tests/run-ctest, so that stopping make stops the tests too. A test that
# dies inside the window where the SSH tests' account has a password (a sanitizer abort skips
# destructors) leaves it set: the run locks it again when it ends, however it ends, unless
# another run still holds it (tests/lock-test-account).
test: build
	@tests/run-ctest $(BUILD) --output-on-failure -j $(JOBS)

# The whole project, Qt layers and the application included, with AddressSanitizer and UBSan,
# every test run as `make test` runs it. Leaks inside the desktop libraries we call but do not
# own are suppressed by name (tests/sanitizer/lsan.supp says why for each).
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHALVOREN_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  tests/run-ctest $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Throughput beside libvterm, scrollback memory, and time and memory of hostile streams;
# Release at -O2 in its own build folder.
BENCH_BUILD ?= build-bench
BENCH_ARGS ?=
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DHALVOREN_BENCH=ON -DHALVOREN_TESTS=OFF -DHALVOREN_QT=OFF >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target corvantix-bench
	@$(BENCH_BUILD)/bench/corvantix-bench $(BENCH_ARGS)

# Every program of bench/ once in its quick mode, in the build `make test` uses: each case
# once on small input, to show that each still runs (bench/quick).
bench-quick: build
	@BUILD=$(BUILD) bench/quick

# Painter against GPU renderer frames, on a private X server with software OpenGL.
BENCH_GPU_BUILD ?= build-bench-gpu
bench-gpu: deps
	@cmake -S . -B $(BENCH_GPU_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DHALVOREN_BENCH=ON -DHALVOREN_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_GPU_BUILD) -j $(JOBS) --target corvantix-gpu-bench
	@XVFB_SCREEN=2560x1600x24 LIBGL_ALWAYS_SOFTWARE=1 tests/with-xvfb $(BENCH_GPU_BUILD)/bench/corvantix-gpu-bench $(BENCH_ARGS)

# Six files of program output shown in the terminal window tool, beside the other terminals
# installed here, on a private X server.
bench-window: configure
	@cmake --build $(BUILD) -j $(JOBS) --target termwindow
	@BUILD=$(BUILD) bench/window

# libFuzzer for SECONDS seconds on TARGET: fuzz_terminal (the whole terminal) or fuzz_parser
# (the escape-sequence parser alone). Findings land in $(FUZZ_BUILD)/findings. An input that
# takes longer than 10 s is a finding too (a program could stall the terminal). Inputs may
# grow to the full -max_len from the start (-len_control=0): libFuzzer would otherwise raise
# its length limit slowly from the shortest seeds and, in a run of minutes, never try inputs
# as long as the longest seeds.
FUZZ_BUILD ?= build-fuzz
FUZZ_ARGS ?=
TARGET ?= fuzz_terminal
FUZZ_CORPUS = $(if $(filter fuzz_terminal,$(TARGET)),$(FUZZ_BUILD)/corpus,$(FUZZ_BUILD)/corpus-$(TARGET))
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVOREN_FUZZ=ON -DHALVOREN_TESTS=OFF -DHALVOREN_QT=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(TARGET)
	@mkdir -p $(FUZZ_CORPUS) $(FUZZ_BUILD)/findings
	@$(FUZZ_BUILD)/fuzz/$(TARGET) -max_total_time=$(SECONDS) -print_final_stats=1 -close_fd_mask=1 -max_len=16384 -len_control=0 -timeout=10 \
	  -artifact_prefix=$(FUZZ_BUILD)/findings/$(if $(filter fuzz_terminal,$(TARGET)),,$(TARGET)-) $(FUZZ_ARGS) \
	  $(FUZZ_CORPUS) fuzz/corpus

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(BENCH_GPU_BUILD) $(FUZZ_BUILD)

# The README's commands. `make run` and `make test` do all the set-up on a fresh machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20
JOBS       ?= $(shell nproc)

.PHONY: all deps configure build run test asan fuzz bench bench-all screenshots dist dist-test format format-check clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	cd $(BUILD)/bin && ./zorbrix

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORBRIX_SANITIZE=ON > /dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan-suppressions.txt:print_suppressions=0 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -LE no-asan

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORBRIX_FUZZ=ON > /dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@bash scripts/run-fuzzers.sh $(FUZZ_BUILD)/bin $(FUZZ_SECONDS)

# One table of every speed figure, ours beside its peer from interleaved repetitions (BENCH_REPS, at least 5 for
# the figures to mean something); `make bench-all` runs every bench_* program in full instead.
BENCH_REPS ?= $(or $(ZORBRIX_BENCH_REPS),5)
bench: build
	@$(BUILD)/bin/bench_summary --reps $(BENCH_REPS)

bench-all: build
	@for b in $(BUILD)/bin/bench_*; do [ -x "$$b" ] || continue; [ "$$(basename $$b)" = bench_summary ] && continue; \
	  echo "== $$(basename $$b)"; (cd $(BUILD)/bin && ./$$(basename $$b)) || exit 1; done

# The README's contact sheet (docs/screenshots.png): stills of every scene, taken by the capture tool.
screenshots: build
	@bash scripts/screenshots.sh $(BUILD)

# The release (scripts/dist.sh): dist/zorbrix-linux-x86_64.tar.gz, dist/zorbrix-windows-x64.zip, dist/zorbrix.mp4;
# then `make dist-test` checks them (Wine and Xvfb runs, ldd, ffprobe).
dist: build
	@bash scripts/dist.sh $(BUILD)

dist-test:
	@bash tests/dist/run.sh $(BUILD)

# The layout of every C++ file (.clang-format): `make format` rewrites, `make format-check` (CI) only checks.
format: deps
	@bash scripts/check-format.sh --fix

format-check: deps
	@bash scripts/check-format.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

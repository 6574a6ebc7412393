# Entry points for people and CI. See README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= 2
CMAKE_FLAGS ?=

.PHONY: all configure build test test-asan fuzz run deps deps-web package format clean

all: build

deps:
	scripts/install-deps

# The browser build and its end-to-end test need emscripten and Chromium too.
deps-web:
	scripts/install-deps --web

# Configures every time (a second when nothing changed), so that tools installed since
# (help2man for the man pages) are found.
configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Everything: dependencies, build, the suite (with the install and package tests), then
# the suite again under AddressSanitizer and UndefinedBehaviorSanitizer. Tests labelled
# long (the README's examples that take minutes: the suite itself, fuzzing, benchmarks)
# are left out: `ctest --test-dir build -L long` runs them.
test:
	scripts/install-deps --test --web
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE long
	$(MAKE) test-asan

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZAV_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -LE long

# Every fuzz target (fuzz/) for FUZZ_SECONDS seconds each, built with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer.
FUZZ_TARGETS_BUILT = fuzz_valida_reg fuzz_checa_registro fuzz_profile fuzz_json_host fuzz_diskettes \
                     fuzz_upload fuzz_deflate_join
fuzz:
	scripts/install-deps
	scripts/install-fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZAV_BUILD_FUZZ=ON -DZAV_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS_BUILT)
	FUZZ_BUILD=$(FUZZ_BUILD) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz

# Times zav check and zav validate against md5sum and zip -6 on payment files of 10 000,
# 100 000 and 1 000 000 workers (medians of BENCH_REPS runs, ratios, peak memory), then
# the micro-benchmarks; builds Release in BENCH_BUILD. Not part of make test.
BENCH_BUILD ?= build-bench
BENCH_REPS  ?= 5
.PHONY: bench
bench:
	scripts/install-deps --test
	JOBS=$(JOBS) python3 bench/run.py --build $(BENCH_BUILD) --reps $(BENCH_REPS)

# From a fresh clone: installs what the build needs, builds the command alone and
# validates the bundled example payment file with a fixed server date, on a work drive
# inside the build folder.
EXAMPLE ?= examples/P0404268.ZAV
run:
	scripts/install-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target zav
	@mkdir -p $(BUILD)/run/drive_c
	@echo
	@ZAV_DRIVES="C=fixed:$(CURDIR)/$(BUILD)/run/drive_c" \
	  $(BUILD)/bin/zav validate $(EXAMPLE) --server-date 10/05/2004 --out $(BUILD)/run
	@echo "next: $(BUILD)/bin/zav --help lists every command; docs/validating.md shows them at work"

# The Debian package, $(BUILD)/zav_<version>_amd64.deb (cmake/package.cmake).
package:
	scripts/install-deps --package
	$(MAKE) build
	cd $(BUILD) && cpack -G DEB

format:
	find src include apps tests bench fuzz -name '*.cpp' -o -name '*.hpp' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) build-wasm

# make demo            install what is missing, build, convert the sample dataset
# make test            install what is missing, build, run every test
# make test-sanitize   the tests built with AddressSanitizer and UBSan
# make test-tsan       the library's and the GDAL plugin's tests under ThreadSanitizer
# make fuzz            the libFuzzer harnesses, FUZZ_TIME seconds each (default 300)
# make fuzz-coverage   the fuzz corpora replayed in a coverage build: line coverage per file
# make install PREFIX=/usr/local   install the commands, manual pages and library
BUILD          ?= build
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD     ?= build-tsan
FUZZ_BUILD     ?= build-fuzz
COVERAGE_BUILD ?= build-coverage
FUZZ_TIME      ?= 300
JOBS           ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS    ?=
PREFIX         ?= /usr/local

.PHONY: all deps build demo test test-sanitize test-tsan fuzz fuzz-coverage clean install

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@sh scripts/demo.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DTDF_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

# The library and the plugin instrumented; GDAL itself is not, so reports
# from inside it are suppressed (tests/tsan.supp).
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DTDF_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target dataset_tests gdal_driver_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -L 'library|plugin'

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

fuzz:
	FUZZ_TIME=$(FUZZ_TIME) FUZZ_JOBS=$(JOBS) sh scripts/fuzz.sh $(FUZZ_BUILD)

fuzz-coverage:
	FUZZ_JOBS=$(JOBS) sh scripts/fuzz_coverage.sh $(COVERAGE_BUILD) $(FUZZ_BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(COVERAGE_BUILD)

# make bench           build with -O2 and print the benchmark table (bench/)
BENCH_BUILD    ?= build-bench
BENCH_REPS     ?= 7
BENCH_SIZES    ?= all
.PHONY: bench
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTDF_BUILD_BENCH=ON -DTDF_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target tdbench
	$(BENCH_BUILD)/bench/tdbench --work $(BENCH_BUILD)/bench-data --reps $(BENCH_REPS) --sizes $(BENCH_SIZES) \
	  --commit "$$(git rev-parse --short HEAD 2>/dev/null || echo unknown)$$(git diff --quiet HEAD -- 2>/dev/null || echo +uncommitted)"
	sh bench/gdal_bench.sh $(BENCH_BUILD) $(BENCH_REPS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target tidewell_python read_rows tdbench_make_dataset
	/usr/bin/python3 bench/python_read.py --build $(BENCH_BUILD) --reps $(BENCH_REPS)
	/usr/bin/python3 bench/python_threads.py --build $(BENCH_BUILD) --reps $(BENCH_REPS)
	-cmake --build $(BENCH_BUILD) -j $(JOBS) --target gdal_Tidewell >/dev/null 2>&1
	/usr/bin/python3 bench/remote_requests.py --build $(BENCH_BUILD)
	sh bench/batch_bench.sh $(BENCH_BUILD) $(BENCH_REPS)

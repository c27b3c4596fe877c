# make demo            install what is missing, build, convert the sample dataset
# make build           install what the programs need, build the programs,
#                      the library and the GDAL plugin (no tests)
# make test            install what the tests need too, build, run every test
# make test-sanitize   the tests built with AddressSanitizer and UBSan (clang)
# make test-tsan       the library's and the GDAL plugin's tests under ThreadSanitizer
# make fuzz            the libFuzzer harnesses, FUZZ_TIME seconds each (default 300)
# make fuzz-coverage   the fuzz corpora replayed in a coverage build: line coverage per file
# make install PREFIX=/usr/local   install the commands, manual pages and library
# make format          lay out the C and C++ sources as .clang-format says
# make format-check    fail when a C or C++ source is not laid out so
# GDAL=OFF             (with any of them) no GDAL plugin, and no GDAL packages
BUILD          ?= build
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD     ?= build-tsan
FUZZ_BUILD     ?= build-fuzz
COVERAGE_BUILD ?= build-coverage
FUZZ_TIME      ?= 300
JOBS           ?= $(shell nproc 2>/dev/null || echo 2)
# JOBS: files compiled at once; TEST_JOBS: tests run at once (ctest -j).
TEST_JOBS      ?= $(JOBS)
CMAKE_FLAGS    ?=
PREFIX         ?= /usr/local
GDAL           ?= ON

# The packages of a build without the plugin leave GDAL out.
DEPS_FLAGS     := $(if $(filter OFF off NO no FALSE false 0,$(GDAL)),--without-gdal)
CONFIGURE_FLAGS = -DTDF_BUILD_GDAL=$(GDAL) $(CMAKE_FLAGS)

.PHONY: all deps deps-test build demo test test-sanitize test-tsan fuzz fuzz-coverage clean install format format-check

all: build

deps:
	@sh scripts/install-deps.sh $(DEPS_FLAGS)

deps-test:
	@sh scripts/install-deps.sh --test $(DEPS_FLAGS)

# make build and make test share the build folder: each configures it for
# itself (the tests on or off), which recompiles nothing.
build: deps
	cmake -S . -B $(BUILD) -DTDF_BUILD_TESTS=OFF $(CONFIGURE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# The sample dataset is written by the project's dataset writer.
demo: build
	cmake --build $(BUILD) -j $(JOBS) --target make_sample
	@sh scripts/demo.sh $(BUILD)

test: deps-test
	cmake -S . -B $(BUILD) -DTDF_BUILD_TESTS=ON $(CONFIGURE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)

# Built with clang (as the fuzz harnesses are), which compiles the tests in
# about half of gcc's time; gcc still builds make test's.  The recipes of the
# documentation (label docs) run the commands the other tests run, and run
# in make test only.
test-sanitize: deps-test
	@sh scripts/install-deps.sh clang libclang-rt-14-dev
	cmake -S . -B $(SANITIZE_BUILD) -DTDF_SANITIZE=ON -DTDF_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CONFIGURE_FLAGS)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(TEST_JOBS) -LE docs

# The library and the plugin instrumented; GDAL itself is not, so reports
# from inside it are suppressed (tests/tsan.supp).
test-tsan: deps-test
	cmake -S . -B $(TSAN_BUILD) -DTDF_TSAN=ON -DTDF_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CONFIGURE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target dataset_tests gdal_driver_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(TEST_JOBS) -L 'library|plugin'

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

fuzz:
	GDAL=$(GDAL) FUZZ_TIME=$(FUZZ_TIME) FUZZ_JOBS=$(JOBS) sh scripts/fuzz.sh $(FUZZ_BUILD)

# The C and C++ sources git knows, laid out by clang-format.
FORMAT_SOURCES = $(shell git ls-files '*.c' '*.cpp' '*.h')
format:
	@sh scripts/install-deps.sh clang-format
	clang-format -i $(FORMAT_SOURCES)

format-check:
	@sh scripts/install-deps.sh clang-format
	clang-format --dry-run -Werror $(FORMAT_SOURCES)

fuzz-coverage:
	FUZZ_JOBS=$(JOBS) sh scripts/fuzz_coverage.sh $(COVERAGE_BUILD) $(FUZZ_BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(COVERAGE_BUILD)

# make bench           build with -O2, print the benchmark tables (bench/) and
#                      write them into BENCH_PAGE (docs/performance.md; empty: no page)
BENCH_BUILD    ?= build-bench
BENCH_REPS     ?= 7
BENCH_SIZES    ?= all
BENCH_PAGE     ?= docs/performance.md
BENCH_COMMIT    = $$(git rev-parse --short HEAD 2>/dev/null || echo unknown)$$(git diff --quiet HEAD -- 2>/dev/null || echo +uncommitted)
# Each command's table is kept in $(BENCH_BUILD)/bench-NAME.txt and shown.
bench_run = $(2) > $(BENCH_BUILD)/bench-$(1).txt && cat $(BENCH_BUILD)/bench-$(1).txt
.PHONY: bench
bench: deps-test
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTDF_BUILD_BENCH=ON -DTDF_BUILD_TESTS=OFF $(CONFIGURE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target tdbench
	cut -d' ' -f1-3 /proc/loadavg > $(BENCH_BUILD)/bench-load.txt
	$(call bench_run,tdbench,$(BENCH_BUILD)/bench/tdbench --work $(BENCH_BUILD)/bench-data --reps $(BENCH_REPS) \
	  --sizes $(BENCH_SIZES) --commit "$(BENCH_COMMIT)")
	$(call bench_run,gdal,sh bench/gdal_bench.sh $(BENCH_BUILD) $(BENCH_REPS))
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target tidewell_python read_rows tdbench_make_dataset
	$(call bench_run,python_read,/usr/bin/python3 bench/python_read.py --build $(BENCH_BUILD) --reps $(BENCH_REPS))
	$(call bench_run,python_threads,/usr/bin/python3 bench/python_threads.py --build $(BENCH_BUILD) --reps $(BENCH_REPS))
	-cmake --build $(BENCH_BUILD) -j $(JOBS) --target gdal_Tidewell >/dev/null 2>&1
	$(call bench_run,remote_requests,/usr/bin/python3 bench/remote_requests.py --build $(BENCH_BUILD))
	$(call bench_run,batch_bench,sh bench/batch_bench.sh $(BENCH_BUILD) $(BENCH_REPS))
	$(if $(BENCH_PAGE),/usr/bin/python3 scripts/bench_page.py $(BENCH_PAGE) --commit "$(BENCH_COMMIT)" \
	  --load "$$(cat $(BENCH_BUILD)/bench-load.txt)" \
	  $(foreach n,tdbench gdal python_read python_threads remote_requests batch_bench,$(n)=$(BENCH_BUILD)/bench-$(n).txt))

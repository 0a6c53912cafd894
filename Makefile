# The README's commands. Each does its own set-up on a fresh Debian machine (packages when run as root).
#   make test   build with AddressSanitizer + UndefinedBehaviorSanitizer and run the whole suite (the
#               benchmarks are compiled too, so they cannot rot, but not run); then the dial path's tests
#               again under ThreadSanitizer, in build/tsan (scripts/run-tsan.sh)
#   make run    build with release flags and start the project's main job
#   make run-ui the same gateway with its terminal forms (start-up form, then the monitor window)
#   make bench  build the benchmarks in that same release build and run them, so the figures are those of
#               the program users run
#   make soak   the same release build: 1,000 clients doing every kind of request for 5 minutes against the
#               gateway program over SQLite (and PostgreSQL when TEST_PG_CONNINFO names a server); checks that
#               its memory and descriptors return to idle. SOAK_SECONDS sets the length, SOAK_CLIENTS the count
#   make fuzz   build the fuzz targets with clang in build/fuzz and run each for FUZZ_SECONDS
#               (scripts/run-fuzz.sh); make test replays their seeds and kept crash inputs in the ASan build

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
TEST_BUILD := build/asan
RUN_BUILD := build/release
FUZZ_SECONDS ?= 600

.PHONY: all deps test run run-ui bench soak fuzz clean

all: deps
	cmake -S . -B $(RUN_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(RUN_BUILD) -j $(JOBS)

deps:
	@scripts/install-deps.sh

test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DWITH_SANITIZERS=ON -DBUILD_TESTING=ON -DWITH_BENCH=ON \
	  -DWARNINGS_AS_ERRORS=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  scripts/with-postgres.sh ctest --test-dir $(TEST_BUILD) --output-on-failure -j $(JOBS) --timeout 300
	JOBS=$(JOBS) scripts/run-tsan.sh

run: all
	@scripts/run.sh $(RUN_BUILD)

run-ui: all
	@scripts/run.sh --ui $(RUN_BUILD)

bench: deps
	cmake -S . -B $(RUN_BUILD) -DCMAKE_BUILD_TYPE=Release -DWITH_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build $(RUN_BUILD) -j $(JOBS)
	@scripts/run-benchmarks.sh $(RUN_BUILD)

SOAK_CLIENTS ?= 1000
soak: deps
	cmake -S . -B $(RUN_BUILD) -DCMAKE_BUILD_TYPE=Release -DWITH_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build $(RUN_BUILD) -j $(JOBS) --target soak
	$(RUN_BUILD)/bin/soak $(SOAK_CLIENTS)

fuzz: deps
	JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/run-fuzz.sh long

clean:
	rm -rf build

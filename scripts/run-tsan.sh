#!/bin/sh
# run-tsan.sh: builds the dial path's test program (the dial service stand-in and the dialer, whose
# notifications cross threads) with ThreadSanitizer in build/tsan and runs it. Only that program and
# the libraries it links are built there. Called by `make test`; run it from the repository root.
set -eu
JOBS=${JOBS:-2}
BUILD=${TSAN_BUILD:-build/tsan}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DWITH_TSAN=ON -DBUILD_TESTING=ON -DWARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target dial_tsan_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" "$BUILD/bin/dial_tsan_tests"

#!/bin/sh
# Installs what is missing, builds and runs every test.
#   scripts/test.sh               native build in build/
#   scripts/test.sh --sanitize    AddressSanitizer and UndefinedBehaviorSanitizer
#                                 build in build-sanitize/; any report fails
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build_dir=build
extra=""
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-sanitize
    extra="-DKORVELLO_SANITIZE=ON"
    # A report ends the test with a failure; leaks count as reports, except
    # the offscreen platform's own, which are only recognised in full stacks.
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1:fast_unwind_on_malloc=0"
    export LSAN_OPTIONS="suppressions=$(pwd)/tests/support/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
# shellcheck disable=SC2086
scripts/build.sh "$build_dir" $extra
cd "$build_dir"
ctest --output-on-failure --parallel 2

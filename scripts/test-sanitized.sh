#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitize/ and
# runs the core's and the window's suites and a smoke set of the program there: a memory error,
# a leak or undefined behaviour in any of them, or in a program one starts, fails the run. Leaks
# inside the offscreen platform and the system bus library are theirs, not ours, and are
# suppressed (tests/sanitizers/lsan.supp).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
# Optimised a little, as the sanitizers' own guide advises, with line tables for their reports:
# unoptimised, the checked runs take several times as long and find nothing more.
scripts/configure.sh build-sanitize -DBUILD_TESTING=ON -DPELMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"
cmake --build build-sanitize -j"$(nproc)"
cd build-sanitize
# Allocations are traced by ASan's own fast unwinder, which follows the frame pointers our code
# keeps (PELMORA_SANITIZE's flags); the slow one made each allocation cost seven times as much
# and found nothing more. A stack it cuts short inside a system library can only fail to match a
# suppression, never hide a leak.
export ASAN_OPTIONS=detect_leaks=1:exitcode=23
export LSAN_OPTIONS="suppressions=$PWD/../tests/sanitizers/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The core's and the window's suites, and a smoke set of the program's paths (tests/cli): the
# release suite runs every end-to-end case, which here would check the same code again. The
# cluster test runs the release build under a scheduler and has nothing to add here.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" -L 'core|ui|smoke'

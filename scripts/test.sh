#!/usr/bin/env bash
# The test command: installs what is missing, builds with the sanitizers, and runs every test
# against a private X server and a private sound server, which it stops again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/test"

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
    -DDOVRIN_SANITIZE=ON -DDOVRIN_WERROR=ON -DDOVRIN_TESTS=ON -DDOVRIN_BENCHMARKS=ON
jobs=${DOVRIN_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake --build "$build" -j "$jobs"

source "$root/scripts/headless.sh"
trap headless_stop EXIT
headless_start

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORMTHEME=
export XDG_CONFIG_HOME="$HEADLESS_DIR/config" XDG_DATA_HOME="$HEADLESS_DIR/data" XDG_CACHE_HOME="$HEADLESS_DIR/cache"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs" "$@"

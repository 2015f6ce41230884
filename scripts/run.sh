#!/usr/bin/env bash
# The run command: installs what is missing, builds Quorvel and starts it on this desktop.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/release"

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOVRIN_TESTS=OFF
cmake --build "$build"

exec "$build/Sources/Dovrin/quorvel" "$@"

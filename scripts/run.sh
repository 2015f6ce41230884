#!/usr/bin/env bash
# The run command: installs what is missing, builds Quorvel, installs it under ~/.local and starts
# the installed copy, so the application menu, launch at login and the tray all see one program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/release"
prefix="$HOME/.local"

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOVRIN_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build "$build"
cmake --install "$build" --prefix "$prefix" >/dev/null
if command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$prefix/share/applications" || true
fi

exec "$prefix/bin/quorvel" "$@"

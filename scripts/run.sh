#!/usr/bin/env bash
# Builds Tessaro and runs the console against a simulated press: the simulated
# console on a pseudo-terminal as COM1, a demo folder (storage, exchange folders,
# logs, a sample preset) in build-run/demo, and the page in a browser app window,
# or its address printed where no display exists. Ctrl-C stops everything.
# Extra arguments go to the program (--no-browser, --port N, --movement-ms N).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build-run" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTSR_BUILD_TESTS=OFF -DTSR_BUILD_BENCH=OFF -DTSR_BUILD_SOAK=OFF >/dev/null
cmake --build "$here/build-run" -j "$(nproc)" --target tessaro_host tessaro-press-sim >&2
exec "$here/build-run/bin/tessaro" --simulate --demo "$here/build-run/demo" "$@"

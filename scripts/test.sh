#!/usr/bin/env bash
# Installs what is missing, builds Tessaro and runs every test:
#   1. the normal build: unit, integration (pseudo-terminal + simulated console),
#      plain-C interface, fuzz-corpus replay and browser tests;
#   2. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. the suite again under ThreadSanitizer;
#   4. the library alone in Release, so the optimiser's warnings are seen;
#   the Debian package of the normal build is unpacked into a temporary root
#   and its programs started from there (after step 1).
# Our own builds treat warnings as errors (TSR_WERROR); a build by anyone else does not.
# A finding of a sanitizer fails the test that made it, and so this script.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${TSR_JOBS:-$(nproc)}

"$here/scripts/install-deps.sh"

run_suite() { # build-folder, ctest arguments...
  local dir=$1; shift
  local start=$SECONDS
  cmake --build "$dir" -j "$jobs"
  local built=$SECONDS
  ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$jobs" "$@"
  echo "== $(basename "$dir"): build $((built - start)) s, tests $((SECONDS - built)) s"
}

echo "== normal build"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTSR_WERROR=ON
run_suite "$here/build"
"$here/scripts/package-check.sh" "$here/build"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTSR_SANITIZE=address -DTSR_BUILD_BENCH=OFF -DTSR_BUILD_SOAK=OFF -DTSR_WERROR=ON
run_suite "$here/build-asan" -LE browser

export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
echo "== ThreadSanitizer"
# The programs whose tests run threads against each other: press operations from
# several threads, the exchange watcher, the host's user-interface thread,
# workers and page server, and the job memory under the press lock.
cmake -S "$here" -B "$here/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTSR_SANITIZE=thread -DTSR_BUILD_BENCH=OFF -DTSR_BUILD_SOAK=OFF -DTSR_WERROR=ON
tsan_start=$SECONDS
cmake --build "$here/build-tsan" -j "$jobs" --target presslink_concurrency_test exchange_test exchange_safety_test session_test session_load_test \
      c_interface_test exports_test memory_job_test memory_exports_test host_app_test host_bridge_test \
      host_parts_test host_operations_test
tsan_built=$SECONDS
ctest --test-dir "$here/build-tsan" --output-on-failure --timeout 600 -j "$jobs" \
      -L 'concurrency|exchange|session|memory|host' -LE 'browser|fuzz'
echo "== build-tsan: build $((tsan_built - tsan_start)) s, tests $((SECONDS - tsan_built)) s"

echo "== Release library"
release_start=$SECONDS
cmake -S "$here" -B "$here/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTSR_WERROR=ON -DTSR_BUILD_TESTS=OFF \
      -DTSR_BUILD_BENCH=OFF -DTSR_BUILD_HOST=OFF -DTSR_BUILD_SOAK=OFF
cmake --build "$here/build-release" -j "$jobs" --target tessaro
echo "== build-release: build $((SECONDS - release_start)) s"

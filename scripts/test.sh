#!/usr/bin/env bash
# Installs what is missing, builds Tessaro and runs every test:
#   1. the normal build: unit, integration (pseudo-terminal + simulated console),
#      plain-C interface, fuzz-corpus replay and browser tests;
#   2. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. the suite again under ThreadSanitizer;
#   4. the library alone in Release, so the optimiser's warnings are seen;
#   the Debian package of the normal build is unpacked into a temporary root
#   and its programs started from there (after step 1).
#   5. Windows: both DLLs, tessaro.exe and the installer cross-built with
#      mingw-w64 and NSIS, the suites that run there under Wine (also the press
#      link over a COM port that Wine maps to the simulated console's
#      pseudo-terminal), the export tables of both DLLs, tessaro.exe under Wine
#      serving its page to Linux Chromium, a silent install and uninstall.
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

echo "== Windows (mingw-w64, tests under Wine)"
windows_start=$SECONDS
export WINEPREFIX="$here/build-windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
mkdir -p "$WINEPREFIX"
# The Linux simulated console on a pseudo-terminal that Wine maps to COM5.
sim_folder=$(mktemp -d)
"$here/build/bin/tessaro-press-sim" --movement-ms 20 --quiet --link-folder "$sim_folder" >"$sim_folder/out" 2>&1 &
sim_pid=$!
stop_windows_stage() {
  kill "$sim_pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$sim_folder"
}
trap stop_windows_stage EXIT
for _ in $(seq 50); do grep -q ' on /dev/' "$sim_folder/out" 2>/dev/null && break; sleep 0.1; done
pty=$(grep -oE ' on /dev/[^ ]+' "$sim_folder/out" | head -1 | sed 's/^ on //')
[ -n "$pty" ] || { echo "the simulated console did not start"; cat "$sim_folder/out"; exit 1; }
"$wine64" reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$pty" /f >/dev/null
wineserver -k || true
wineserver -w
# One Wine for the whole stage: without it every test program waits for Wine's services.
wineserver -p >/dev/null 2>&1 # its object dump when it ends is no part of the test log
"$wine64" cmd /c exit
[ -e "$WINEPREFIX/dosdevices/com5" ] || ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"
TSR_WERROR=ON TSR_WINDOWS_TESTS=ON TSR_WINDOWS_CMAKE_ARGS="-DTSR_WINE_COM_PORT=5" \
  "$here/scripts/build-windows.sh" "$here/build-windows/out"
windows_built=$SECONDS
ctest --test-dir "$here/build-windows/win64" --output-on-failure --timeout 600 -j "$jobs" -L windows
TSR_WINE64="$wine64" "$here/tests/windows/installer_test.sh" "$here/build-windows/out"/Tessaro-*-setup.exe \
  "$here/build-windows/out/win64"
echo "== build-windows: build $((windows_built - windows_start)) s, tests $((SECONDS - windows_built)) s"

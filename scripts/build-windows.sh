#!/usr/bin/env bash
# Cross-builds Tessaro for Windows with Debian's mingw-w64 and puts into OUT:
#   OUT/win64/  libtessaro.dll (x86-64), its import library, tessaro.h, the host
#               tessaro.exe with htmlapp\ and samples\ beside it, tessaro-press-sim.exe,
#               tessaro-service.exe
#   OUT/win32/  libtessaro.dll (32-bit x86, standard calling convention), its
#               import library, tessaro.h
#   OUT/Tessaro-<version>-setup.exe  the installer (NSIS), of win64 with win32's
#               DLL in its sdk folder
# Release builds. TSR_WERROR=ON makes warnings errors (the test script's own
# builds); TSR_WINDOWS_TESTS=ON also builds the suites that run under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: build-windows.sh OUT}
mkdir -p "$out"
out=$(cd "$out" && pwd)
jobs=${TSR_JOBS:-$(nproc)}
build=${TSR_WINDOWS_BUILD:-$here/build-windows}
werror=${TSR_WERROR:-OFF}
tests=${TSR_WINDOWS_TESTS:-OFF}

configure() { # folder, toolchain, extra arguments...
  local dir=$1 toolchain=$2; shift 2
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DTSR_WERROR="$werror" -DTSR_BUILD_BENCH=OFF -DTSR_BUILD_SOAK=OFF \
        "$@" >/dev/null
}

echo "== Windows 32-bit x86"
configure "$build/win32" mingw-i686.cmake -DTSR_BUILD_TESTS=OFF -DTSR_BUILD_HOST=OFF
cmake --build "$build/win32" -j "$jobs" --target tessaro

echo "== Windows x86-64"
# TSR_WINDOWS_CMAKE_ARGS: more settings of the test build (the COM port Wine maps).
# shellcheck disable=SC2086
configure "$build/win64" mingw-x86_64.cmake -DTSR_BUILD_TESTS="$tests" -DTSR_BUILD_HOST=ON -DTSR_WIN32_BUILD="$build/win32" \
          ${TSR_WINDOWS_CMAKE_ARGS:-}
cmake --build "$build/win64" -j "$jobs"

for arch in win64 win32; do
  rm -rf "${out:?}/$arch"
  mkdir -p "$out/$arch"
  cp "$build/$arch/bin/libtessaro.dll" "$build/$arch/library/libtessaro.dll.a" "$here/library/include/tessaro.h" \
     "$out/$arch/"
done
# The host with what it finds beside it (a build links htmlapp and samples; the
# page's development files stay behind).
cp "$build/win64/bin/tessaro.exe" "$build/win64/bin/tessaro-press-sim.exe" "$build/win64/bin/tessaro-service.exe" \
   "$out/win64/"
cp -r "$here/htmlapp" "$out/win64/htmlapp"
rm -rf "$out/win64/htmlapp/dev" "$out/win64/htmlapp/README.md"
cp -r "$here/sim/samples" "$out/win64/samples"

echo "== Windows installer"
version=$(sed -n 's/^project(Tessaro VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
rm -f "$out"/Tessaro-*-setup.exe
makensis -V2 -DVERSION="$version" -DWIN64_DIR="$out/win64" -DWIN32_DIR="$out/win32" \
         -DOUTFILE="$out/Tessaro-$version-setup.exe" "$here/installer/windows/tessaro.nsi"
echo "== Windows build in $out"

#!/usr/bin/env bash
# Installs what building and testing Tessaro needs on Debian 12 (run as root, or with sudo present).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev googletest libbenchmark-dev
          libcpp-httplib-dev nlohmann-json3-dev clang libclang-rt-14-dev chromium util-linux ccache locales # libcpp-httplib-dev: the tests' HTTP client
          dpkg-dev file curl # dpkg-dev, file: the Debian package's dependencies (CPack); curl: its check
          xvfb openbox xdotool x11-utils # a desktop of the window tests' own: display, window manager, its view
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine nsis) # the Windows build, tests under Wine
# Node.js may come from elsewhere than Debian (its own npm then conflicts with Debian's npm package):
# install Debian's only when the commands are missing.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The exchange tests read and write numbers under a locale with a decimal comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
# Browser tests drive Debian's chromium with playwright-core; no browser is downloaded.
if [ -f "$here/tests/e2e/package.json" ]; then
  (cd "$here/tests/e2e" && if [ -f package-lock.json ]; then npm ci --no-audit --no-fund; else npm install --no-audit --no-fund; fi)
fi

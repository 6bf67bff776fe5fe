#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary
# root (as a press PC without build tools would have it, minus the system's
# libraries) and starts its programs from there.
set -euo pipefail
build=${1:?usage: package-check.sh BUILD-FOLDER}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
root=$(mktemp -d)
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/tessaro_*.deb | head -n 1)
dpkg-deb -x "$deb" "$root"
dpkg-deb -f "$deb" Depends | grep -q libstdc++6 || { echo "package: no runtime dependencies in $deb"; exit 1; }
# The host serves its page itself: no HTTP library at run time.
! dpkg-deb -f "$deb" Depends | grep -q httplib || { echo "package: depends on an HTTP library"; exit 1; }
for file in usr/bin/tessaro usr/bin/tessaro-service usr/bin/tessaro-press-sim usr/lib/libtessaro.so \
            usr/share/tessaro/htmlapp/index.html usr/share/applications/tessaro.desktop; do
  [ -e "$root/$file" ] || { echo "package: $file missing"; exit 1; }
done

# The programs run from the unpacked root, finding their library as ../lib.
[ "$("$root/usr/bin/tessaro" --version)" = "tessaro $version" ] || { echo "package: tessaro --version"; exit 1; }
[ "$("$root/usr/bin/tessaro-service" --version)" = "tessaro-service $version" ] ||
  { echo "package: tessaro-service --version"; exit 1; }

# The console against its simulated press, serving the page from share/tessaro/htmlapp.
export XDG_CONFIG_HOME="$root/config"
"$root/usr/bin/tessaro" --simulate --no-browser --movement-ms 20 --demo "$root/demo" >"$root/host.out" 2>&1 &
host_pid=$!
address=
for _ in $(seq 1 200); do
  address=$(grep -m1 -o 'http://127\.0\.0\.1:[0-9]*/[^ ]*' "$root/host.out" || true)
  [ -n "$address" ] && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$address" ] || { echo "package: tessaro --simulate printed no address"; cat "$root/host.out"; exit 1; }
if command -v curl >/dev/null; then
  # The address trades its single-use token for the session cookie and goes on to the page.
  page=$(curl -sfL -c "$root/cookies" "$address" || true)
  grep -qi '<html' <<<"$page" || { echo "package: the page did not come from $address"; exit 1; }
fi
echo "== package $(basename "$deb"): unpacked programs start ($address)"

#!/usr/bin/env bash
# The installer under Wine: a silent install into a folder of the test's own
# (/S /D=), every file in place, the entries in the Start menu and in
# Add/Remove Programs, the installed tessaro.exe saying its version and serving
# its page on a simulated press (a second start answered by the first), then a
# silent uninstall that removes what it installed and leaves a file it did not
# install.
#   installer_test.sh Tessaro-<version>-setup.exe BUILT-WIN64-FOLDER
# WINEPREFIX and a running wineserver come from the caller (scripts/test.sh).
set -euo pipefail
setup=${1:?usage: installer_test.sh SETUP.exe WIN64-FOLDER}
built=${2:?usage: installer_test.sh SETUP.exe WIN64-FOLDER}
wine64=${TSR_WINE64:-wine64}
version=$(basename "$setup" | sed -n 's/^Tessaro-\(.*\)-setup\.exe$/\1/p')
[ -n "$version" ] || { echo "FAIL: $setup is not named Tessaro-<version>-setup.exe"; exit 1; }

work=$(mktemp -d)
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# No blank in the folder: /D= takes no quotes, and Wine quotes an argument
# that holds a blank when it makes the command line.
target="$work/Apps/Tessaro"
mkdir -p "$target"
echo "the operator's own notes" >"$target/notes.txt" # not ours: the uninstaller leaves it
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaro'
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"

echo "-- silent install into $(windows_path "$target")"
"$wine64" "$setup" /S "/D=$(windows_path "$target")"
for file in tessaro.exe libtessaro.dll tessaro-press-sim.exe tessaro-service.exe uninstall.exe htmlapp/index.html htmlapp/app.js \
            htmlapp/locales/en.json samples/job.xml sdk/tessaro.h sdk/x86/libtessaro.dll sdk/x86/libtessaro.dll.a \
            sdk/x64/libtessaro.dll.a; do
  [ -f "$target/$file" ] || fail "$file was not installed"
done
cmp -s "$target/tessaro.exe" "$built/tessaro.exe" || fail "the installed tessaro.exe is not the one built"
cmp -s "$target/sdk/x86/libtessaro.dll" "$built/../win32/libtessaro.dll" || fail "sdk/x86 holds another DLL than the 32-bit one"
[ ! -e "$target/htmlapp/dev" ] || fail "the page's development files were installed"
# A window program: no console window opens with it.
headers=$(x86_64-w64-mingw32-objdump -p "$target/tessaro.exe")
grep -q '^Subsystem.*(Windows GUI)' <<<"$headers" || fail "tessaro.exe is not a window program"
[ -f "$menu/Tessaro.lnk" ] && [ -f "$menu/Tessaro (simulated press).lnk" ] || fail "Start-menu entries missing in $menu"
# A shortcut keeps its arguments in UTF-16.
tr -d '\0' <"$menu/Tessaro (simulated press).lnk" | grep -aq -- "--simulate" ||
  fail "the simulated-press entry does not pass --simulate"
"$wine64" reg query "$key" /v UninstallString 2>/dev/null | grep -qi 'uninstall.exe' || fail "no uninstaller in Add/Remove Programs"

echo "-- the installed tessaro.exe"
said=$("$wine64" "$target/tessaro.exe" --version | tr -d '\r')
[ "$said" = "tessaro $version" ] || fail "tessaro.exe --version said '$said'"
# On a simulated press in a demo folder of the test's: the first line is the
# page's address, and the page served from the installed htmlapp follows it.
mkdir -p "$work/demo"
"$wine64" "$target/tessaro.exe" --simulate --no-browser --demo "$(windows_path "$work/demo")" \
  >"$work/host.out" 2>"$work/host.err" &
host_pid=$!
for _ in $(seq 300); do grep -q '^http://127\.0\.0\.1:' "$work/host.out" 2>/dev/null && break; sleep 0.1; done
address=$(head -1 "$work/host.out" | tr -d '\r')
[[ $address == http://127.0.0.1:*/index.html ]] || { cat "$work/host.err"; fail "no page address: '$address'"; }
page=$(curl -sS -L --max-time 20 -c "$work/cookies" -b "$work/cookies" "$address")
grep -q '<script' <<<"$page" || fail "the installed host did not serve its page"
# A second start finds the instance (named mutex, answer on the user's pipe)
# and gets an address of its page instead of starting a second console.
second=$("$wine64" "$target/tessaro.exe" --no-browser | tr -d '\r')
[[ $second == "Tessaro Control is already running: http://127.0.0.1:"*/index.html ]] ||
  fail "a second start said '$second'"
kill "$host_pid"
wait "$host_pid" 2>/dev/null || true
host_pid=

echo "-- the installed service tool"
said=$("$wine64" "$target/tessaro-service.exe" --version | tr -d '\r')
[ "$said" = "tessaro-service $version" ] || fail "tessaro-service.exe --version said '$said'"
# What the installed sample preset would send, without a press: the port in
# the configuration has nothing behind it.
mkdir -p "$work/check"
cp "$target/samples/job.xml" "$target/samples/job_DC.xml" "$work/check/"
printf '[GENERAL]\r\nUnitNumber=6\r\nKeysNumber=32\r\nPerfector=4\r\nCOM1=9\r\nPathLogs=%s\r\n' \
  "$(windows_path "$work/check/log")" >"$work/check/Tessaro.ini"
dry=$("$wine64" "$target/tessaro-service.exe" --config "$(windows_path "$work/check/Tessaro.ini")" \
      preset --dry-run "$(windows_path "$work/check/job.xml")" | tr -d '\r') || fail "the dry run failed: $dry"
grep -q '^unit 2 (front 2): Cyan: keys 65 66 73 ' <<<"$dry" || fail "the dry run did not show unit 2's keys: $dry"
grep -q '^5 of 6 units would be sent$' <<<"$dry" || fail "the dry run's summary is missing: $dry"
[ -f "$work/check/job.xml" ] || fail "the dry run removed the preset"

echo "-- silent uninstall"
"$wine64" "$target/uninstall.exe" /S
# The uninstaller runs from a copy of itself in the temporary folder: wait for it.
for _ in $(seq 300); do [ -e "$target/uninstall.exe" ] || break; sleep 0.1; done
left=$(cd "$target" && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$left" = "./notes.txt " ] || fail "after the uninstall the folder holds: $left"
[ ! -e "$menu/Tessaro.lnk" ] && [ ! -e "$menu/Tessaro (simulated press).lnk" ] || fail "Start-menu entries left behind"
if "$wine64" reg query "$key" >/dev/null 2>&1; then fail "the Add/Remove Programs entry is left behind"; fi
echo "installer: install, start and uninstall passed"

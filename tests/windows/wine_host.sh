#!/usr/bin/env bash
# The Windows host under Wine, as the browser tests start a host: Linux paths
# among the arguments are given as Wine's Z: drive sees them.
set -euo pipefail
exe=${TSR_WINDOWS_HOST:?TSR_WINDOWS_HOST must name tessaro.exe}
args=()
for arg in "$@"; do
  [[ $arg == /* ]] && arg="Z:${arg//\//\\}"
  args+=("$arg")
done
exec "${TSR_WINE64:-wine64}" "$exe" "${args[@]}"

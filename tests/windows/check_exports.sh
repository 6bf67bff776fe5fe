#!/usr/bin/env bash
# The export tables of the Windows DLLs against the header:
#   check_exports.sh HEADER DLL64 [DLL32 IMPLIB32]
# Both DLLs export exactly the functions that HEADER and the headers beside it
# (tessaro*.h: the TSR_ and the service TSRX_ exports) declare, under their
# plain names. The 64-bit one is PE32+ for x86-64. The 32-bit one is PE32 for
# x86 with the standard calling convention: its import library names each
# function with the bytes of its arguments (TSR_Init@16, what a 32-bit caller
# asks for), and each function removes them itself (ret $16).
set -euo pipefail
header=$1 dll64=$2 dll32=${3:-} implib32=${4:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

declared=$(cat "$(dirname "$header")"/tessaro*.h | tr '\n' ' ' | grep -oE 'TSR_CALL +TSRX?_[A-Za-z0-9_]+ *\(' |
           sed -E 's/TSR_CALL +//; s/ *\(//' | sort)
[ "$(echo "$declared" | wc -l)" -gt 0 ] || fail "no declarations found in $header"

exported() { # objdump, dll
  "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed 1d | grep -oE '\] [^ ]+$' | sed 's/^\] //' | sort
}

check_dll() { # objdump, dll, format, magic
  local objdump=$1 dll=$2 format=$3 magic=$4 headers
  headers=$("$objdump" -p "$dll")
  grep -q "file format $format" <<<"$headers" || fail "$dll is not $format"
  grep -qE "^Magic[[:space:]]+$magic" <<<"$headers" || fail "$dll has not the optional header $magic"
  local names
  names=$(exported "$objdump" "$dll")
  if [ "$names" != "$declared" ]; then
    fail "$dll exports differ from the header:"
    diff <(echo "$declared") <(echo "$names") || true
  fi
  if echo "$names" | grep -q '@'; then fail "$dll exports decorated names"; fi
}

check_dll x86_64-w64-mingw32-objdump "$dll64" pei-x86-64 "020b"

if [ -n "$dll32" ]; then
  check_dll i686-w64-mingw32-objdump "$dll32" pei-i386 "010b"
  symbols=$(i686-w64-mingw32-nm "$implib32" | grep -oE ' T _TSRX?_[A-Za-z0-9_]+@[0-9]+$' | sed 's/ T _//' | sort)
  plain=$(echo "$symbols" | sed 's/@.*//')
  [ "$plain" = "$declared" ] || fail "$implib32 does not name every export with its argument bytes"
  for symbol in $symbols; do
    bytes=${symbol##*@}
    ret=$(i686-w64-mingw32-objdump -d --no-show-raw-insn "$dll32" --disassemble="_$symbol" | grep -m1 -oE 'ret[[:space:]]*(\$0x[0-9a-f]+)?$' || true)
    if [ "$bytes" -eq 0 ]; then
      expected="ret"
    else
      expected=$(printf 'ret    $0x%x' "$bytes")
    fi
    [ "$(echo "$ret" | tr -s ' \t' ' ')" = "$(echo "$expected" | tr -s ' \t' ' ')" ] ||
      fail "$symbol ends with '$ret', not '$expected'"
  done
fi

[ "$failures" -eq 0 ] && echo "exports: $(echo "$declared" | wc -l) functions as declared" || exit 1

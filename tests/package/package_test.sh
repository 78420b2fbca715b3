#!/usr/bin/env bash
# The Windows package as a user gets it: made by scripts/package from the
# built programs, unpacked, and both programs run from the unpacked folder
# under Wine (the window opens; the command line scans a file).
# Usage: package_test.sh PROGRAM_DIR SAMPLE_MP3
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
from="$1"
sample="$2"
fail() { echo "package_test: $*" >&2; exit 1; }

work="$(mktemp -d)"
program=""
cleanup() {
  if [ -n "$program" ]; then kill "$program" 2>/dev/null || true; wait "$program" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$ROOT/scripts/package" --from "$from" --out "$work/dist" >/dev/null
version="$(sed -nE 's/^project\(Snipwise VERSION ([0-9.]+).*/\1/p' "$ROOT/CMakeLists.txt")"
zip="$work/dist/snipwise-$version-win64.zip"
[ -f "$zip" ] || fail "no $zip"

unzip -q "$zip" -d "$work/unpacked"
listed="$(cd "$work/unpacked" && ls | sort | tr '\n' ' ')"
[ "$listed" = "LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt snipwise-cli.exe snipwise.exe " ] ||
  fail "unexpected contents: $listed"
for text in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  [ -s "$work/unpacked/$text" ] || fail "$text is empty"
  bare="$(grep -c -v $'\r$' "$work/unpacked/$text" || true)"
  [ "$bare" = 0 ] || fail "$text has $bare lines without CR LF"
done
grep -q "MIT License" "$work/unpacked/LICENSE.txt" || fail "LICENSE.txt is not the MIT licence"
for notice in CLI11 MinGW-w64 "GCC RUNTIME LIBRARY EXCEPTION"; do
  grep -qi "$notice" "$work/unpacked/THIRD-PARTY-NOTICES.txt" || fail "no $notice notice"
done

# The command line, run from the unpacked folder.
cp "$sample" "$work/unpacked/sample.mp3"
scan="$(cd "$work/unpacked" && "$ROOT/scripts/wine-run" ./snipwise-cli.exe scan sample.mp3 2>&1)" ||
  fail "snipwise-cli.exe scan failed: $scan"
grep -q "^Bit Rate: [0-9]* kbps" <<<"$scan" || fail "unexpected scan output: $scan"

# The window program: its main window appears, and closing it ends it.
(cd "$work/unpacked" && exec "$ROOT/scripts/wine-run" ./snipwise.exe) &
program=$!
window=""
for _ in $(seq 1 300); do
  window="$(xdotool search --name '^MP3 Snipwise v1\.5$' 2>/dev/null | head -1 || true)"
  [ -n "$window" ] && break
  kill -0 "$program" 2>/dev/null || fail "snipwise.exe ended without a window"
  sleep 0.1
done
[ -n "$window" ] || fail "the main window did not appear"
# Closed as the close box does: taskkill without /f sends the window WM_CLOSE.
"$ROOT/scripts/wine-run" taskkill /im snipwise.exe >/dev/null 2>&1 || true
for _ in $(seq 1 100); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$program" 2>/dev/null; then fail "snipwise.exe did not end when its window closed"; fi
wait "$program" || fail "snipwise.exe ended with status $?"
program=""
echo "package_test: $(basename "$zip") unpacked and run"

#!/usr/bin/env bash
# The two decoders on the same recordings: the native command line
# (libmpg123) and the Windows one under Wine (the system's ACM codec) must
# find the same silences, each cut within one frame (1152 samples, 0.026 s)
# of the other's; and a Windows without the codec (Wine's l3codeca.acm left
# out) gets the message that says so, and no cuts. Run from the Windows
# build's tests; skipped (77) when the native program has not been built.
# Usage: decoders_test.sh NATIVE_SNIPWISE WINDOWS_SNIPWISE_CLI CORPUS_DIR
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
native="$1"
windows="$2"
corpus="$3"
[ -x "$native" ] || { echo "decoders_test: no native program at '$native'; skipped"; exit 77; }

status=0
for name in pauses-cbr.mp3 pauses-vbr.mp3; do
  for min in 1 0.3; do
    mine="$("$native" silences "$corpus/$name" --min "$min")"
    theirs="$("$ROOT/scripts/wine-run" "$windows" silences "Z:$corpus/$name" --min "$min" | tr -d '\r')"
    echo "$name --min $min: native [$(tr '\n' ' ' <<<"$mine")], Windows [$(tr '\n' ' ' <<<"$theirs")]"
    # Both lists as seconds, side by side; every pair within a frame and the
    # same number of cuts (at least one).
    if ! paste <(echo "$mine") <(echo "$theirs") | awk -F'\t' '
        function secs(t,  p) { split(t, p, /[:.]/); return p[1] * 60 + p[2] + p[3] / 100 }
        $1 == "" || $2 == "" { bad = 1 }
        { d = secs($1) - secs($2); if (d < 0) d = -d; if (d > 0.035) bad = 1; n++ }
        END { exit (bad || n == 0) }'; then
      echo "decoders_test: the cuts differ by more than a frame" >&2
      status=1
    fi
  done
done

set +e
out="$(WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};l3codeca.acm=" "$ROOT/scripts/wine-run" "$windows" \
  silences "Z:$corpus/pauses-cbr.mp3" 2>&1)"
code=$?
set -e
if [ "$code" != 1 ] || [ "$(tr -d '\r' <<<"$out")" != \
  "The MP3 decoder of this system could not be loaded, so no silences can be found." ]; then
  echo "decoders_test: without the codec: status $code, output: $out" >&2
  status=1
fi
exit $status

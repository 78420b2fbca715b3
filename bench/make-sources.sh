#!/usr/bin/env bash
# Makes the benchmark's inputs in OUT_DIR:
#   piece.mp3   a few minutes of lame output (320 kbit/s CBR, whole frames only)
#   source.mp3  piece.mp3's frames repeated up to at least SIZE_MB megabytes
#               (10^6 bytes), then an ID3v1 tag
#   tagged.mp3  a 10 MiB ID3v2 tag (one picture frame) in front of piece.mp3
#   vbr-piece.mp3, vbr-source.mp3
#               the same, encoded at a variable bit rate (lame -V 0, no Xing
#               frame), repeated up to at least SIZE_MB megabytes, ID3v1 tag
#   silence-piece.mp3
#               ten minutes of five "songs" (tones, noise, square waves, with
#               fades) each followed by a pause of hiss at about -75 dBFS, lame
#               128 kbit/s CBR, audio frames only
#   silence-source.mp3
#               silence-piece.mp3's frames 12 times: two hours, 60 pauses
#   hostile.mp3 200 MB of the bytes FF FB 92 repeated: a false frame header
#               every third byte, none of them confirmed by a follower
#   zeros.mp3   200 MB of zero bytes
# Usage: make-sources.sh OUT_DIR SIZE_MB
set -euo pipefail
out="$1"
size_mb="$2"
mkdir -p "$out"

seconds=180
if [ ! -s "$out/piece.mp3" ] || [ ! -s "$out/vbr-piece.mp3" ]; then
  # 16-bit stereo PCM: a chord whose pitch moves, with a little noise, so
  # that the frames differ from one another.
  python3 - "$seconds" "$out/piece.raw" <<'PY'
import math, random, struct, sys
secs, path = int(sys.argv[1]), sys.argv[2]
rate = 44100
rnd = random.Random(7)
with open(path, "wb") as f:
    for second in range(secs):
        buf = bytearray()
        for i in range(second * rate, (second + 1) * rate):
            t = i / rate
            f0 = 220 + 110 * math.sin(2 * math.pi * 0.05 * t)
            v = 0.3 * math.sin(2 * math.pi * f0 * t) + 0.2 * math.sin(2 * math.pi * 1.5 * f0 * t)
            left = int((v + 0.02 * (rnd.random() - 0.5)) * 32767)
            buf += struct.pack("<hh", left, -left)
        f.write(buf)
PY
  # -t: no Info frame, so the file holds audio frames only and repeats cleanly.
  if ! lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -b 320 --cbr -t \
    "$out/piece.raw" "$out/piece.mp3" 2>"$out/lame.err"; then
    cat "$out/lame.err" >&2
    exit 1
  fi
  # The same signal at a variable bit rate; its frames repeat cleanly too.
  if ! lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -V 0 -t \
    "$out/piece.raw" "$out/vbr-piece.mp3" 2>"$out/lame.err"; then
    cat "$out/lame.err" >&2
    exit 1
  fi
  rm -f "$out/lame.err"
  rm -f "$out/piece.raw"
fi

want=$((size_mb * 1000000))
repeat() { # piece source
  local piece_bytes copies i
  piece_bytes=$(stat -c %s "$out/$1")
  if [ ! -s "$out/$2" ] || [ "$(stat -c %s "$out/$2")" -lt "$want" ]; then
    copies=$(((want + piece_bytes - 1) / piece_bytes))
    : >"$out/source.tmp"
    for ((i = 0; i < copies; i++)); do cat "$out/$1" >>"$out/source.tmp"; done
    # ID3v1: "TAG", title, artist, album (30 bytes each), year (4), comment
    # (30), genre (1).
    python3 -c 'import sys
f = lambda s, n: s.encode().ljust(n, b"\0")
sys.stdout.buffer.write(b"TAG" + f("Benchmark source", 30) + f("Snipwise", 30) + f("Bench", 30)
                        + f("2024", 4) + f("", 30) + bytes([255]))' >>"$out/source.tmp"
    mv "$out/source.tmp" "$out/$2"
  fi
}
repeat piece.mp3 source.mp3
repeat vbr-piece.mp3 vbr-source.mp3

if [ ! -s "$out/silence-piece.mp3" ]; then
  songs=("sine 200-800 sine 300-500 vol 0.4 fade 1 117 3" "pinknoise vol 0.3 tremolo 3 60 fade 0.5 117 4"
         "square 110 square 165 vol 0.2 fade 0 117 2" "brownnoise vol 0.5 fade 2 117 2"
         "triangle 330-660 sine 440 vol 0.4 fade 0.2 117 5")
  parts=()
  for i in "${!songs[@]}"; do
    # shellcheck disable=SC2086  # the effect is several words
    sox -R -n -r 44100 -c 2 "$out/song$i.wav" synth 117 ${songs[$i]}
    parts+=("$out/song$i.wav" "$out/pause.wav")
  done
  sox -R -n -r 44100 -c 2 "$out/pause.wav" synth 3 whitenoise vol 0.0003
  sox "${parts[@]}" "$out/silence-piece.wav"
  lame --quiet -b 128 --cbr -t "$out/silence-piece.wav" "$out/silence-piece.mp3"
  rm -f "$out"/song*.wav "$out/pause.wav" "$out/silence-piece.wav"
fi
if [ ! -s "$out/silence-source.mp3" ]; then
  for ((i = 0; i < 12; i++)); do cat "$out/silence-piece.mp3"; done >"$out/silence-source.tmp"
  mv "$out/silence-source.tmp" "$out/silence-source.mp3"
fi

if [ ! -s "$out/hostile.mp3" ]; then
  python3 -c 'import sys
block = b"\xff\xfb\x92" * (1 << 20)
with open(sys.argv[1], "wb") as f:
    for _ in range(200 * 1000000 // len(block) + 1): f.write(block)' "$out/hostile.mp3"
fi
[ -s "$out/zeros.mp3" ] || head -c 200000000 /dev/zero >"$out/zeros.mp3"

if [ ! -s "$out/tagged.mp3" ]; then
  python3 - "$out/piece.mp3" "$out/tagged.mp3" <<'PY'
import random, sys
piece, path = sys.argv[1], sys.argv[2]
total = 10 * 1024 * 1024  # the whole tag, its 10-byte header included

def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])

body_size = total - 10
frame_size = body_size - 10
head = b"\x00image/jpeg\x00\x03\x00\xff\xd8\xff\xe0"
picture = head + random.Random(11).randbytes(frame_size - len(head))
with open(path, "wb") as f:
    f.write(b"ID3\x04\x00\x00" + syncsafe(body_size))
    f.write(b"APIC" + syncsafe(frame_size) + b"\x00\x00" + picture)
    with open(piece, "rb") as p:
        f.write(p.read())
PY
fi

#!/usr/bin/env bash
# batch-benchmark.sh [CLI]  — a batch of ten songs mastered and exported as M4A by korvanta-cli,
# against the same songs through FFmpeg's two-pass loudnorm plus AAC encoding, in the same run.
#
# Prints the total seconds of each, seconds per minute of audio, and the ratio FFmpeg / korvanta
# (target: at least 10), in wall-clock time and in processor time (user + system of all the
# processes; the steadier figure on a busy machine).
#
# Songs: the demo songs of the folder in KORVANTA_DEMO_DIR (see scripts/make-demo-songs), in name
# order and over again up to ten; without it, ten synthetic 45-second songs made with ffmpeg.
# CLI defaults to the korvanta-cli of the build this script sits in: the build copies it to
# BUILD_DIR/bench/korvanta-bench-batch, so scripts/run-benchmarks runs it with the others.
# Needs ffmpeg and ffprobe. Exit status: 0 when both batches ran, 1 otherwise.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
CLI=${1:-$here/../src/cli/korvanta-cli}
if [ ! -x "$CLI" ]; then
  echo "batch-benchmark: no korvanta-cli at $CLI (build the korvanta-cli target)" >&2
  exit 1
fi
for tool in ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || { echo "batch-benchmark: $tool is needed" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-bench-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/songs" "$work/korvanta" "$work/ffmpeg" "$work/tmp"

# --- The ten songs -------------------------------------------------------------------------------
songs=()
if [ -n "${KORVANTA_DEMO_DIR:-}" ]; then
  demo=()
  while IFS= read -r -d '' f; do demo+=("$f"); done < <(
    find "$KORVANTA_DEMO_DIR" -maxdepth 1 -type f \
      \( -iname '*.mp3' -o -iname '*.wav' -o -iname '*.aiff' -o -iname '*.aif' -o -iname '*.m4a' \
         -o -iname '*.flac' -o -iname '*.ogg' -o -iname '*.aac' \) -print0 | sort -z)
  if [ ${#demo[@]} -eq 0 ]; then
    echo "batch-benchmark: no songs in $KORVANTA_DEMO_DIR" >&2
    exit 1
  fi
  for i in $(seq 0 9); do
    src=${demo[$((i % ${#demo[@]}))]}
    dst="$work/songs/$(printf '%02d' $((i + 1))) $(basename "$src")"
    ln -s "$src" "$dst"
    songs+=("$dst")
  done
  echo "Songs: ${#demo[@]} demo songs of $KORVANTA_DEMO_DIR, repeated up to 10"
else
  for i in $(seq 1 10); do
    dst="$work/songs/$(printf '%02d' "$i") synthetic.wav"
    # A pulsing chord over pink noise with a kick-like low thump, different in every song.
    ffmpeg -nostdin -v error -y \
      -f lavfi -i "sine=frequency=$((100 + 7 * i)):duration=45" \
      -f lavfi -i "sine=frequency=$((220 + 11 * i)):duration=45" \
      -f lavfi -i "anoisesrc=duration=45:color=pink:amplitude=0.3:seed=$i" \
      -filter_complex "[0]tremolo=f=2.1:d=0.9,volume=0.8[k];[1]volume=0.3[c];[2]tremolo=f=4.2:d=0.7[n];[k][c][n]amix=inputs=3,aformat=channel_layouts=stereo" \
      -ar 44100 -c:a pcm_s16le "$dst"
    songs+=("$dst")
  done
  echo "Songs: 10 synthetic 45-second songs (set KORVANTA_DEMO_DIR for real music)"
fi

minutes=0
for s in "${songs[@]}"; do
  d=$(ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 "$s")
  minutes=$(awk -v m="$minutes" -v d="$d" 'BEGIN { printf "%.4f", m + d / 60 }')
done
cat "${songs[@]}" >/dev/null  # both batches start from the page cache
printf 'Audio: %.2f minutes in %d songs\n\n' "$minutes" "${#songs[@]}"

TIMEFORMAT='%R %U %S'

# --- korvanta-cli --------------------------------------------------------------------------------
echo "korvanta-cli master --preset Club --format m4a ..."
{ time TMPDIR="$work/tmp" "$CLI" master --preset Club --format m4a --json --out "$work/korvanta" \
    "${songs[@]}" >"$work/korvanta.log" 2>&1; } 2>"$work/korvanta.time" || {
  echo "batch-benchmark: korvanta-cli failed:" >&2
  cat "$work/korvanta.log" >&2
  exit 1
}
made=$(find "$work/korvanta" -name '*(MASTER).m4a' | wc -l)
if [ "$made" -ne ${#songs[@]} ]; then
  echo "batch-benchmark: korvanta-cli wrote $made of ${#songs[@]} files" >&2
  cat "$work/korvanta.log" >&2
  exit 1
fi
passes=$(grep -o '"passes":[0-9]*' "$work/korvanta.log" | cut -d: -f2 | tr '\n' ' ')
echo "  passes per song: $passes"

# --- FFmpeg: loudnorm in two passes, then AAC 256 kb/s --------------------------------------------
field() { grep -o "\"$1\" : \"[^\"]*\"" "$2" | tail -1 | sed 's/.*: "\(.*\)"/\1/'; }
ffmpegBatch() {
  local i=0 s rate
  for s in "${songs[@]}"; do
    i=$((i + 1))
    ffmpeg -nostdin -hide_banner -nostats -i "$s" -map 0:a:0 \
      -af loudnorm=I=-10:TP=-0.2:print_format=json -f null - 2>"$work/measure.txt"
    rate=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate \
      -of default=noprint_wrappers=1:nokey=1 "$s")
    ffmpeg -nostdin -v error -y -i "$s" -map 0:a:0 -af "loudnorm=I=-10:TP=-0.2:measured_I=$(field input_i "$work/measure.txt"):measured_TP=$(field input_tp "$work/measure.txt"):measured_LRA=$(field input_lra "$work/measure.txt"):measured_thresh=$(field input_thresh "$work/measure.txt"):offset=$(field target_offset "$work/measure.txt"):linear=true" \
      -ar "$rate" -c:a aac -b:a 256k "$work/ffmpeg/$i.m4a" 2>>"$work/ffmpeg.err"
  done
}
echo "ffmpeg loudnorm (two passes) + aac 256k ..."
{ time ffmpegBatch; } 2>"$work/ffmpeg.time" || { echo "batch-benchmark: ffmpeg failed" >&2; exit 1; }

# --- Report --------------------------------------------------------------------------------------
read -r kWall kUser kSys < <(tail -n 1 "$work/korvanta.time")
read -r fWall fUser fSys < <(tail -n 1 "$work/ffmpeg.time")
awk -v m="$minutes" -v kw="$kWall" -v kc="$(awk -v u="$kUser" -v s="$kSys" 'BEGIN{print u+s}')" \
    -v fw="$fWall" -v fc="$(awk -v u="$fUser" -v s="$fSys" 'BEGIN{print u+s}')" 'BEGIN {
  printf "\n%-34s %9s %9s %13s %13s\n", "", "wall s", "cpu s", "wall s/min", "cpu s/min"
  printf "%-34s %9.2f %9.2f %13.3f %13.3f\n", "korvanta-cli master -> M4A", kw, kc, kw / m, kc / m
  printf "%-34s %9.2f %9.2f %13.3f %13.3f\n", "ffmpeg loudnorm x2 + AAC", fw, fc, fw / m, fc / m
  printf "\nRatio ffmpeg / korvanta: %.1fx wall, %.1fx cpu (target >= 10x: %s)\n",
         fw / kw, fc / kc, (fw / kw >= 10 ? "met" : "missed")
}'

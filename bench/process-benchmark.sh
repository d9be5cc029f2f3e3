#!/usr/bin/env bash
# process-benchmark.sh [CLI] [RUNS]  — one whole `korvanta-cli master --preset Club` process on a
# 4-minute 320 kb/s MP3, against `ffmpeg -v error -i SONG -f null -` decoding the same file, as a
# user feels it: wall time of the whole process, start-up, export and clean-up included.
#
# Two songs, made here with ffmpeg (nothing is stored): "one-pass", four minutes of a real song
# (asc-music's Machine Wars, as scripts/setup installs it) that the Club preset masters in one
# pass, and "three-pass", the same song 30 dB quieter (volume 0.03), which the limiter makes miss
# the target twice, so it takes all three passes. Without the package both are synthetic (pink
# noise over a low tone; the quiet one at volume 0.003).
#
# The runs are paired and interleaved (ffmpeg, korvanta, ffmpeg, korvanta, …, the order swapped
# every other pair), so that a busy machine slows both sides alike; the script prints every pair's
# ratio, the median of the pairs and the ratio of the two best times. RUNS pairs per song
# (default 7). Target: at most 2.5x. Needs ffmpeg. Exit status: 0 when every run succeeded.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
CLI=${1:-$here/../src/cli/korvanta-cli}
RUNS=${2:-7}
if [ ! -x "$CLI" ]; then
  echo "process-benchmark: no korvanta-cli at $CLI (build the korvanta-cli target)" >&2
  exit 1
fi
command -v ffmpeg >/dev/null || { echo "process-benchmark: ffmpeg is needed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/korvanta-bench-process.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out" "$work/tmp"

# --- The two songs -------------------------------------------------------------------------------
source_song=/usr/share/games/asc/music/machine_wars.mp3
make_song() {  # make_song NAME VOLUME
  if [ -f "$source_song" ]; then
    ffmpeg -nostdin -v error -y -i "$source_song" -t 240 -af "volume=$2" -ar 44100 \
      -c:a libmp3lame -b:a 320k "$work/$1.mp3"
  else
    ffmpeg -nostdin -v error -y -f lavfi -i "anoisesrc=d=240:c=pink:a=0.5:seed=3" \
      -f lavfi -i "sine=f=55:d=240" \
      -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo,volume=$2" \
      -ar 44100 -c:a libmp3lame -b:a 320k "$work/$1.mp3"
  fi
}
if [ -f "$source_song" ]; then
  echo "Songs: 4 minutes of $(basename "$source_song") (asc-music), 44.1 kHz stereo, 320 kb/s MP3"
  make_song one-pass 1.0
  make_song three-pass 0.03
else
  echo "Songs: 4 minutes of synthetic noise and tone, 44.1 kHz stereo, 320 kb/s MP3 (no asc-music)"
  make_song one-pass 1.0
  make_song three-pass 0.003
fi

TIMEFORMAT='%R %U %S'
seconds() {  # seconds COMMAND...: "wall cpu" seconds of one run (cpu = user + system), output discarded
  local t
  t=$({ time "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }; } 2>&1) || return 1
  awk -v t="$t" 'BEGIN { split(t, f, " "); printf "%.3f %.3f", f[1], f[2] + f[3] }'
}
kor() { TMPDIR="$work/tmp" "$CLI" master --preset Club --out "$work/out" "$1"; }
dec() { ffmpeg -nostdin -v error -i "$1" -f null -; }

failed=0
for name in one-pass three-pass; do
  song="$work/$name.mp3"
  passes=$(TMPDIR="$work/tmp" "$CLI" master --preset Club --json --out "$work/out" "$song" |
    grep -o '"passes":[0-9]*' | cut -d: -f2) || { failed=1; continue; }
  cat "$song" >/dev/null  # from the page cache from here on
  dec "$song" >/dev/null
  ratios=() cpuRatios=() ktimes=() ftimes=()
  for i in $(seq 1 "$RUNS"); do
    rm -rf "${work:?}/out"/*  # every master is written into an empty folder
    if [ $((i % 2)) -eq 1 ]; then
      f=$(seconds dec "$song") && k=$(seconds kor "$song") || { failed=1; break; }
    else
      k=$(seconds kor "$song") && f=$(seconds dec "$song") || { failed=1; break; }
    fi
    read -r kw kc <<<"$k"
    read -r fw fc <<<"$f"
    ktimes+=("$kw") ftimes+=("$fw")
    ratios+=("$(awk -v k="$kw" -v f="$fw" 'BEGIN { printf "%.2f", k / f }')")
    cpuRatios+=("$(awk -v k="$kc" -v f="$fc" 'BEGIN { printf "%.2f", (f > 0 ? k / f : 0) }')")
  done
  median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
    print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
  kbest=$(printf '%s\n' "${ktimes[@]}" | sort -n | head -1)
  fbest=$(printf '%s\n' "${ftimes[@]}" | sort -n | head -1)
  echo
  echo "$name song ($passes pass(es)), $RUNS paired runs, load average $(cut -d' ' -f1 /proc/loadavg):"
  echo "  korvanta-cli master --preset Club: ${ktimes[*]} s"
  echo "  ffmpeg -f null (one decode):       ${ftimes[*]} s"
  echo "  wall ratio per pair:               ${ratios[*]}"
  echo "  cpu ratio per pair (user+sys):     ${cpuRatios[*]}"
  awk -v m="$(median "${ratios[@]}")" -v c="$(median "${cpuRatios[@]}")" -v k="$kbest" -v f="$fbest" 'BEGIN {
    printf "  Ratio whole master / one decode: %.2fx wall (median of pairs), %.2fx best of each (%.3f s / %.3f s), %.2fx cpu; target <= 2.5x wall: %s\n",
           m, k / f, k, f, c, (m <= 2.5 ? "met" : "missed") }'
done
exit "$failed"

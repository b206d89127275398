#!/usr/bin/env bash
# Whole-process CPU time of brimwell-render against `sox IN OUT reverb` on
# the same 60-second stereo 44.1 kHz file, in alternating runs; prints the
# medians and their ratios for the default chain and for every stage on.
# Usage: scripts/compare-sox.sh [RUNS] (default 5); expects a native build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-5}"
render=build/tools/brimwell-render
config=build/tools/brimwell-config
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Music-like material: a chord and a bass note with some noise, 60 seconds.
sox -n -r 44100 -b 16 -c 2 "$work/in.wav" synth 60 pluck 110 pluck 220 pluck 330 pinknoise \
  remix 1,3v0.3 2,4v0.3 gain -n -3 2>/dev/null
"$config" defaults "$work/defaults.cfg" >/dev/null
"$config" defaults "$work/every.cfg" >/dev/null
"$config" set "$work/every.cfg" enable-super-bass=1 enable-reverb=1 enable-rotation=1 \
  enable-hard-limiter=1 enable-fft-eq=on >/dev/null

cpu_seconds() {  # runs a command, prints its user+system CPU seconds
  local start end
  start=$(awk '{print $14+$15+$16+$17}' /proc/$$/stat)
  /usr/bin/env bash -c 'exec "$@"' _ "$@" >/dev/null 2>&1
  # children's times accumulate in the shell's cutime/cstime
  end=$(awk '{print $14+$15+$16+$17}' /proc/$$/stat)
  awk -v a="$start" -v b="$end" -v hz="$(getconf CLK_TCK)" 'BEGIN{printf "%.3f\n", (b-a)/hz}'
}

median() { sort -n | awk '{v[NR]=$1} END{ if (NR%2) print v[(NR+1)/2]; else printf "%.3f\n", (v[NR/2]+v[NR/2+1])/2 }'; }

: >"$work/sox" ; : >"$work/defaults" ; : >"$work/every"
for ((i = 0; i < runs; i++)); do
  cpu_seconds sox "$work/in.wav" "$work/sox-out.wav" reverb >>"$work/sox"
  cpu_seconds "$render" --settings "$work/defaults.cfg" "$work/in.wav" "$work/out-defaults.wav" >>"$work/defaults"
  cpu_seconds "$render" --settings "$work/every.cfg" "$work/in.wav" "$work/out-every.wav" >>"$work/every"
done

sox_median=$(median <"$work/sox")
defaults_median=$(median <"$work/defaults")
every_median=$(median <"$work/every")
awk -v s="$sox_median" -v d="$defaults_median" -v e="$every_median" -v n="$runs" 'BEGIN{
  printf "CPU seconds, median of %d alternating runs on 60 s of stereo 44.1 kHz:\n", n
  printf "  sox reverb             %7.3f\n", s
  printf "  brimwell defaults      %7.3f   ratio %.3f (target <= 0.5)\n", d, d/s
  printf "  brimwell every stage   %7.3f   ratio %.3f (target <= 0.6)\n", e, e/s
}'

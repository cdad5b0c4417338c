#!/bin/sh
# The Windows build's rate of a container: both views of the 1080p pair, looped 7 times, from its
# M2TS against from its elementary files, through Korvala.dll's C entry in the cross-built
# AviSynth.dll under Wine (avs_frames.exe asking for every frame, writing none); best of 3.
#   bench.sh <wine-run> <avs_frames.exe> <Korvala.dll> <media dir> <work dir>
set -eu
wine_run=$1 host=$2 plugin=$3 media=$4 work=$5
loops=7
win() { printf 'Z:%s' "$1" | tr / '\\'; }
mkdir -p "$work"
for f in mvc/mvc_1080p.base.h264 mvc/mvc_1080p.dep.mvc containers/mvc_1080p/mvc_1080p.m2ts; do
  [ -f "$media/$f" ] || { echo "$media/$f is not present: nothing to measure"; exit 0; }
  i=0
  : >"$work/${f##*/}"
  while [ $i -lt $loops ]; do cat "$media/$f" >>"$work/${f##*/}"; i=$((i + 1)); done
done
best() { # script: the least seconds of three runs
  b=""
  for round in 1 2 3; do
    s=$("$wine_run" "$host" "$(win "$plugin")" "$1" | tr -d '\r' | sed -n 's/^seconds=//p')
    [ -n "$s" ] || { echo "the script failed: $1" >&2; exit 1; }
    b=$(echo "$s $b" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
  done
  echo "$b"
}
pair=$(best "Korvala(\"$(win "$work/mvc_1080p.base.h264")\", \"$(win "$work/mvc_1080p.dep.mvc")\", ViewId=2)")
m2ts=$(best "Korvala(\"$(win "$work/mvc_1080p.m2ts")\", ViewId=2)")
echo "Windows (Wine), 1920x1080 stereo (mvc_1080p x $loops), both views, best of 3"
awk -v pair="$pair" -v m2ts="$m2ts" 'BEGIN {
  printf "both views from the M2TS:         %7.2f s against %.2f s from the elementary files: %.3f (target >= 0.95)\n",
         m2ts, pair, pair / m2ts }'
rm -rf "$work"

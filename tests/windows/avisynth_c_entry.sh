#!/bin/sh
# Korvala.dll loaded through its C entry by the cross-built AviSynth.dll under Wine
# (avs_frames.exe), each view compared with its reference.
#   avisynth_c_entry.sh <wine-run> <avs_frames.exe> <Korvala.dll> <work dir> pair BASE DEP FRAMES MD5_BASE MD5_DEP
#     both views in alternation (ViewId 2), each view's frames against its MD5;
#   ... reverse BASE DEP FRAMES MD5_BASE MD5_DEP MATRIX
#     the same asked for from the last frame to the first (seeks), and the properties
#     KorvalaView and _Matrix of frames 0 and 1;
#   ... ffmpeg FILE      a single stream against ffmpeg's decode of it;
#   ... error FILE TEXT  the script stops with TEXT;
#   ... container DIR SET FRAMES MD5_BASE MD5_DEP AVC MVC EXTRA
#     a container form of a shared set (its files AVC and MVC under DIR, "SET" in them standing
#     for the set's name, MVC "-" for none; EXTRA units beyond FRAMES), counted from the stream,
#     both views in alternation asked for first to last and last to first.
# Exit 77 (skipped) when a stream is missing.
set -eu
wine_run=$1 host=$2 plugin=$3 work=$4 mode=$5
shift 5

win() { printf 'Z:%s' "$1" | tr / '\\'; }
need() {
  for f in "$@"; do
    [ -f "$f" ] || { echo "skipped: $f is missing (the shared folder's media)"; exit 77; }
  done
}
run() { # [-r] script output...
  order=""
  [ "$1" = -r ] && { order=-r; shift; }
  script=$1
  shift
  outs=""
  for o in "$@"; do outs="$outs $(win "$o")"; done
  # shellcheck disable=SC2086
  "$wine_run" "$host" $order "$(win "$plugin")" "$script" $outs | tr -d '\r'
}
digest() { md5sum "$1" | cut -d' ' -f1; }
check() { # what got expected
  if [ "$2" = "$3" ]; then echo "$1: $2"; else echo "$1: got $2, expected $3"; failed=1; fi
}

mkdir -p "$work"
failed=0
case "$mode" in
  pair)
    base=$1 dep=$2 frames=$3
    need "$base" "$dep"
    run "Korvala(\"$(win "$base")\", \"$(win "$dep")\", $frames, 2)" "$work/base.yuv" "$work/dep.yuv"
    check "base view" "$(digest "$work/base.yuv")" "$4"
    check "dependent view" "$(digest "$work/dep.yuv")" "$5"
    ;;
  reverse)
    base=$1 dep=$2 frames=$3
    need "$base" "$dep"
    out=$(run -r "Korvala(\"$(win "$base")\", \"$(win "$dep")\", $frames, 2)" "$work/base.yuv" "$work/dep.yuv")
    echo "$out"
    check "base view" "$(digest "$work/base.yuv")" "$4"
    check "dependent view" "$(digest "$work/dep.yuv")" "$5"
    check "frame 0" "$(echo "$out" | grep '^frame 0:')" "frame 0: KorvalaView=0 _Matrix=$6"
    check "frame 1" "$(echo "$out" | grep '^frame 1:')" "frame 1: KorvalaView=1 _Matrix=$6"
    ;;
  ffmpeg)
    file=$1
    need "$file"
    ffmpeg -v error -i "$file" -f rawvideo -pix_fmt yuv420p -y "$work/ffmpeg.yuv"
    size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$file")
    w=${size%x*} h=${size#*x}
    frames=$(( $(stat -c %s "$work/ffmpeg.yuv") / (w * h * 3 / 2) ))
    run "Korvala(\"$(win "$file")\", NumFrames=$frames)" "$work/korvala.yuv"
    check "$frames frames of $size" "$(digest "$work/korvala.yuv")" "$(digest "$work/ffmpeg.yuv")"
    ;;
  error)
    out=$(run "Korvala(\"$(win "$1")\")" "$work/none.yuv" || true)
    check "script error" "$out" "error: $2"
    ;;
  container)
    dir=$1 set=$2 frames=$3 extra=$8
    avc=$dir/$(echo "$6" | sed "s/SET/$set/")
    need "$avc"
    args="\"$(win "$avc")\""
    if [ "$7" != - ]; then
      need "$dir/$7"
      args="$args, \"$(win "$dir/$7")\""
    fi
    for pass in forward reverse; do
      flag=""
      [ $pass = reverse ] && flag=-r
      # shellcheck disable=SC2086
      out=$(run $flag "Korvala($args, ViewId=2)" "$work/base.yuv" "$work/dep.yuv" || true)
      clip=$(echo "$out" | grep '^frames=' || true)
      if [ -z "$clip" ]; then
        echo "$pass: $out"
        failed=1
        continue
      fi
      check "$pass: frames" "${clip%% *}" "frames=$((2 * (frames + extra)))"
      size=${clip#* size=}
      bytes=$((frames * ${size%x*} * ${size#*x} * 3 / 2))
      check "$pass: base view" "$(head -c "$bytes" "$work/base.yuv" | md5sum | cut -d' ' -f1)" "$4"
      check "$pass: dependent view" "$(head -c "$bytes" "$work/dep.yuv" | md5sum | cut -d' ' -f1)" "$5"
    done
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
rm -rf "$work"
exit $failed

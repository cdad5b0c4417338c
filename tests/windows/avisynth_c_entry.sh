#!/bin/sh
# Korvala.dll loaded through its C entry by the cross-built AviSynth.dll under Wine
# (avs_frames.exe), each view compared with its reference.
#   avisynth_c_entry.sh <wine-run> <avs_frames.exe> <Korvala.dll> <work dir> [in FOLDER ENCODING LOCALE] MODE ...
# With "in", the files are reached through links in a folder FOLDER, named after it, and the
# script string is given in ENCODING (ansi: the code page of Wine's LOCALE, or utf8).
#   ... pair BASE DEP FRAMES MD5_BASE MD5_DEP
#     both views in alternation (ViewId 2), each view's frames against its MD5;
#   ... reverse BASE DEP FRAMES MD5_BASE MD5_DEP MATRIX
#     the same asked for from the last frame to the first (seeks), and the properties
#     KorvalaView and _Matrix of frames 0 and 1;
#   ... ffmpeg FILE      a single stream against ffmpeg's decode of it;
#   ... error FILE TEXT  the script stops with TEXT;
#   ... past4gib BASE DEP FRAMES MD5_BASE MD5_DEP
#     each file, 4.7 GB of zero bytes (a hole, costing no disk) and the file again, asked for
#     from the last frame to the first: both copies' views against their MD5s;
#   ... container DIR SET FRAMES MD5_BASE MD5_DEP [AVC MVC EXTRA]...
#     forms of a shared stereo set: each its files AVC and MVC (under DIR unless absolute, "SET"
#     in their names standing for the set's name, MVC "-" for none) with EXTRA units beyond
#     FRAMES, counted from the stream, both views in alternation asked for first to last and
#     last to first.
# Exit 77 (skipped) when a stream is missing.
set -eu
wine_run=$1 host=$2 plugin=$3 work=$4
shift 4
folder="" utf8=""
if [ "$1" = in ]; then
  folder=$2
  [ "$3" = utf8 ] && utf8=-u
  if ! locale -a 2>/dev/null | grep -qix "$(echo "$4" | sed 's/UTF-8/utf8/')"; then
    # A locale the machine lacks, made from glibc's sources for this test alone.
    export LOCPATH="$work/locale"
    mkdir -p "$LOCPATH"
    localedef -i "${4%.*}" -f "${4#*.}" "$LOCPATH/$4" 2>/dev/null ||
      { echo "skipped: no locale $4 (Debian's locales package)"; exit 77; }
  fi
  export LC_ALL="$4"
  shift 4
fi
mode=$1
shift

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
  "$wine_run" "$host" $order $utf8 "$(win "$plugin")" "$script" $outs | tr -d '\r'
}
# The path a script names FILE by: FILE itself, or under DIR when relative ("SET" in its name
# standing for the set's name). With "in", a link in the folder, named with the folder's name
# for the set's (for an absolute FILE, for its name's first part); a file in a subfolder of DIR
# is reached through a link to that subfolder.
place() { # FILE DIR SET
  case "$1" in
    /*) file=$1 ;;
    *) file=$2/$(echo "$1" | sed "s/SET/$3/") ;;
  esac
  if [ -z "$folder" ]; then
    echo "$file"
    return
  fi
  mkdir -p "$work/$folder"
  case "$1" in
    /*) name=$(basename "$1") name=$folder.${name#*.} ;;
    */*) file=$2/${1%%/*} name=${1%%/*} ;;
    *) name=$(echo "$1" | sed "s/SET/$folder/") ;;
  esac
  ln -sfn "$file" "$work/$folder/$name"
  case "$1" in
    /*) echo "$work/$folder/$name" ;;
    */*) echo "$work/$folder/$1" ;;
    *) echo "$work/$folder/$name" ;;
  esac
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
    out=$(run "Korvala(\"$(win "$(place "$1" / -)")\")" "$work/none.yuv" || true)
    check "script error" "$out" "error: $2"
    ;;
  past4gib)
    need "$1" "$2"
    for f in "$1" "$2"; do
      cp "$f" "$work/big.${f##*.}"
      truncate -s +4700000000 "$work/big.${f##*.}"
      cat "$f" >>"$work/big.${f##*.}"
    done
    out=$(run -r "Korvala(\"$(win "$work/big.${1##*.}")\", \"$(win "$work/big.${2##*.}")\", 0, 2)" \
              "$work/base.yuv" "$work/dep.yuv" || true)
    clip=$(echo "$out" | grep '^frames=' || true)
    check "frames" "${clip%% *}" "frames=$((4 * $3))"
    bytes=$(($(stat -c %s "$work/base.yuv") / 2))
    for copy in first second; do
      part=head
      [ $copy = second ] && part=tail
      check "$copy copy: base view" "$($part -c "$bytes" "$work/base.yuv" | md5sum | cut -d' ' -f1)" "$4"
      check "$copy copy: dependent view" "$($part -c "$bytes" "$work/dep.yuv" | md5sum | cut -d' ' -f1)" "$5"
    done
    ;;
  container)
    dir=$1 set=$2 frames=$3 base=$4 dep=$5
    shift 5
    while [ $# -ge 3 ]; do
      avc=$1 mvc=$2 extra=$3
      shift 3
      case "$avc" in /*) need "$avc" ;; *) need "$dir/$(echo "$avc" | sed "s/SET/$set/")" ;; esac
      args="\"$(win "$(place "$avc" "$dir" "$set")")\""
      [ "$mvc" = - ] || args="$args, \"$(win "$(place "$mvc" "$dir" "$set")")\""
      for pass in forward reverse; do
        flag=""
        [ $pass = reverse ] && flag=-r
        # shellcheck disable=SC2086
        out=$(run $flag "Korvala($args, ViewId=2)" "$work/base.yuv" "$work/dep.yuv" || true)
        clip=$(echo "$out" | grep '^frames=' || true)
        if [ -z "$clip" ]; then
          echo "$avc, $pass: $out"
          failed=1
          continue
        fi
        check "$avc, $pass: frames" "${clip%% *}" "frames=$((2 * (frames + extra)))"
        size=${clip#* size=}
        bytes=$((frames * ${size%x*} * ${size#*x} * 3 / 2))
        check "$avc, $pass: base view" "$(head -c "$bytes" "$work/base.yuv" | md5sum | cut -d' ' -f1)" "$base"
        check "$avc, $pass: dependent view" "$(head -c "$bytes" "$work/dep.yuv" | md5sum | cut -d' ' -f1)" "$dep"
      done
    done
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
rm -rf "$work"
exit $failed

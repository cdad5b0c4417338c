#!/usr/bin/env bash
# The main job end to end: make a short stereo pair with ffmpeg, pack it with mvc-pack,
# decode both views through the Korvala plugin with korvala-y4m, and show the first pair.
#   demo.sh BUILD_DIR OUT_DIR [SHARED_DIR]
set -euo pipefail
build=$(readlink -f "$1")
out=$2
shared=${3:-}
mkdir -p "$out"
out=$(readlink -f "$out")
pack=$build/tools/mvc_pack/mvc-pack
y4m=$build/tools/korvala_y4m/korvala-y4m
for tool in "$pack" "$y4m"; do
  [ -x "$tool" ] || { echo "demo: $tool was not built" >&2; exit 1; }
done

ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
# Both views with the same GOP: fixed keyframe interval, no scene cuts, fixed B-frames.
x264="aud=1:keyint=24:min-keyint=24:scenecut=0:b-adapt=0:bframes=2"
src="testsrc2=size=640x360:rate=24"

echo "Encoding a 48-frame stereo pair (left: test pattern, right: its negative)"
ff -f lavfi -i "$src" -frames:v 48 -pix_fmt yuv420p -c:v libx264 -x264-params "$x264" "$out/demo.left.h264"
ff -f lavfi -i "$src" -vf negate -frames:v 48 -pix_fmt yuv420p -c:v libx264 -x264-params "$x264" \
  "$out/demo.right.h264"
"$pack" "$out/demo.left.h264" "$out/demo.right.h264" "$out/demo.base.h264" "$out/demo.dep.mvc"

# Korvala("demo.base.h264", "demo.dep.mvc", 48, 2): base view, then dependent view, per unit.
"$y4m" --avc "$out/demo.base.h264" --mvc "$out/demo.dep.mvc" --frames auto --view 2 -o "$out/demo.y4m"
# Frames 0 and 1 are the left and right view of the first access unit.
ff -i "$out/demo.y4m" -vf "select='lt(n,2)',tile=2x1" -frames:v 1 -update 1 "$out/demo-first-pair.png"
echo "Wrote $out/demo.y4m (both views, alternating) and $out/demo-first-pair.png (left | right)"

if [ -n "$shared" ] && [ -f "$shared/media/MVCRP_2.base.h264" ] && [ -f "$shared/media/MVCRP_2.dep.mvc" ]; then
  echo "Decoding the MVCRP_2 conformance pair"
  "$y4m" --avc "$shared/media/MVCRP_2.base.h264" --mvc "$shared/media/MVCRP_2.dep.mvc" --view 2 \
    -o "$out/MVCRP_2.y4m"
  ff -i "$out/MVCRP_2.y4m" -vf "select='lt(n,2)',tile=2x1" -frames:v 1 -update 1 "$out/MVCRP_2-first-pair.png"
  echo "Wrote $out/MVCRP_2.y4m and $out/MVCRP_2-first-pair.png"
fi

stereo=$shared/media/mvc/mvc_1080p
if [ -n "$shared" ] && [ -f "$stereo.base.h264" ] && [ -f "$stereo.dep.mvc" ]; then
  # A real stereo capture whose right view predicts from the left (inter-view prediction).
  echo "Decoding the 1080p stereo pair with inter-view prediction"
  "$y4m" --avc "$stereo.base.h264" --mvc "$stereo.dep.mvc" --view 2 -o "$out/mvc_1080p.y4m"
  ff -i "$out/mvc_1080p.y4m" -vf "select='lt(n,2)',tile=2x1,scale=1920:-2" -frames:v 1 -update 1 \
    "$out/mvc_1080p-first-pair.png"
  echo "Wrote $out/mvc_1080p.y4m and $out/mvc_1080p-first-pair.png"
fi

#!/bin/sh
# Installs the build into a fresh prefix and checks what a user of that prefix gets.
set -eu
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/avisynth/libkorvala.so lib/avisynth/libmfxsw64.so.1 lib/avisynth/libmfx-gen.so.1.2 bin/tessulor; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
report=$(env -u LD_LIBRARY_PATH "$prefix/bin/tessulor" -skipWait -skipPackage </dev/null)
yes=$(printf '%s\n' "$report" | grep -c "	SW	Yes		X")
no=$(printf '%s\n' "$report" | grep -c "	HW	No")
echo "SW rows with Yes and a decoder mark: $yes; HW rows with No: $no"
[ "$yes" -ge 21 ] && [ "$no" -ge 21 ]

#!/bin/sh
# Korvala.dll's exported names: each one given must be there, AviSynth+'s C++ entry must not.
#   dll_exports.sh <objdump> <Korvala.dll> NAME...
set -eu
objdump=$1 dll=$2
shift 2
names=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
echo "$names"
failed=0
for want in "$@"; do
  echo "$names" | grep -qw "$want" || { echo "missing export: $want"; failed=1; }
done
if echo "$names" | grep -qw AvisynthPluginInit3; then
  echo "exports AvisynthPluginInit3, which GCC's C++ layout makes unusable for an MSVC-built AviSynth+"
  failed=1
fi
exit $failed

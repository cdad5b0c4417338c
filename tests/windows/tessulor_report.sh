#!/bin/bash
# Tessulor.exe under Wine, the whole report: stand-in dispatcher, Wine's WMI, the test filters
# and transforms, tips, and the final wait on a closed standard input.
#   tessulor_report.sh <wine-run> <Tessulor.exe>
set -u
wine_run=$1 exe=$2
out=$(mktemp) ; trap 'rm -f "$out" "$out.lf"' EXIT
"$wine_run" "$exe" </dev/null >"$out" 2>/dev/null
status=$?
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$status" -eq 0 ] || fail "exit status $status"
# A pipe gets CRLF line ends; every line must have one.
[ "$(grep -c $'\r$' "$out")" -eq "$(wc -l <"$out")" ] || fail "a line without CRLF"
tr -d '\r' <"$out" >"$out.lf"

line() { sed -n "${1}p" "$out.lf"; }
has_line() { grep -qxF -- "$1" "$out.lf" || fail "no line: $(printf %q "$1")"; }
# The line after the first one equal to $1.
after() { awk -v want="$1" 'found { print; exit } $0 == want { found = 1 }' "$out.lf"; }

[ "$(line 1)" = "Orvanta 2017 - Tessulor (64-bit)" ] || fail "title: $(line 1)"
[ "$(line 2)" = "" ] || fail "no empty line after the title"

# No session opens through the stand-in: every version up to 1.20 is "No" on both targets.
for minor in $(seq 0 20); do
  for target in HW SW; do
    has_line $'\t'"1.$minor"$'\t'"$target"$'\t'$'No\t\t \t '
  done
done
grep -q $'^\t1\\.21\t' "$out.lf" && fail "probing went on past 1.20"

has_line "Graphics Devices:"
title=$'\t'"$(printf '%-45s%-20s%s' Name Version State)"
[ "$(after "Graphics Devices:")" = "$title" ] || fail "device titles: $(after "Graphics Devices:" | cat -A)"
device=$(after "$title")
[[ "$device" =~ ^$'\t'.{45}.{20}(Running\ /\ Full\ Power|Unknown|Other|\ )$ ]] || fail "device row: $(printf %q "$device")"

has_line "System info:"
grep -q $'^\tCPU:\t.' "$out.lf" || fail "no CPU line"
os=$(grep $'^\tOS:\t' "$out.lf")
[ -n "$os" ] || fail "no OS line"
[[ "$os" == *"|"* ]] && fail "OS name not cut at '|': $os"
has_line $'\tArch:\t64-bit'

packages="Installed Media SDK packages (be patient...processing takes some time):"
has_line "$packages"
[ "$(after "$packages")" = "" ] || fail "packages listed under Wine: $(after "$packages")"

filters="Installed Media SDK DirectShow filters:"
has_line "$filters"
expected_filters=$(cat <<'LIST'
  Intel(R) Media SDK H.264 Decoder (Korvala test) {6B1D7A10-31C4-4E2B-9B6A-0A1C5E000001}
  Intel(R) Media SDK H.264 Decoder (Korvala test) :
    C:\Program Files\Korvala Test\mfx_h264_dec.dll
  Intel(R) Media MVC Decoder (Korvala test) {6B1D7A10-31C4-4E2B-9B6A-0A1C5E000002}
  Intel(R) Media MVC Decoder (Korvala test)
LIST
)
listed=$(awk -v want="$filters" 'found && $0 == "" { exit } found { print } $0 == want { found = 1 }' "$out.lf")
# The enumerator's order is Wine's: compare the filters' blocks, not their order.
[ "$(sort <<<"$listed")" = "$(sort <<<"$expected_filters")" ] || fail "filters listed:"$'\n'"$listed"

transforms="Installed Intel Media Foundation Transforms:"
has_line "$transforms"
# Wine 8 keeps no friendly name for a registered transform, so nothing is listed.
[ "$(after "$transforms")" = "" ] || fail "transforms listed: $(after "$transforms")"

has_line "Tips:"
has_line " - HW target does not work: If you expect it should, then make sure to install"
has_line " - SW target does not work: make sure Media SDK DLL (e.g. libmfxsw64.dll)"
[ "$(tail -n 1 "$out.lf")" = "Analysis complete... [press ENTER]" ] || fail "last line: $(tail -n 1 "$out.lf")"

# The switches and the wait through Wine's C runtime: wide arguments, a notice for an unknown
# one, the usage block with no wait, and a wait that an ENTER on a pipe ends.
usage=$("$wine_run" "$exe" -H -h </dev/null 2>/dev/null | tr -d '\r')
expected_usage=$(printf '%s\n' "Orvanta 2017 - Tessulor (64-bit)" "" "Unknown option!  (-h for usage details)" "" \
  "Usage:" "  -skipAPI     : Skip query for installed Media SDK API support")
[ "$(head -n 6 <<<"$usage")" = "$expected_usage" ] || fail "usage run:"$'\n'"$usage"
[ "$(tail -n 1 <<<"$usage")" = "  -h           : Print usage details" ] || fail "usage ends: $(tail -n 1 <<<"$usage")"
short=$(printf '\n' | "$wine_run" "$exe" -skipAPI -skipPackage -skipDShow -skipMFT 2>/dev/null | tr -d '\r')
[ "$(tail -n 3 <<<"$short")" = $'\tArch:\t64-bit\n\nAnalysis complete... [press ENTER]' ] ||
  fail "skipped run ends:"$'\n'"$short"
grep -q "Installed\|Tips:" <<<"$short" && fail "a skipped section ran:"$'\n'"$short"

if [ "$failures" -ne 0 ]; then
  echo "--- report ---"; cat "$out.lf"
  echo "$failures check(s) failed"
  exit 1
fi
echo "Tessulor.exe report under Wine: all checks passed"

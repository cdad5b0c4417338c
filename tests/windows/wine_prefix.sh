#!/bin/sh
# The Wine prefix of the Windows tests.
#   wine_prefix.sh setup <wine-run> <wineserver> <prefix> <register_test_components.exe>
#     makes a fresh headless prefix and registers the test filters and transforms;
#   wine_prefix.sh stop <wineserver> <prefix>
#     ends the prefix's wineserver, so nothing outlives the test run.
set -eu
action=$1
case "$action" in
  setup)
    wine_run=$2 wineserver=$3 prefix=$4 register=$5
    # A server left by an interrupted run would keep serving the old registry.
    [ -d "$prefix" ] && WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    "$wine_run" wineboot --init
    "$wine_run" "$register"
    echo "Wine prefix ready: $prefix"
    ;;
  stop)
    wineserver=$2 prefix=$3
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    WINEPREFIX=$prefix "$wineserver" -w 2>/dev/null || true
    echo "wineserver of $prefix stopped"
    ;;
  *)
    echo "usage: wine_prefix.sh setup|stop ..." >&2
    exit 2
    ;;
esac

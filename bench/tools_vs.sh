#!/usr/bin/env bash
# The Windows tool under Wine against the Linux tool, pair by pair: a create
# of a generated release of each size, then its peak memory beside Wine's own
# (kelsys.exe key describe).
#   bench/tools_vs.sh LINUX_BUILD WINDOWS_BUILD [RUNS]
set -euo pipefail
linux=$(cd "$1" && pwd); windows=$(cd "$2" && pwd); runs=${3:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT
wine() { "$here/cmake/wine-run" "$windows/kelsys.exe" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }
# Seconds (wall, to the microsecond) and peak kB of one run.
timed() {
    local start=$EPOCHREALTIME
    /usr/bin/time -f "%M" -o "$scratch/t" "$@" >/dev/null 2>"$scratch/err" || { cat "$scratch/err" >&2; exit 1; }
    echo "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}') $(cat "$scratch/t")"
}
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

wine key describe x >/dev/null 2>&1 || true  # the prefix, once
printf '%-8s %12s %12s %7s %14s %14s %14s\n' groups linux_s wine_s ratio linux_MB wine_MB wine_base_MB
for groups in 100 1000 10000; do
    release="$scratch/release$groups"; key=$("$linux/write_release" "$release" "$groups")
    : >"$scratch/pairs"
    for ((i = 0; i < runs; i++)); do
        rm -rf "$scratch/pool"; mkdir "$scratch/pool"
        read -r ls lk < <(timed "$linux/kelsys" create "$scratch/pool/L" --release "$release" --key "$key")
        read -r ws wk < <(timed "$here/cmake/wine-run" "$windows/kelsys.exe" create "$(winpath "$scratch/pool/W")" \
                                --release "$(winpath "$release")" --key "$key")
        read -r _ bk < <(timed "$here/cmake/wine-run" "$windows/kelsys.exe" key describe "$key")
        echo "$ls $ws $(awk -v a="$ws" -v b="$ls" 'BEGIN {print a / b}') $lk $wk $bk" >>"$scratch/pairs"
    done
    col() { awk -v c="$1" '{print $c}' "$scratch/pairs" | median; }
    printf '%-8s %12.3f %12.3f %7.1f %14.1f %14.1f %14.1f\n' "$groups" "$(col 1)" "$(col 2)" "$(col 3)" \
        "$(col 4 | awk '{print $1 / 1024}')" "$(col 5 | awk '{print $1 / 1024}')" "$(col 6 | awk '{print $1 / 1024}')"
done

#!/usr/bin/env bash
# A short tour of kelsys over the sample releases.
set -euo pipefail
kelsys=${1:-build/linux/kelsys}
root=$(cd "$(dirname "$0")/../.." && pwd)
run() { echo "\$ kelsys $*"; "$kelsys" "$@" || true; echo; }

run key describe 'KEL1:R:1234567:7:Zendara:10101011011010101001::03999751'
run key make --kind A --serial 42 --signature 1001 --program ArcWelding
run key describe 'KEL1:R:1234567:7:Zendara:10101011011010101001::03999752'
for release in "$root"/samples/releases/*/; do
    run release "$release"
done
run --trace release "$root/samples/no-such-release"

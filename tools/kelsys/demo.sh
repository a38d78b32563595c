#!/usr/bin/env bash
# A short tour of kelsys: keystrings and releases, then a real system built in
# ./demo-pool from the sample release, changed (its options too, by name),
# described and backed up, and the pool listed.
set -euo pipefail
kelsys=$(cd "$(dirname "${1:-build/linux/kelsys}")" && pwd)/$(basename "${1:-build/linux/kelsys}")
root=$(cd "$(dirname "$0")/../.." && pwd)
samples=$root/samples
run() {
    local shown=""
    for a in "$@"; do [[ $a == *" "* ]] && a="\"$a\""; shown+=" $a"; done
    echo "\$ kelsys$shown"; "$kelsys" "$@" || true; echo
}
key() { grep -m1 "^KEL1:$1:.*:$2:" "$samples/keys.txt"; }

run key describe "$(key R 10101011011010101001)"
run release "$samples/releases/zendara-6.0"

pool=$root/demo-pool
rm -rf "$pool" && mkdir -p "$pool"
cd "$pool"
run create Cell1 --release "$samples/releases/zendara-6.0" --key "$(key R 10101011011010101001)"
run addopt Cell1 add "$(key A 010111010)" --release "$samples/releases/arcwelding-1.2"
run drive Cell1 add "$(key R 11000000001)" --number 1
run tag Cell1 "Welding cell 1, line A"
printf 'MODULE CellMain\r\nENDMODULE\r\n' > main.mod
run home Cell1 add main.mod
run info Cell1
run options Cell1
run options Cell1 select manip zr-6 "controller language" german --dry-run
run options Cell1 select fieldbus devicenet safety "safezone b"
run options Cell1 unselect fieldbus profibus
run options Cell1 select --program arc "welding process" mig
run backup restore "$samples/backups/cell1" --to Restored --release "$samples/releases/zendara-6.0" \
    --extra "$samples/releases/arcwelding-1.2"
run --trace create Cell1 --release "$samples/releases/zendara-6.0" --key "$(key R 10101011011010101001)"
run verify Cell1
run verify Restored
mkdir -p notes
run list .
echo "What was written in $pool:"
find . -type f | sort

#!/usr/bin/env bash
# A short tour of kelsys: keystrings and releases, then a real system built in
# ./demo-pool from the sample release, changed (its options too, by name),
# described and backed up, and the pool listed.
set -euo pipefail
kelsys=$(cd "$(dirname "${1:-build/linux/kelsys}")" && pwd)/$(basename "${1:-build/linux/kelsys}")
root=$(cd "$(dirname "$0")/../.." && pwd)
samples=$root/samples
# Every step must succeed but the one that fails on purpose; the tour ends
# with exit 1 if one did not, so the test that runs it sees that.
unexpected=0
show() {
    local shown=""
    for a in "$@"; do [[ $a == *" "* ]] && a="\"$a\""; shown+=" $a"; done
    echo "\$ kelsys$shown"
}
run() { show "$@"; "$kelsys" "$@" || { echo "(unexpected: exit $?)"; unexpected=$((unexpected + 1)); }; echo; }
refused() { show "$@"; if "$kelsys" "$@"; then echo "(unexpected: it succeeded)"; unexpected=$((unexpected + 1)); fi; echo; }
say() { echo "# $*"; }
key() { grep -m1 "^KEL1:$1:.*:$2:" "$samples/keys.txt"; }

say "What a keystring holds: serial, signature (its option definition file), program, selection."
run key describe "$(key R 10101011011010101001)"
say "What a program release folder is: name, type, version."
run release "$samples/releases/zendara-6.0"

pool=${KEL_DEMO_POOL:-$root/demo-pool}
rm -rf "$pool" && mkdir -p "$pool"
cd "$pool"
say "A new system in the pool, from the main key and its release."
run create Cell1 --release "$samples/releases/zendara-6.0" --key "$(key R 10101011011010101001)"
say "An additional option program with its own key and release."
run addopt Cell1 add "$(key A 010111010)" --release "$samples/releases/arcwelding-1.2"
say "A drive module: a release key with its module number."
run drive Cell1 add "$(key R 11000000001)" --number 1
say "A free text the system keeps."
run tag Cell1 "Welding cell 1, line A"
printf 'MODULE CellMain\r\nENDMODULE\r\n' > main.mod
say "A file copied into the system's HOME."
run home Cell1 add main.mod
say "Everything the system holds, in one view."
run info Cell1
say "The option tree: [x] chosen, one choice or several per group, sub groups under their option."
run options Cell1
say "Choosing by name, first as a dry run: what would change, nothing written."
run options Cell1 select manip zr-6 "controller language" german --dry-run
say "Two choices in one call, stored together."
run options Cell1 select fieldbus devicenet safety "safezone b"
say "Unchoosing an option also unchooses what it opened."
run options Cell1 unselect fieldbus profibus
say "The same for an additional program."
run options Cell1 select --program arc "welding process" mig
say "A controller backup turned into a new system beside the first."
run backup restore "$samples/backups/cell1" --to Restored --release "$samples/releases/zendara-6.0" \
    --extra "$samples/releases/arcwelding-1.2"
say "Fails on purpose: Cell1 exists. The cause comes in the component's words; --trace shows every record."
refused --trace create Cell1 --release "$samples/releases/zendara-6.0" --key "$(key R 10101011011010101001)"
say "The files checked against each other and against what the component would write now."
run verify Cell1
run verify Restored
mkdir -p notes
say "The pool at a glance, without opening any system; a plain folder is listed as such."
run list .
echo "What was written in $pool:"
find . -type f | sort
[ "$unexpected" -eq 0 ] || { echo "$unexpected step(s) did not go as shown"; exit 1; }

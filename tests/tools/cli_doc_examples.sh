#!/usr/bin/env bash
# Every indented example of docs/cli.md against what kelsys prints, each in a
# fresh folder with the samples beside a pool, so that the paths read as typed.
# A block that starts with a kelsys command is run as written; an output-only
# block names its command and the pool it needs in the table below. In a doc
# line, "…" alone stands for any lines and a trailing "…" for the rest of one.
# Usage: cli_doc_examples.sh <kelsys> <source dir>
set -euo pipefail
kelsys_program=$1
root=$2
doc=$root/docs/cli.md
kelsys() { "$kelsys_program" "$@"; }
key() { grep -m1 "^KEL1:$1:.*:$2:" "$root/samples/keys.txt"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A step of making a pool that fails ends the making, with what kelsys said.
step() { local out; out=$(kelsys "$@" 2>&1) || { echo "kelsys $*: $out"; exit 1; }; }

# Cell1 as the doc shows it, and a folder that is no system.
cell1() {
    step create pool/Cell1 --release samples/releases/zendara-6.0 --key "$(key R 10101011011010101001)"
    step addopt pool/Cell1 add "$(key A 010111010)" --release samples/releases/arcwelding-1.2
    step drive pool/Cell1 add "$(key R 11000000001)" --number 1
    step tag pool/Cell1 "Welding cell 1, line A"
    echo 'MODULE CellMain' >main.mod
    step home pool/Cell1 add main.mod
    mkdir pool/junk
}
# Cell1 without its drive module, another main.mod and German chosen.
cell2() {
    step create pool/Cell2 --release samples/releases/zendara-6.0 --key "$(key R 10101011011010101001)"
    step addopt pool/Cell2 add "$(key A 010111010)" --release samples/releases/arcwelding-1.2
    echo 'MODULE Other' >main.mod
    step home pool/Cell2 add main.mod
    step options pool/Cell2 select "controller language" german
}

fits() { if [[ $1 == *… ]]; then [[ $2 == "${1%…}"* ]]; else [[ $2 == "$1" ]]; fi; }

# want[] (doc lines, first at doc line $1) against got[] (printed by $2).
compare() {
    local i=0 j=0
    while ((i < ${#want[@]})); do
        if [[ ${want[i]} =~ ^\ *…$ ]]; then
            ((i + 1 < ${#want[@]})) || return 0
            while ((j < ${#got[@]})) && ! fits "${want[i + 1]}" "${got[j]}"; do j=$((j + 1)); done
            i=$((i + 1))
            continue
        fi
        if ((j >= ${#got[@]})) || ! fits "${want[i]}" "${got[j]}"; then
            printf 'docs/cli.md:%d: the doc and `%s` disagree\n  doc:    %s\n  kelsys: %s\n' \
                $(($1 + i)) "$2" "${want[i]}" "${got[j]-(nothing more)}"
            return 1
        fi
        i=$((i + 1)) j=$((j + 1))
    done
    ((j == ${#got[@]})) && return 0
    printf 'docs/cli.md:%d: `%s` prints more than the doc shows\n  kelsys: %s\n' $(($1 + i)) "$2" "${got[j]}"
    return 1
}

mapfile -t lines <"$doc"
failed=0 blocks=0 previous=""
for ((at = 0; at < ${#lines[@]}; at++)); do
    line=${lines[at]}
    # An indented block starts after an empty line, and goes on over empty lines.
    if [[ $line != "    "* || -n $previous ]]; then previous=$line; continue; fi
    start=$at block=()
    while ((at < ${#lines[@]})) && [[ ${lines[at]} == "    "* || -z ${lines[at]} ]]; do
        block+=("${lines[at]#    }")
        at=$((at + 1))
    done
    while [[ -z ${block[-1]} ]]; do unset 'block[-1]'; done
    previous=""
    at=$((at - 1))
    blocks=$((blocks + 1))

    setup=() command="" first=0
    if [[ ${block[0]} == "kelsys "* ]]; then
        command=${block[0]}
        while [[ ${block[first]} == *\\ ]]; do first=$((first + 1)) command+=$'\n'${block[first]}; done
        first=$((first + 1))
    else
        case ${block[0]} in
            "Zendara (main program)") setup=(cell1) command="kelsys options pool/Cell1" ;;
            "Selection digits:"*) command="kelsys release samples/releases/zendara-6.0 --options" ;;
            "FOLDER "*) setup=(cell1) command="kelsys list pool" ;;
            "--- pool/Cell1") setup=(cell1 cell2) command="kelsys diff pool/Cell1 pool/Cell2" ;;
            *) echo "docs/cli.md:$((start + 1)): no command known for a block that starts \"${block[0]}\""; failed=1; continue ;;
        esac
    fi
    dir=$work/$start
    mkdir -p "$dir/pool"
    ln -s "$root/samples" "$dir/samples"
    (cd "$dir" && for make in "${setup[@]}"; do "$make"; done) ||
        { echo "docs/cli.md:$((start + 1)): the pool for this example could not be made"; failed=1; continue; }
    printed=$(cd "$dir" && eval "$command" 2>&1) || true
    want=("${block[@]:first}")
    got=()
    [[ -z $printed ]] || mapfile -t got <<<"$printed"
    compare $((start + first + 1)) "$command" || { echo "what it printed:"; echo "$printed"; echo; failed=1; }
done
((blocks > 0)) || { echo "no indented example found in $doc"; exit 1; }
echo "$blocks examples of docs/cli.md checked"
exit $failed

#!/usr/bin/env bash
# Runs the documented COM client under Wine as a user does: regsvr32 first,
# then twice on one system: the first run creates it, the second is refused
# the create (its trace says why) and opens it. Both must describe the system
# and print S_OK; a release that is not there gives its status and exit code 1.
# Usage: windows_client.sh <wine-run> <KelInstallSystem.dll> <example_windows_client.exe> <source dir>
set -euo pipefail
run=$1
cd "$(dirname "$2")"
dll=$(basename "$2")
client=$3
samples=$(cd "$4/samples" && pwd)
pool=$(mktemp -d)
# The build tree's prefix is left unregistered, as the registration test leaves it.
trap '"$run" regsvr32 /u /s "$dll" || true; rm -rf "$pool"' EXIT
windows() { echo "Z:$1" | tr / '\\'; }
key=$(grep -m1 '^KEL1:R:.*:10101011011010101001:' "$samples/keys.txt")
release=$(windows "$samples/releases/zendara-6.0")

# docs/api.md's snippet for the trace receiver is the client's own code.
api=$4/docs/api.md
snippet=$(awk '/^```cpp/ { inside = 1; next } /^```/ { if (inside) exit } inside' "$api")
grep -q GetProcAddress <<<"$snippet" || { echo "docs/api.md: the first C++ block is not the trace receiver's"; exit 1; }
while IFS= read -r line; do
    sed 's/^ *//' "$4/docs/examples/windows_client.cpp" | grep -qxF "$(sed 's/^ *//' <<<"$line")" ||
        { echo "docs/api.md: not in windows_client.cpp: $line"; exit 1; }
done <<<"$snippet"

"$run" regsvr32 /s "$dll" || { echo "regsvr32 failed"; exit 1; }
for step in create open; do
    out=$("$run" "$client" "$(windows "$pool/Cell1")" "$release" "$key" 2>"$pool/trace" | tr -d '\r') || {
        echo "$step: failed"; echo "$out"; cat "$pool/trace"; exit 1; }
    for piece in '<SystemName>Cell1</SystemName>' "<Key>$key</Key>"; do
        grep -qF "$piece" <<<"$out" || { echo "$step: no $piece in"; echo "$out"; exit 1; }
    done
    [ "$(tail -n1 <<<"$out")" = 0x00000000 ] || { echo "$step: not S_OK"; echo "$out"; exit 1; }
    [ -f "$pool/Cell1/system.xml" ] || { echo "$step: no system.xml in the pool"; exit 1; }
done
grep -q 'already exists' "$pool/trace" || { echo "no trace of the refused create"; cat "$pool/trace"; exit 1; }

code=0
out=$("$run" "$client" "$(windows "$pool/Cell2")" "$(windows "$pool/none")" "$key" 2>"$pool/trace" | tr -d '\r') || code=$?
[ "$code" = 1 ] && [ "$out" = 0xC004051E ] || { echo "missing release: exit $code, printed: $out"; exit 1; }
grep -q 'none does not exist' "$pool/trace" || { echo "no trace of the missing release"; cat "$pool/trace"; exit 1; }
[ ! -e "$pool/Cell2" ] || { echo "a refused create left Cell2 behind"; exit 1; }

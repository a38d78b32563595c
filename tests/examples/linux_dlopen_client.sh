#!/usr/bin/env bash
# Runs the documented dlopen client twice on one system: the first run creates
# it, the second finds it there and opens it. Both must describe the system.
# Usage: linux_dlopen_client.sh <client> <libKelInstallSystem.so> <source dir>
set -euo pipefail
client=$1
library=$2
samples=$3/samples
pool=$(mktemp -d)
trap 'rm -rf "$pool"' EXIT
key=$(grep -m1 '^KEL1:R:.*:10101011011010101001:' "$samples/keys.txt")
for run in create open; do
    out=$("$client" "$library" "$pool/Cell1" "$samples/releases/zendara-6.0" "$key" 2>"$pool/trace") || {
        echo "$run: failed"; cat "$pool/trace"; exit 1; }
    grep -q '<SystemName>Cell1</SystemName>' <<<"$out" || { echo "$run: no description"; echo "$out"; exit 1; }
done
# The second create was refused with a trace, which the client's receiver printed.
grep -q 'already exists' "$pool/trace" || { echo "no trace of the refused create"; exit 1; }

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
# The first run is docs/api.md's command, but for where the build and the pool are.
documented=$(awk '/^    build\/linux\/example_linux_dlopen_client/ { on = 1 } on { print } on && !/\\$/ { exit }' "$3/docs/api.md")
[ -n "$documented" ] || { echo "docs/api.md shows no dlopen command"; exit 1; }
documented=${documented//build\/linux\/example_linux_dlopen_client/\"\$client\"}
documented=${documented//build\/linux\/libKelInstallSystem.so/\"\$library\"}
documented=${documented//\/tmp\/pool/\$pool}
key=$(grep -m1 '^KEL1:R:.*:10101011011010101001:' "$samples/keys.txt")
cd "$3"
for run in create open; do
    if [ $run = create ]; then
        out=$(eval "$documented" 2>"$pool/trace") || { echo "$run: failed: $documented"; cat "$pool/trace"; exit 1; }
    else
        out=$("$client" "$library" "$pool/Cell1" "$samples/releases/zendara-6.0" "$key" 2>"$pool/trace") || {
            echo "$run: failed"; cat "$pool/trace"; exit 1; }
    fi
    grep -q '<SystemName>Cell1</SystemName>' <<<"$out" || { echo "$run: no description"; echo "$out"; exit 1; }
done
# The second create was refused with a trace, which the client's receiver printed.
grep -q 'already exists' "$pool/trace" || { echo "no trace of the refused create"; exit 1; }

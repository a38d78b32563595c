#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the consumer project against
# it, and creates a system with it; the installed kelsys then reads that system.
# Usage: run.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2
prefix=$build/install-test
rm -rf "$prefix" "$build/consumer-build"
cmake --install "$build" --prefix "$prefix" > /dev/null
cmake -S "$source/tests/consumer" -B "$build/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$build/consumer-build" > /dev/null
pool=$(mktemp -d)
trap 'rm -rf "$pool"' EXIT
key=$(grep -m1 '^KEL1:R:.*:10101011011010101001:' "$source/samples/keys.txt")
"$build/consumer-build/consumer" "$pool" "$source/samples/releases/zendara-6.0" "$key"
"$prefix/bin/kelsys" verify "$pool/Cell"

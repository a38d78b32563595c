#!/usr/bin/env bash
# Registers KelInstallSystem.dll twice with regsvr32 in the build tree's Wine
# prefix, checks it through a COM client, unregisters twice.
# Usage: com_registration_test.sh <wine-run> <KelInstallSystem.dll> <com_client_win32.exe>
set -euo pipefail
run=$1
cd "$(dirname "$2")"
dll=$(basename "$2")
client=$3

"$run" regsvr32 /s "$dll" || { echo "regsvr32 failed"; exit 1; }
"$run" regsvr32 /s "$dll" || { echo "second regsvr32 failed"; exit 1; }
"$run" "$client" registered

"$run" regsvr32 /u /s "$dll" || { echo "regsvr32 /u failed"; exit 1; }
"$run" "$client" unregistered
"$run" regsvr32 /u /s "$dll" || { echo "unregistering twice failed"; exit 1; }

#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the consumer project and the
# README's example against it, runs both (each creates a system), and the
# installed kelsys reads one.
# Usage: run.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2
prefix=$build/install-test
rm -rf "$prefix" "$build/consumer-build"
cmake --install "$build" --prefix "$prefix" > /dev/null
pool=$(mktemp -d)
trap 'rm -rf "$pool"' EXIT
# The README's example as written, but for where the checkout and the pool are.
example=$build/readme_example.cpp
windows() { printf 'Z:%s' "$1" | sed 's|/|\\\\|g'; }  # as a C++ string literal writes it
export KEL_FROM_POOL='Z:\\tmp\\pool' KEL_TO_POOL="$(windows "$pool")"
export KEL_FROM_SOURCE='Z:\\src\\KelInstallSystem' KEL_TO_SOURCE="$(windows "$source")"
{
    echo '#include "KelInstallSystem.h"'
    echo 'int main() {'
    awk 'function swap(s, from, to,   i) {
             while ((i = index(s, from)) > 0) s = substr(s, 1, i - 1) to substr(s, i + length(from))
             return s
         }
         /^```cpp/ { inside = 1; next }
         /^```/ { inside = 0 }
         inside { print swap(swap($0, ENVIRON["KEL_FROM_POOL"], ENVIRON["KEL_TO_POOL"]),
                             ENVIRON["KEL_FROM_SOURCE"], ENVIRON["KEL_TO_SOURCE"]) }' "$source/README.md"
    echo '    return hr == S_OK ? 0 : 1;'
    echo '}'
} > "$example"
# docs/api.md's CMake lines are the consumer project's own, and its
# declarations of the string utilities link and work as it says.
api=$source/docs/api.md
awk '/^```cmake/ { inside = 1; next } /^```/ { inside = 0 } inside' "$api" | while IFS= read -r line; do
    grep -qxF "$line" "$source/tests/consumer/CMakeLists.txt" || { echo "docs/api.md: not in the consumer: $line"; exit 1; }
done
strings=$build/strings_example.cpp
{
    echo '#include <cstring>'
    awk '/^```cpp/ { inside = 1; block = ""; next }
         /^```/ { if (inside && block ~ /os_toupper/) printf "%s", block; inside = 0; next }
         inside { block = block $0 "\n" }' "$api"
    cat <<'MAIN'
int main() {
    char text[] = ",a,b";
    char* save = nullptr;
    const char* first = os_strtok_r(text, ",", &save);
    return os_toupper('a') == 'A' && os_tolower(0xC4) == 0xE4 && os_stricmp("ABC", "abc") == 0 &&
                   os_strnicmp("ABx", "aby", 2) == 0 && os_validate_identifier("Cell_1") == 0 &&
                   os_validate_identifier("1x") == -1 && first && std::strcmp(first, "a") == 0
               ? 0
               : 1;
}
MAIN
} > "$strings"
cmake -S "$source/tests/consumer" -B "$build/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DKEL_README_EXAMPLE="$example" -DKEL_STRINGS_EXAMPLE="$strings" > /dev/null
cmake --build "$build/consumer-build" > /dev/null
"$build/consumer-build/readme_example"
"$build/consumer-build/strings_example" || { echo "the string utilities do not work as docs/api.md says"; exit 1; }
rm -rf "$pool/Cell1"
key=$(grep -m1 '^KEL1:R:.*:10101011011010101001:' "$source/samples/keys.txt")
"$build/consumer-build/consumer" "$pool" "$source/samples/releases/zendara-6.0" "$key"
"$prefix/bin/kelsys" verify "$pool/Cell"

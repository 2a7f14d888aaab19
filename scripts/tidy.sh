#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over every source file of the program that the
# default build compiles. Needs the build's compile_commands.json (cmake --preset default).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/compile_commands.json ] || { echo "Configure with cmake --preset default first." >&2; exit 1; }
files=$(sed -n 's/^ *"file": "\(.*\)",*$/\1/p' build/compile_commands.json |
    grep '/src/' | grep -v autogen | sort -u)
echo "$files" | xargs -P "$(nproc)" -n 1 clang-tidy -p build --quiet 2>/dev/null
echo "clang-tidy: no findings."

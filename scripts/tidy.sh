#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over every source file of the program that the
# default build compiles. Needs the build's compile_commands.json (cmake --preset default).
cd "$(dirname "$0")/.."
source scripts/common.sh
[ -f build/compile_commands.json ] || fail "no build/compile_commands.json: configure with cmake --preset default first"
files=$(sed -n 's/^ *"file": "\(.*\)",*$/\1/p' build/compile_commands.json |
    grep '/src/' | grep -v autogen | sort -u)
echo "$files" | xargs -P "$(nproc)" -n 1 clang-tidy -p build --quiet 2>/dev/null
echo "clang-tidy: no findings."

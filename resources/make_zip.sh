#!/usr/bin/env bash
# Packs zelvar.exe for Windows users: the program, a readme written for
# them (resources/README-windows.txt) and the licence, both as text files
# with Windows line breaks, in one zip.
# usage: make_zip.sh ZELVAR_EXE OUT_DIR
set -eu
exe=$1 out=$2
version=$(sed -n 's/^project(zelvar VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/zelvar-$version
mkdir -p "$folder"
cp "$exe" "$folder/zelvar.exe"
sed 's/\r$//; s/$/\r/' resources/README-windows.txt >"$folder/README.txt"
sed 's/\r$//; s/$/\r/' LICENSE >"$folder/LICENSE.txt"
zip=$(cd "$out" && pwd)/zelvar-$version-windows.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "zelvar-$version")
echo "$zip"

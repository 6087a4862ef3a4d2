#!/usr/bin/env bash
# The install rules put the program and its manual page under the prefix,
# and the page names the project's version.
# usage: install_test.sh BUILD_DIR VERSION
set -eu
build=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/zelvar" ] || { echo "no bin/zelvar"; exit 1; }
page=$prefix/share/man/man1/zelvar.1
[ -f "$page" ] || { echo "no share/man/man1/zelvar.1"; exit 1; }
head -n 1 "$page" | grep -q "\"Zelvar $version\"" ||
  { echo "the manual page does not name version $version"; exit 1; }
[ "$("$prefix/bin/zelvar" --version)" = "zelvar $version" ] ||
  { echo "the installed program is not version $version"; exit 1; }
echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"

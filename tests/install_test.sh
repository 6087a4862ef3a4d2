#!/usr/bin/env bash
# The install rules put the program, its compressed manual page, the README
# and the licence under the prefix, and the page names the project's
# version.
# usage: install_test.sh BUILD_DIR VERSION
set -eu
build=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
listing=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
expected="./bin/zelvar ./share/doc/zelvar/LICENSE ./share/doc/zelvar/README.md ./share/man/man1/zelvar.1.gz "
[ "$listing" = "$expected" ] || { echo "installed: $listing"; exit 1; }
gzip -dc "$prefix/share/man/man1/zelvar.1.gz" | head -n 1 |
  grep -q "\"Zelvar $version\"" ||
  { echo "the manual page does not name version $version"; exit 1; }
[ "$("$prefix/bin/zelvar" --version | head -n 1)" = "zelvar $version" ] ||
  { echo "the installed program is not version $version"; exit 1; }
echo "installed: $listing"

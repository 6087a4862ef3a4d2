#!/usr/bin/env bash
# Repairs a copy of the bundled messy sample with the program given as the
# first argument, shows the file before and after with its invisible bytes
# made visible (<BOM> for a byte-order mark, <CR> and <LF> for the line
# breaks), and ends with one line that sums it up.
set -euo pipefail
program=${1:?usage: demo.sh PROGRAM}
here=$(cd "$(dirname "$0")" && pwd)
work=demo
rm -rf "$work" && mkdir -p "$work"
cp "$here/messy.srt" "$work/movie.srt"

show() {
  sed -e '1s/^\xEF\xBB\xBF/<BOM>/' -e 's/\r$/<CR>/' -e 's/$/<LF>/' "$1" |
    sed 's/^/    /'
}

before=$(wc -c <"$work/movie.srt")
echo "== $work/movie.srt before ($before bytes)"
show "$work/movie.srt"
status=0
"$program" "$work/movie.srt" || status=$?
after=$(wc -c <"$work/movie.srt")
echo "== zelvar $work/movie.srt: exit code $status"
echo "== $work/movie.srt after ($after bytes)"
show "$work/movie.srt"
entries=$(grep -c -- ' --> ' "$work/movie.srt" || true)
if cmp -s "$here/messy.srt" "$work/movie.old"; then
  echo "== $entries entries renumbered, $before bytes before, $after after;" \
    "$work/movie.old is identical to the file as it was"
else
  echo "== $work/movie.old differs from the file as it was" >&2
  exit 1
fi
exit "$status"

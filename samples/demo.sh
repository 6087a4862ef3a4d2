#!/usr/bin/env bash
# Repairs a copy of the bundled messy sample with the program given as the
# first argument, then shows the file before and after, line breaks made
# visible, and where the backup went.
set -euo pipefail
program=${1:?usage: demo.sh PROGRAM}
here=$(cd "$(dirname "$0")" && pwd)
work=demo
rm -rf "$work" && mkdir -p "$work"
cp "$here/messy.srt" "$work/movie.srt"

show() { sed -e 's/\r$/<CR>/' -e 's/$/<LF>/' "$1" | sed 's/^/    /'; }

echo "== $work/movie.srt before ($(wc -c < "$work/movie.srt") bytes)"
show "$work/movie.srt"
status=0
"$program" "$work/movie.srt" || status=$?
echo "== zelvar $work/movie.srt: exit code $status"
echo "== $work/movie.srt after ($(wc -c < "$work/movie.srt") bytes)"
show "$work/movie.srt"
if cmp -s "$here/messy.srt" "$work/movie.old"; then
  echo "== backup: $work/movie.old, identical to the file as it was"
else
  echo "== backup: $work/movie.old differs from the file as it was" >&2
  exit 1
fi
exit "$status"
